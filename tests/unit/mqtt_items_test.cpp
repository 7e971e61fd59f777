#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "designer/server_access.h"
#include "gateways/mqtt/items.h"
#include "platform/profile.h"
#include "test_support.h"

namespace tsr::mqtt {
namespace {

TEST(MqttItems, ReadItemsSplitIntoGatewayTopicAndField) {
    struct Case {
        const char* item;
        bool valid;
        const char* gateway;
        const char* topic;
        std::vector<std::string> field;
    } cases[] = {
        {"mq1/tessora/demo", true, "mq1", "tessora/demo", {}},
        {"mq1/tele/plug/SENSOR|ENERGY.Power", true, "mq1", "tele/plug/SENSOR", {"ENERGY", "Power"}},
        {"mq2/a|values.0", true, "mq2", "a", {"values", "0"}},
        {"mq1//leading/slash", true, "mq1", "/leading/slash", {}},
        {"mq1/site1/mb/mb1%2Fhr0", true, "mq1", "site1/mb/mb1%2Fhr0", {}},
        {"plain", true, "", "plain", {}},
        {"mq1/", false},
        {"mq1/a/+/b", false},
        {"mq1/a/#", false},
        {"mq1/a|", false},
        {"mq1/a|x..y", false},
        {"mq1/|x", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.item);
        const std::optional<ReadItem> read = ParseReadItem(c.item);
        ASSERT_EQ(read.has_value(), c.valid);
        if (!read) continue;
        EXPECT_EQ(read->gateway, c.gateway);
        EXPECT_EQ(read->topic, c.topic);
        EXPECT_EQ(read->field, c.field);
    }
    EXPECT_FALSE(ParseReadItem(std::string("mq1/a\0b", 7)));
    EXPECT_FALSE(ParseReadItem("mq1/" + std::string(kMaxTopic + 1, 'a')));
    EXPECT_TRUE(ParseReadItem("mq1/" + std::string(kMaxTopic, 'a')));
}

TEST(MqttItems, WriteItemsSplitAtTheFirstEquals) {
    const std::optional<WriteItem> w = ParseWriteItem("mq1/plant/setpoint=a=b");
    ASSERT_TRUE(w);
    EXPECT_EQ(w->gateway, "mq1");
    EXPECT_EQ(w->topic, "plant/setpoint");
    EXPECT_EQ(w->value, "a=b");
    const std::optional<WriteItem> empty = ParseWriteItem("mq1/t=");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->value, "");
    for (const char* bad : {"mq1/t", "mq1/=5", "mq1/a/#=1", "mq1/+=1"})
        EXPECT_FALSE(ParseWriteItem(bad)) << bad;
}

TEST(MqttItems, PayloadTextOfTheWholePayloadOrOneJsonField) {
    const std::string json =
        R"({"ENERGY":{"Power":42,"Today":1.25,"Unit":"kWh","On":true,"Off":false,"None":null},)"
        R"("values":[3,4.5],"list":"a;b","deep":{"x":{"y":"z"}}})";
    struct Case {
        std::string payload;
        std::vector<std::string> path;
        std::optional<std::string> text;
    } cases[] = {
        {"21.5", {}, "21.5"},
        {"a;b\nc", {}, "a,b c"},
        {"", {}, ""},
        {json, {"ENERGY", "Power"}, "42"},
        {json, {"ENERGY", "Today"}, "1.25"},
        {json, {"ENERGY", "Unit"}, "kWh"},
        {json, {"ENERGY", "On"}, "1"},
        {json, {"ENERGY", "Off"}, "0"},
        {json, {"ENERGY", "None"}, std::nullopt},
        {json, {"ENERGY"}, std::nullopt},
        {json, {"ENERGY", "Missing"}, std::nullopt},
        {json, {"values", "1"}, "4.5"},
        {json, {"values", "2"}, std::nullopt},
        {json, {"values", "-1"}, std::nullopt},
        {json, {"values", "x"}, std::nullopt},
        {json, {"list"}, "a,b"},
        {json, {"deep", "x", "y"}, "z"},
        {json, {"deep", "x", "y", "w"}, std::nullopt},
        {"not json", {"a"}, std::nullopt},
        {"{\"a\":1", {"a"}, std::nullopt},
        {"7", {"a"}, std::nullopt},
        {std::string(200, '[') + std::string(200, ']'), {"0"}, std::nullopt},
        {"{\"a\":\"\\u00e9t\\u00e9\"}", {"a"}, "\xc3\xa9t\xc3\xa9"},
        {"{\"a\":\"\xff\"}", {"a"}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.payload.substr(0, 40) + " " + (c.path.empty() ? "" : c.path.back()));
        EXPECT_EQ(PayloadText(c.payload, c.path), c.text);
    }
}

TEST(MqttItems, BrowserEscapesAreUndoneOthersKept) {
    struct Case {
        const char* sent;
        const char* item;
    } cases[] = {
        {"mq1/hall%20temp", "mq1/hall temp"},
        {"mq1/caf%C3%A9", "mq1/caf\xc3\xa9"},
        {"mq1/%7Bx%7D", "mq1/{x}"},
        {"mq1/meter%7CENERGY.Power", "mq1/meter|ENERGY.Power"},
        {"mq1/a%5Eb", "mq1/a^b"},
        {"mq1/site1/uni/%MW10", "mq1/site1/uni/%MW10"},
        {"mq1/site1/mb/mb1%2Fhr0", "mq1/site1/mb/mb1%2Fhr0"},
        {"mq1/100%25", "mq1/100%25"},
        {"mq1/end%2", "mq1/end%2"},
        {"mq1/end%", "mq1/end%"},
    };
    for (const Case& c : cases) EXPECT_EQ(UndoBrowserEscapes(c.sent), c.item) << c.sent;
}

TEST(MqttItems, BrokerUrls) {
    struct Case {
        const char* url;
        bool valid;
        bool tls;
        const char* host;
        int port;
        const char* prefix;
    } cases[] = {
        {"mqtt://127.0.0.1:1883", true, false, "127.0.0.1", 1883, ""},
        {"mqtt://broker", true, false, "broker", 1883, ""},
        {"mqtts://broker.example", true, true, "broker.example", 8883, ""},
        {"mqtts://b:8884/site1", true, true, "b", 8884, "site1"},
        {"mqtt://[::1]:1884/a/b", true, false, "::1", 1884, "a/b"},
        {"mqtt://[::1]", true, false, "::1", 1883, ""},
        {"http://broker:1883", false},
        {"mqtt://", false},
        {"mqtt://:1883", false},
        {"mqtt://b:0", false},
        {"mqtt://b:65536", false},
        {"mqtt://b:12x", false},
        {"mqtt://b:", false},
        {"mqtt://b/", false},
        {"mqtt://b/a/", false},
        {"mqtt://b/a/#", false},
        {"mqtt://user@b", false},
        {"mqtt://[::1", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        const std::optional<BrokerUrl> url = ParseBrokerUrl(c.url);
        ASSERT_EQ(url.has_value(), c.valid);
        if (!url) continue;
        EXPECT_EQ(url->tls, c.tls);
        EXPECT_EQ(url->host, c.host);
        EXPECT_EQ(url->port, c.port);
        EXPECT_EQ(url->prefix, c.prefix);
    }
    EXPECT_EQ(EndpointText(*ParseBrokerUrl("mqtt://[::1]:1884")), "[::1]:1884");
    EXPECT_EQ(EndpointText(*ParseBrokerUrl("mqtt://h")), "h:1883");
}

TEST(MqttItems, PublishedTopicsKeepEachItemOneLevel) {
    EXPECT_EQ(PublishedTopic("site1", "uni", "%MW10"), "site1/uni/%MW10");
    EXPECT_EQ(PublishedTopic("site1", "mb", "mb1/hr0"), "site1/mb/mb1%2Fhr0");
    EXPECT_EQ(PublishedTopic("a/b", "kx", "x+y#z"), "a/b/kx/x%2By%23z");
    // What a second server reads back is the topic published.
    const std::optional<ReadItem> read = ParseReadItem("mq1/" + PublishedTopic("s", "mb", "mb1/hr0"));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->topic, "s/mb/mb1%2Fhr0");
    EXPECT_EQ(GeneratedClientId(0xabcdef), "tessora-000000abcdef");
}

// The designer publishes to the broker its profile names; a wrong address is said, not used.
TEST(MqttPublishSetting, TheDesignerReadsItFromTheProfile) {
    tsr::test::ScratchDir dir;
    tsr::Profile profile(dir / "profile.ini");
    std::string error;
    EXPECT_EQ(tsr::designer::LoadPublishUrl(profile, &error), "");
    EXPECT_EQ(error, "");
    ASSERT_TRUE(profile.SetString("Tessora", "webpublish", "mqtt://10.0.0.9:1883/site1"));
    EXPECT_EQ(tsr::designer::LoadPublishUrl(profile, &error), "mqtt://10.0.0.9:1883/site1");
    EXPECT_EQ(error, "");
    ASSERT_TRUE(profile.SetString("Tessora", "webpublish", "mqtt://10.0.0.9:1883"));
    EXPECT_EQ(tsr::designer::LoadPublishUrl(profile, &error), "");
    EXPECT_EQ(error, "The setting webpublish in " + profile.path() +
                         " is not a broker address with a topic prefix (mqtt://host:port/prefix): "
                         "mqtt://10.0.0.9:1883; nothing is published");
}

}  // namespace
}  // namespace tsr::mqtt
