// The MQTT family against Debian's mosquitto broker, with mosquitto_pub and mosquitto_sub as the
// other clients: reads, JSON fields, writes, passwords, TLS, a broker that goes and comes back,
// the server's /MQ route, and two panel servers sharing a controller's values through a broker.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "base/strings.h"
#include "gateways/mqtt/mqtt_gateway.h"
#include "gateways/mqtt/site_publisher.h"
#include "model/catalogue.h"
#include "model/project_file.h"
#include "mqtt_broker_support.h"
#include "serve_support.h"
#include "served_program.h"
#include "unity_sim.h"

namespace tsr {
namespace {

using namespace std::chrono_literals;
using test::MqttBroker;

// Asks `read` until it gives `expected` or `limit` has passed; returns the last answer.
std::string ReadUntil(const std::function<std::string()>& read, const std::string& expected,
                      std::chrono::milliseconds limit = 5000ms) {
    const auto end = std::chrono::steady_clock::now() + limit;
    std::string text = read();
    while (text != expected && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(50ms);
        text = read();
    }
    return text;
}

GatewaySettings Settings(const MqttBroker& broker, std::vector<std::string> topics = {}) {
    GatewaySettings s;
    s.id = "mq1";
    s.url = broker.url();
    s.topics = std::move(topics);
    return s;
}

class MqttFamilyTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(broker.Start()) << broker.error(); }
    MqttBroker broker;
    RecordingLogSink log;
    MqttFamily family{log};
};

TEST_F(MqttFamilyTest, ReadsRetainedNewAndJsonValuesAndWrites) {
    ASSERT_TRUE(broker.Publish("plant/temp", "21.5", true));
    ASSERT_TRUE(broker.Publish("tele/plug/SENSOR",
                               R"({"ENERGY":{"Power":42,"Unit":"W"},"On":true})", true));
    ASSERT_EQ(family.Connect(Settings(broker, {"plant/temp"})), 0) << family.ConnectFailure();
    EXPECT_TRUE(family.IsConnected());
    // A linked topic's retained value is there at the first read, and one asked for the first
    // time by a page arrives within that read.
    EXPECT_EQ(family.ReadItem("mq1/plant/temp"), "21.5");
    EXPECT_EQ(family.ReadItem("mq1/tele/plug/SENSOR|ENERGY.Power"), "42");
    EXPECT_EQ(family.ReadItem("mq1/tele/plug/SENSOR|On"), "1");
    // A new publish is shown at the next read.
    ASSERT_TRUE(broker.Publish("plant/temp", "22"));
    EXPECT_EQ(ReadUntil([&] { return family.ReadItem("mq1/plant/temp"); }, "22"), "22");

    ASSERT_TRUE(broker.Publish("plant/text", "not json", true));
    ASSERT_TRUE(broker.Publish("plant/big", std::string(mqtt::kMaxPayload + 1, '7'), true));
    struct Case {
        const char* item;
        const char* why;
    } errors[] = {
        {"mq1/tele/plug/SENSOR|ENERGY.Missing", "a missing field"},
        {"mq1/plant/text|value", "a payload that is not JSON"},
        {"mq1/plant/nothing", "nothing arrived"},
        {"mq1/plant/+", "a wildcard"},
        {"mq1/plant/#", "a wildcard"},
        {"mq1/plant/big", "a payload over 64 KiB"},
        {"mq9/plant/temp", "no such gateway"},
    };
    for (const Case& c : errors) EXPECT_EQ(family.ReadItem(c.item), "[err]") << c.why;

    // A write is published with QoS 1 and seen by another client.
    MqttBroker::Subscriber seen(broker, "plant/setpoint", 1, 5);
    family.WriteItem("mq1/plant/setpoint=55");
    EXPECT_EQ(seen.Take(), "plant/setpoint 55\n");
    // Not retained unless the gateway says so: a later subscriber gets nothing.
    EXPECT_EQ(broker.Receive("plant/setpoint", 1, 1), "");
    GatewaySettings retained = Settings(broker);
    retained.retain = true;
    ASSERT_EQ(family.Connect(retained), 0);
    family.WriteItem("mq1/plant/setpoint=56");
    EXPECT_EQ(ReadUntil([&] { return broker.Receive("plant/setpoint", 1, 1); }, "plant/setpoint 56\n"),
              "plant/setpoint 56\n");
}

