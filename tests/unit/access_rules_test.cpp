// Client addresses, address blocks and rule lists: parsing, matching, the policy and the
// once-a-minute limit of the refusal log lines.
#include "webserver/access_rules.h"

#include <arpa/inet.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/log_sink.h"
#include "designer/server_access.h"
#include "platform/profile.h"
#include "test_support.h"
#include "webserver/request.h"
#include "webserver/server.h"

namespace tsr {
namespace {

IpAddress Ip(const std::string& text) {
    std::optional<IpAddress> a = ParseIpAddress(text);
    EXPECT_TRUE(a) << text;
    return a.value_or(IpAddress{});
}

TEST(IpAddressParse, AcceptsOnlyLiteralAddresses) {
    struct Case {
        const char* text;
        const char* shown;  // nullptr: refused
    };
    const Case cases[] = {
        {"192.168.1.20", "192.168.1.20"},
        {"0.0.0.0", "0.0.0.0"},
        {"255.255.255.255", "255.255.255.255"},
        {"::1", "::1"},
        {"FD00:0:0::12", "fd00::12"},
        {"::", "::"},
        {"::ffff:10.1.2.3", "10.1.2.3"},  // an IPv4-mapped address is the IPv4 address
        {"", nullptr},
        {"10.1", nullptr},
        {"10.1.2", nullptr},
        {"010.0.0.1", nullptr},
        {"1.2.3.256", nullptr},
        {"0x7f.0.0.1", nullptr},
        {"1.2.3.4.5", nullptr},
        {" 1.2.3.4", nullptr},
        {"1.2.3.4:80", nullptr},
        {"[::1]", nullptr},
        {"fe80::1%eth0", nullptr},
        {"1::2::3", nullptr},
        {"localhost", nullptr},
        {"1.2.3.4/24", nullptr},
        {"ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255x", nullptr},
    };
    for (const Case& c : cases) {
        std::optional<IpAddress> a = ParseIpAddress(c.text);
        if (!c.shown) {
            EXPECT_FALSE(a) << c.text;
            continue;
        }
        ASSERT_TRUE(a) << c.text;
        EXPECT_EQ(a->Text(), c.shown) << c.text;
    }
    EXPECT_FALSE(ParseIpAddress(std::string_view("1.2.3.4\0", 8)));
    EXPECT_EQ(IpAddress::FromIpv4(htonl(0x7f000002)).Text(), "127.0.0.2");
    EXPECT_TRUE(Ip("127.0.0.2").IsIpv4());
    EXPECT_FALSE(Ip("::1").IsIpv4());
}

TEST(RuleListParse, ReadsListsOfBlocks) {
    struct Case {
        const char* text;
        std::vector<std::string> rules;
    };
    const Case cases[] = {
        {"10.0.0.0/8", {"10.0.0.0/8"}},
        {"192.168.1.20", {"192.168.1.20"}},
        {"192.168.1.20/32", {"192.168.1.20"}},
        {"0.0.0.0/0", {"0.0.0.0/0"}},
        {" 10.0.0.0/8 ,\t172.16.0.0/12,192.168.0.0/16 ", {"10.0.0.0/8", "172.16.0.0/12", "192.168.0.0/16"}},
        {"fd00::/8", {"fd00::/8"}},
        {"::1", {"::1"}},
        {"::/0", {"::/0"}},
        {"2001:db8::/32,127.0.0.1", {"2001:db8::/32", "127.0.0.1"}},
        {"::ffff:10.0.0.0/104", {"10.0.0.0/8"}},  // the same block in IPv6 notation
    };
    for (const Case& c : cases) {
        RuleListResult r = ParseRuleList(c.text);
        ASSERT_TRUE(r) << c.text << ": " << r.error;
        std::vector<std::string> shown;
        for (const Cidr& rule : r.rules) shown.push_back(rule.Text());
        EXPECT_EQ(shown, c.rules) << c.text;
    }
}

TEST(RuleListParse, RefusesMalformedListsWithTheReason) {
    struct Case {
        const char* text;
        const char* reason;  // a part of the error text
    };
    const Case cases[] = {
        {"", "the list is empty"},
        {"  ", "the list is empty"},
        {"10.0.0.0/8,", "empty entry"},
        {",10.0.0.0/8", "empty entry"},
        {"10.0.0.0/8,,127.0.0.1", "empty entry"},
        {"10.0.0.0/33", "\"10.0.0.0/33\" has no prefix length from 0 to 32"},
        {"fd00::/129", "from 0 to 128"},
        {"10.0.0.0/", "no prefix length"},
        {"10.0.0.0/08", "no prefix length"},
        {"10.0.0.0/+8", "no prefix length"},
        {"10.0.0.0/-1", "no prefix length"},
        {"10.0.0.0/8/8", "no prefix length"},
        {"10.0.0.0 /8", "not an IPv4 or IPv6 address"},
        {"10.0.0/8", "\"10.0.0/8\" is not an IPv4 or IPv6 address"},
        {"localhost", "not an IPv4 or IPv6 address"},
        {"10.0.0.0;127.0.0.1", "not an IPv4 or IPv6 address"},
        {"fe80::1%eth0/64", "not an IPv4 or IPv6 address"},
        {"192.168.1.7/24", "past its prefix length (192.168.1.0/24 is the block"},
        {"fd00::1/8", "(fd00::/8 is the block"},
        {"127.0.0.1,10.0.0.1/0", "(0.0.0.0/0 is the block"},
    };
    for (const Case& c : cases) {
        RuleListResult r = ParseRuleList(c.text);
        EXPECT_FALSE(r) << c.text;
        EXPECT_TRUE(r.rules.empty()) << c.text;
        EXPECT_NE(r.error.find(c.reason), std::string::npos) << c.text << ": " << r.error;
    }
}

TEST(RuleMatch, BlocksHoldTheirAddressesOnly) {
    struct Case {
        const char* rule;
        const char* client;
        bool inside;
    };
    const Case cases[] = {
        {"10.0.0.0/8", "10.0.0.0", true},
        {"10.0.0.0/8", "10.255.255.255", true},
        {"10.0.0.0/8", "11.0.0.0", false},
        {"10.0.0.0/8", "9.255.255.255", false},
        {"192.168.1.0/25", "192.168.1.127", true},
        {"192.168.1.0/25", "192.168.1.128", false},
        {"192.168.1.128/25", "192.168.1.128", true},
        {"172.16.0.0/12", "172.31.255.1", true},
        {"172.16.0.0/12", "172.32.0.1", false},
        {"127.0.0.1", "127.0.0.1", true},
        {"127.0.0.1", "127.0.0.2", false},
        {"0.0.0.0/0", "203.0.113.9", true},
        {"0.0.0.0/0", "2001:db8::1", false},  // an IPv4 rule holds no IPv6 client
        {"10.0.0.0/8", "::ffff:10.1.2.3", true},  // an IPv4 client seen on an IPv6 socket
        {"::/0", "203.0.113.9", true},
        {"::/0", "2001:db8::1", true},
        {"fd00::/8", "fdff:ffff::1", true},
        {"fd00::/8", "fe00::1", false},
        {"2001:db8::/33", "2001:db8:7fff::1", true},
        {"2001:db8::/33", "2001:db8:8000::1", false},
        {"::1", "::1", true},
        {"::1", "127.0.0.1", false},
        {"2001:db8::1", "2001:db8::2", false},
    };
    for (const Case& c : cases) {
        RuleListResult r = ParseRuleList(c.rule);
        ASSERT_TRUE(r) << c.rule;
        EXPECT_EQ(r.rules.at(0).Contains(Ip(c.client)), c.inside) << c.rule << " " << c.client;
    }
}

TEST(AccessPolicyRules, ConnectAndWriteFollowTheirLists) {
    struct Case {
        const char* allow;       // "" = not set
        const char* writeAllow;  // "" = not set
        const char* client;
        bool mayConnect;
        bool mayWrite;
    };
    const Case cases[] = {
        {"", "", "203.0.113.9", true, true},  // no rule: as documented, everyone
        {"", "", "2001:db8::1", true, true},
        {"127.0.0.1", "", "127.0.0.1", true, true},
        {"127.0.0.1", "", "127.0.0.2", false, false},
        {"", "127.0.0.1", "127.0.0.2", true, false},
        {"", "127.0.0.1", "127.0.0.1", true, true},
        {"127.0.0.0/8", "127.0.0.1", "127.0.0.2", true, false},
        {"127.0.0.0/8", "127.0.0.0/8", "127.0.0.2", true, true},
        // Outside allow means no write either, whatever write-allow says.
        {"127.0.0.1", "127.0.0.0/8", "127.0.0.2", false, false},
        {"10.0.0.0/8,fd00::/8", "fd00::5", "fd00::5", true, true},
        {"10.0.0.0/8,fd00::/8", "fd00::5", "fd00::6", true, false},
        {"10.0.0.0/8,fd00::/8", "fd00::5", "10.9.9.9", true, false},
    };
    for (const Case& c : cases) {
        ServerAccessResult r =
            ParseServerAccess({"", c.allow, c.writeAllow}, {"listen", "allow", "write-allow"});
        ASSERT_TRUE(r) << r.error;
        const IpAddress client = Ip(c.client);
        EXPECT_EQ(r.access.policy.MayConnect(client), c.mayConnect) << c.allow << " " << c.client;
        EXPECT_EQ(r.access.policy.MayWrite(client), c.mayWrite)
            << c.allow << " | " << c.writeAllow << " " << c.client;
        EXPECT_EQ(r.access.policy.AllowsEveryone(), !*c.allow && !*c.writeAllow);
    }
}

TEST(ServerAccessParse, NamesTheSettingThatIsWrong) {
    struct Case {
        AccessSettings settings;
        const char* error;  // "" = accepted; else the start of the error
    };
    const Case cases[] = {
        {{"", "", ""}, ""},
        {{"127.0.0.1", "", ""}, ""},
        {{"::", "", ""}, ""},
        {{" ::1 ", "::1", "::1"}, ""},
        {{"localhost", "", ""}, "--listen: \"localhost\" is not an IPv4 or IPv6 address"},
        {{"10.0.0.0/8", "", ""}, "--listen: \"10.0.0.0/8\""},
        {{"", "10.0.0.0/33", ""}, "--allow: \"10.0.0.0/33\""},
        {{"", "10.0.0.0/8", "10.0.0.0/8,"}, "--write-allow: the list has an empty entry"},
        {{"", " ", ""}, "--allow: the list is empty"},
    };
    for (const Case& c : cases) {
        ServerAccessResult r = ParseServerAccess(c.settings, {"--listen", "--allow", "--write-allow"});
        if (!*c.error) {
            EXPECT_TRUE(r) << r.error;
            continue;
        }
        EXPECT_FALSE(r);
        EXPECT_EQ(r.error.rfind(c.error, 0), 0u) << r.error;
    }
    ServerAccessResult listen = ParseServerAccess({"fd00::7", "", ""}, {"a", "b", "c"});
    ASSERT_TRUE(listen);
    EXPECT_EQ(listen.access.listen, Ip("fd00::7"));
    EXPECT_FALSE(ParseServerAccess({}, {"a", "b", "c"}).access.listen);
}

TEST(PerClientLimit, OneLineAMinutePerClient) {
    struct Event {
        const char* client;
        int64_t atMs;
        bool logged;
    };
    const Event events[] = {
        {"127.0.0.2", 0, true},
        {"127.0.0.2", 10, false},
        {"127.0.0.3", 20, true},  // another client has its own minute
        {"127.0.0.2", 59999, false},
        {"127.0.0.2", 60000, true},
        {"127.0.0.3", 60010, false},
        {"127.0.0.3", 60020, true},
        {"127.0.0.2", 119999, false},
        {"::1", 119999, true},
        {"127.0.0.2", 500000, true},
    };
    PerClientLimiter limiter;
    for (const Event& e : events)
        EXPECT_EQ(limiter.ShouldLog(Ip(e.client), e.atMs), e.logged) << e.client << " " << e.atMs;
}

TEST(PerClientLimit, AFloodOfAddressesIsBounded) {
    PerClientLimiter limiter(60000, 3);
    EXPECT_TRUE(limiter.ShouldLog(Ip("10.0.0.1"), 0));
    EXPECT_TRUE(limiter.ShouldLog(Ip("10.0.0.2"), 1));
    EXPECT_TRUE(limiter.ShouldLog(Ip("10.0.0.3"), 2));
    EXPECT_FALSE(limiter.ShouldLog(Ip("10.0.0.4"), 3));  // full, nobody's minute is over
    EXPECT_FALSE(limiter.ShouldLog(Ip("10.0.0.1"), 4));  // and the known ones keep their minute
    EXPECT_TRUE(limiter.ShouldLog(Ip("10.0.0.4"), 60000));  // the first one's minute is over
    EXPECT_FALSE(limiter.ShouldLog(Ip("10.0.0.4"), 60001));
}

// The answers of the server itself, without sockets: a refused client gets 403 for anything it
// asks, and one red line.
TEST(ServerAccessAnswers, ARefusedClientGetsForbiddenForEveryRequest) {
    RecordingLogSink log;
    WebServer server(log);
    test::ScratchDir dir;
    server.SetWebRoot(dir.path() + "/");
    AccessPolicy policy;
    policy.allow = ParseRuleList("127.0.0.1").rules;
    server.SetAccessPolicy(policy);
    std::string answer;
    for (const char* request : {"GET / HTTP/1.0\r\n\r\n", "POST /UNI%MW0 HTTP/1.0\r\n\r\n",
                                "HEAD / HTTP/1.0\r\n\r\n"}) {
        EXPECT_EQ(server.HandleRequest(request, Ip("127.0.0.2"), answer), 1);
        EXPECT_EQ(answer, kForbiddenAnswer) << request;
    }
    EXPECT_EQ(server.HandleRequest("GET / HTTP/1.0\r\n\r\n", Ip("127.0.0.1"), answer), 1);
    EXPECT_EQ(answer, kNotFoundAnswer);  // allowed: the documented answer (no index.html here)
    const std::vector<RecordingLogSink::Line> lines = log.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "Webserver : connection from IP(127.0.0.2) refused, not in allow");
    EXPECT_EQ(lines[0].colour, kLogRed);
}

TEST(DesignerServerAccess, ReadsTheProfileAndRefusesAWrongSetting) {
    test::ScratchDir dir;
    Profile profile(dir / "profile.ini");
    ServerAccessResult none = designer::LoadServerAccess(profile);
    ASSERT_TRUE(none) << none.error;
    EXPECT_FALSE(none.access.listen);
    EXPECT_TRUE(none.access.policy.AllowsEveryone());

    ASSERT_TRUE(profile.SetString("Tessora", "weblisten", "127.0.0.1"));
    ASSERT_TRUE(profile.SetString("Tessora", "weballow", "127.0.0.0/8, ::1"));
    ASSERT_TRUE(profile.SetString("Tessora", "webwriteallow", "127.0.0.1"));
    ServerAccessResult set = designer::LoadServerAccess(profile);
    ASSERT_TRUE(set) << set.error;
    EXPECT_EQ(set.access.listen, Ip("127.0.0.1"));
    EXPECT_TRUE(set.access.policy.MayConnect(Ip("127.0.0.2")));
    EXPECT_FALSE(set.access.policy.MayWrite(Ip("127.0.0.2")));
    EXPECT_TRUE(set.access.policy.MayWrite(Ip("127.0.0.1")));

    test::ScopedEnvironment english("LC_ALL", "C");
    ASSERT_TRUE(profile.SetString("Tessora", "webwriteallow", "127.0.0.1/40"));
    ServerAccessResult wrong = designer::LoadServerAccess(profile);
    EXPECT_FALSE(wrong);
    EXPECT_EQ(wrong.error, "The web server stays stopped: a setting in " + profile.path() +
                               " is wrong: webwriteallow: \"127.0.0.1/40\" has no prefix "
                               "length from 0 to 32 after its \"/\"");
}

}  // namespace
}  // namespace tsr
