// The Simora family against the simulator stand-in, and through the web server's /SM route with
// the lifecycle walks.
#include "gateways/simora/simora_gateway.h"

#include <gtest/gtest.h>

#include "base/strings.h"
#include "gateways/lifecycle.h"
#include "generator/generator.h"
#include "simora_sim.h"
#include "socket_support.h"
#include "test_support.h"
#include "webserver/serving_hooks.h"

namespace tsr {
namespace {

class SimoraGatewayTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(sim.Start());
        SimoraOptions options;
        options.socketAnswer = std::chrono::milliseconds(200);
        family = MakeSimoraFamily(log, options);
    }

    test::ScratchDir scratch;
    test::ScopedEnvironment runtimeDir{"XDG_RUNTIME_DIR", scratch.path()};
    sims::SimoraSim sim;
    RecordingLogSink log;
    std::unique_ptr<ConnectedFamily> family;
};

TEST_F(SimoraGatewayTest, ValuesPrintAsPercentG) {
    ASSERT_EQ(family->Connect({}), 0);
    struct Case {
        const char* name;
        float value;
        const char* expected;
    } cases[] = {
        {"speed", 1.5f, "1.5"}, {"count", 100000.0f, "100000"},
        {"big", 1e7f, "1e+07"}, {"neg", -0.25f, "-0.25"},
        {"zero", 0.0f, "0"},    {"third", 1.0f / 3, "0.333333"},
    };
    for (const auto& c : cases) {
        sim.SetBehavior(c.name, c.value);
        EXPECT_EQ(family->ReadItem(c.name), c.expected) << c.name;
    }
    EXPECT_EQ(family->ReadItem("unknown"), "0");
}

TEST_F(SimoraGatewayTest, WritePassesTheWholeItem) {
    ASSERT_EQ(family->Connect({}), 0);
    family->WriteItem("speed=12.5");
    EXPECT_EQ(sim.Writes(), std::vector<std::string>{"speed=12.5"});
    EXPECT_EQ(sim.Behavior("speed"), 12.5f);
    EXPECT_EQ(family->ReadItem("speed"), "12.5");
}

TEST_F(SimoraGatewayTest, CheckAndUnknownSimulation) {
    EXPECT_FALSE(family->Disconnect());
    EXPECT_EQ(family->ReadItem("speed"), "");  // nothing known yet: no value, no request
    family->WriteItem("speed=1");
    EXPECT_EQ(sim.Requests(256) + sim.Requests(512), 0);
    sim.SetReady(false);
    EXPECT_EQ(family->Connect({}), -1);
    sim.SetReady(true);
    EXPECT_EQ(family->Connect({}), 0);
    EXPECT_TRUE(family->Disconnect());  // reports only: stays known
    EXPECT_EQ(family->ReadItem(std::string(256, 'x')), "");
    EXPECT_EQ(family->ReadItem(""), "");
    EXPECT_EQ(sim.Requests(256), 0);
}

TEST_F(SimoraGatewayTest, RestartedSimulationIsFoundAtTheNextTick) {
    sim.SetBehavior("speed", 2.5f);
    ASSERT_EQ(family->Connect({}), 0);
    EXPECT_EQ(family->ReadItem("speed"), "2.5");
    sim.Stop();
    EXPECT_EQ(family->ReadItem("speed"), "");  // not the earlier item's text
    EXPECT_EQ(family->ReadItem("speed"), "");
    EXPECT_EQ(family->Connect({}), -1);
    EXPECT_FALSE(family->Disconnect());
    sims::SimoraSim restarted;
    ASSERT_TRUE(restarted.Start());
    restarted.SetBehavior("speed", 4.0f);
    EXPECT_EQ(family->Connect({}), 0);
    EXPECT_EQ(family->ReadItem("speed"), "4");
}

TEST_F(SimoraGatewayTest, HungSimulationIsGivenUp) {
    ASSERT_EQ(family->Connect({}), 0);
    sim.SetSilent(true);
    EXPECT_EQ(family->ReadItem("speed"), "");
    EXPECT_FALSE(family->IsConnected());
    sim.SetSilent(false);
    EXPECT_EQ(family->Connect({}), 0);
}

// The program as serve has it: the lifecycle walks and the /SM route.
TEST_F(SimoraGatewayTest, ThroughTheServerAndTheLifecycle) {
    setenv("LC_ALL", "C", 1);
    Project project;
    ASSERT_EQ(project.Start(scratch.path()), 0);
    ProjectDocument& doc = project.document();
    doc.SetProperty(doc.ProjectElement(), "webserveron", "1");
    doc.SetProperty(doc.ProjectElement(), "webserverport", "0");
    pugi::xml_node n;
    doc.CreateObject(FindTypeByKey("smgateway"), doc.ProjectElement(), &n);
    RecordingLogSink serverLog;
    Gateways gateways{serverLog, project.workingDirectory()};
    WebServer server{serverLog, gateways.Routes()};
    ServingHooks hooks{
        server, [&] { gateways.StopGateways(doc); }, [&] { gateways.StartGateways(doc); }, {}};
    Generator generator{project, serverLog, hooks, scratch / "nolibs"};
    sim.SetBehavior("speed", 1.5f);
    ASSERT_TRUE(generator.generateApplication());
    const std::string answer =
        test::HttpExchange(server.ListeningPort(), "POST /SMspeed;speed=3;speed HTTP/1.0\r\n\r\n");
    EXPECT_NE(answer.find("Access-Control-Allow-Origin: *"), std::string::npos);
    EXPECT_EQ(test::AnswerBody(answer), "1.5;3");
    sim.Stop();
    gateways.RetryGateways(doc);
    ASSERT_TRUE(sim.Start());
    gateways.RetryGateways(doc);
    gateways.StopGateways(doc);
    std::vector<std::string> messages;
    for (const auto& l : serverLog.Lines())
        if (l.text.find("SIMORA") != std::string::npos) messages.push_back(l.text);
    const std::vector<std::string> expected = {LoadString(121), LoadString(120), LoadString(121),
                                               LoadString(122)};
    EXPECT_EQ(messages, expected);
}

}  // namespace
}  // namespace tsr