TEST_F(MqttFamilyTest, ABrokerThatStopsGivesErrorsThenValuesAgain) {
    ASSERT_TRUE(broker.Publish("line/speed", "12", true));
    ASSERT_EQ(family.Connect(Settings(broker, {"line/speed"})), 0) << family.ConnectFailure();
    EXPECT_EQ(family.ReadItem("mq1/line/speed"), "12");
    broker.Stop();
    EXPECT_EQ(ReadUntil([&] { return family.ReadItem("mq1/line/speed"); }, "[err]"), "[err]");
    EXPECT_FALSE(family.IsConnected());
    const std::string refused = "127.0.0.1:" + std::to_string(broker.port()) + ": connection refused";
    EXPECT_EQ(ReadUntil([&] {
                  family.Connect(Settings(broker, {"line/speed"}));
                  return family.ConnectFailure();
              }, refused),
              refused);
    // A write while the broker is away is dropped and logged, not queued.
    family.WriteItem("mq1/line/speed=5");
    ASSERT_FALSE(log.Lines().empty());
    EXPECT_EQ(log.Lines().back().text,
              "Write to MQTT topic line/speed not sent: not connected to broker 127.0.0.1:" +
                  std::to_string(broker.port()));
    ASSERT_TRUE(broker.Restart()) << broker.error();
    // The client reconnects by itself and subscribes again.
    EXPECT_TRUE(ReadUntil([&] { return family.IsConnected() ? "yes" : "no"; }, "yes", 15000ms) == "yes");
    ASSERT_TRUE(broker.Publish("line/speed", "13", true));
    EXPECT_EQ(ReadUntil([&] { return family.ReadItem("mq1/line/speed"); }, "13"), "13");
    EXPECT_EQ(broker.Receive("line/speed", 1, 2), "line/speed 13\n");  // the dropped write never came
}

TEST(MqttBrokerAccess, PasswordsAndTls) {
    {
        MqttBroker broker(MqttBroker::Kind::Password);
        ASSERT_TRUE(broker.Start()) << broker.error();
        NullLogSink log;
        MqttFamily family(log);
        GatewaySettings s = Settings(broker);
        s.username = MqttBroker::kUser;
        s.password = "wrong-password";
        EXPECT_EQ(family.Connect(s), -2);
        EXPECT_NE(family.ConnectFailure().find("not authorised"), std::string::npos)
            << family.ConnectFailure();
        s.password = MqttBroker::kPassword;
        EXPECT_EQ(family.Connect(s), 0) << family.ConnectFailure();
        ASSERT_TRUE(broker.Publish("a", "1", true));
        EXPECT_EQ(family.ReadItem("mq1/a"), "1");
    }
    MqttBroker broker(MqttBroker::Kind::Tls);
    ASSERT_TRUE(broker.Start()) << broker.error();
    ASSERT_TRUE(broker.Publish("secure/value", "7", true));
    NullLogSink log;
    {
        // The broker's certificate is not among the ones this system trusts.
        test::ScopedEnvironment none("SSL_CERT_FILE", "/nonexistent");
        test::ScopedEnvironment dir("SSL_CERT_DIR", "/nonexistent");
        MqttFamily family(log);
        EXPECT_EQ(family.Connect(Settings(broker)), -2);
        EXPECT_FALSE(family.ConnectFailure().empty());
    }
    test::ScopedEnvironment trusted("SSL_CERT_FILE", broker.certificate());
    MqttFamily family(log);
    ASSERT_EQ(family.Connect(Settings(broker)), 0) << family.ConnectFailure();
    EXPECT_EQ(family.ReadItem("mq1/secure/value"), "7");
}

// Through the lifecycle and the server's /MQ route, as a generated page asks.
class MqttServedTest : public ::testing::Test, protected test::ServedProgram {
  protected:
    void SetUp() override {
        ASSERT_TRUE(broker.Start()) << broker.error();
        ASSERT_EQ(started, 0);
        ProjectDocument& doc = project.document();
        pugi::xml_node gateway = Add("mqttgateway");
        doc.SetProperty(gateway, "url", broker.url());
        pugi::xml_node page, knob, link;
        doc.CreateObject(kTypePage, doc.ProjectElement(), &page);
        doc.CreateObject(kTypeKnob, page, &knob);
        doc.CreateObject(kTypeMqttLink, knob, &link);
        doc.SetProperty(link, "variable", "tele/meter|ENERGY.Power");
    }
    std::string Line(int id) const {
        std::string text = LoadString(id);
        return text.replace(text.find("%s"), 2, "127.0.0.1:" + std::to_string(broker.port()));
    }
    MqttBroker broker;
};

TEST_F(MqttServedTest, PagesReadAndWriteTopicsThroughTheRoute) {
    ASSERT_TRUE(broker.Publish("tele/meter", R"({"ENERGY":{"Power":640}})", true));
    ASSERT_TRUE(generator.generateApplication());
    EXPECT_EQ(LastMessage(), Line(kMsgMqttConnected));
    EXPECT_EQ(Post("/MQmq1/tele/meter|ENERGY.Power;mq1/tele/meter|ENERGY.Gone"), "640;[err]");
    MqttBroker::Subscriber seen(broker, "plant/mode", 1, 5);
    EXPECT_EQ(Post("/mqmq1/plant/mode=auto;mq1/tele/meter|ENERGY.Power"), "640");
    EXPECT_EQ(seen.Take(), "plant/mode auto\n");
    // The topic a browser sent with its own escapes is the topic the broker has.
    ASSERT_TRUE(broker.Publish("hall temp", "19", true));
    EXPECT_EQ(Post("/MQmq1/hall%20temp"), "19");
    EXPECT_EQ(Post("/MQmq1/tele/meter%7CENERGY.Power"), "640");  // Chromium escapes the bar

    broker.Stop();
    // The retry tick logs the state the client is in: lost, then refused at its next attempt.
    const std::string refused = Line(kMsgMqttCannotConnect) + " (127.0.0.1:" +
                                std::to_string(broker.port()) + ": connection refused)";
    EXPECT_EQ(ReadUntil([&] {
                  gateways.RetryGateways(project.document());
                  return LastMessage();
              }, refused),
              refused);
    EXPECT_EQ(Post("/MQmq1/tele/meter|ENERGY.Power"), "[err]");
}

// Two panel servers: the first reads a Unity controller and publishes what it reads; the second
// shows those values through MQTT links, without a connection to the controller.
TEST(MqttSitePublishing, ASecondServerShowsTheFirstServersValues) {
    MqttBroker broker;
    ASSERT_TRUE(broker.Start()) << broker.error();
    sims::UnitySim plc;
    ASSERT_TRUE(plc.Start());
    plc.SetMemoryWord(10, 1234);
    test::ScratchDir dir;
    const std::string first = dir / "controller.tsr", second = dir / "through_broker.tsr";
    {
        Project project;
        ASSERT_EQ(project.Start(dir.path()), 0);
        ProjectDocument& doc = project.document();
        pugi::xml_node gateway;
        doc.CreateObject(kTypeUnityGateway, doc.ProjectElement(), &gateway);
        doc.SetProperty(gateway, "ip", "127.0.0.1:" + std::to_string(plc.port()));
        ASSERT_TRUE(project.Save(first));
    }
    {
        Project project;
        ASSERT_EQ(project.Start(dir.path()), 0);
        ProjectDocument& doc = project.document();
        pugi::xml_node gateway;
        doc.CreateObject(kTypeMqttGateway, doc.ProjectElement(), &gateway);
        doc.SetProperty(gateway, "url", broker.url());
        ASSERT_TRUE(project.Save(second));
    }
    test::ServeProcess reader(first, {"--publish", broker.url() + "/site1"});
    ASSERT_NE(reader.port(), 0) << reader.log();
    EXPECT_NE(reader.log().find("Connected to MQTT broker 127.0.0.1:" + std::to_string(broker.port())),
              std::string::npos) << reader.log();
    test::ServeProcess viewer(second);
    ASSERT_NE(viewer.port(), 0) << viewer.log();
    auto post = [](const test::ServeProcess& serve, const std::string& path) {
        return test::AnswerBody(test::HttpExchange(serve.port(), "POST " + path + " HTTP/1.0\r\n\r\n"));
    };
    MqttBroker::Subscriber published(broker, "site1/#", 1, 5);
    EXPECT_EQ(post(reader, "/UNI%MW10"), "1234");
    EXPECT_EQ(published.Take(), "site1/uni/%MW10 1234\n");
    EXPECT_EQ(post(viewer, "/MQmq1/site1/uni/%MW10"), "1234");
    // Nothing published to the broker reaches the controller.
    ASSERT_TRUE(broker.Publish("site1/uni/%MW10", "5"));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(plc.MemoryWord(10), 1234);
    plc.SetMemoryWord(10, 99);
    EXPECT_EQ(ReadUntil([&] { return post(reader, "/UNI%MW10"); }, "99"), "99");
    // The second server never asks the controller: it shows the new value with the controller
    // gone.
    plc.Stop();
    EXPECT_EQ(ReadUntil([&] { return post(viewer, "/MQmq1/site1/uni/%MW10"); }, "99"), "99");
    EXPECT_EQ(reader.Stop(), 0);
    EXPECT_EQ(viewer.Stop(), 0);
}

}  // namespace
}  // namespace tsr
