// Who may reach the server and whose writes reach a device, over real loopback sockets: 127.0.0.1
// is the operator's own machine, 127.0.0.2 another client; a Unity simulator is the device.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/log_sink.h"
#include "gateways/lifecycle.h"
#include "generator/generator.h"
#include "model/catalogue.h"
#include "model/project_file.h"
#include "serve_support.h"
#include "served_program.h"
#include "socket_support.h"
#include "test_support.h"
#include "unity_sim.h"
#include "webserver/request.h"
#include "webserver/serving_hooks.h"

namespace tsr {
namespace {

// Opens a TCP connection from the local address `from` to `to`:port (IPv4 or IPv6 text);
// -1 when it cannot be opened.
int ConnectFrom(const std::string& from, const std::string& to, uint16_t port) {
    const bool v6 = to.find(':') != std::string::npos;
    int fd = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    sockaddr_storage local{}, remote{};
    socklen_t len;
    if (v6) {
        auto* l = reinterpret_cast<sockaddr_in6*>(&local);
        auto* r = reinterpret_cast<sockaddr_in6*>(&remote);
        l->sin6_family = r->sin6_family = AF_INET6;
        inet_pton(AF_INET6, from.c_str(), &l->sin6_addr);
        inet_pton(AF_INET6, to.c_str(), &r->sin6_addr);
        r->sin6_port = htons(port);
        len = sizeof(sockaddr_in6);
    } else {
        auto* l = reinterpret_cast<sockaddr_in*>(&local);
        auto* r = reinterpret_cast<sockaddr_in*>(&remote);
        l->sin_family = r->sin_family = AF_INET;
        inet_pton(AF_INET, from.c_str(), &l->sin_addr);
        inet_pton(AF_INET, to.c_str(), &r->sin_addr);
        r->sin_port = htons(port);
        len = sizeof(sockaddr_in);
    }
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), len) != 0 ||
        connect(fd, reinterpret_cast<sockaddr*>(&remote), len) != 0) {
        close(fd);
        return -1;
    }
    timeval limit{5, 0};  // a test that goes wrong fails instead of hanging
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    return fd;
}

// Sends `request` from `from` to `to`:port and returns all that comes back until the server
// closes; "(no connection)" when the connection cannot be opened.
std::string ExchangeFrom(const std::string& from, uint16_t port, const std::string& request,
                         const std::string& to = "127.0.0.1") {
    int fd = ConnectFrom(from, to, port);
    if (fd < 0) return "(no connection)";
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = recv(fd, buf, sizeof buf, 0)) > 0;) out.append(buf, static_cast<size_t>(n));
    close(fd);
    return out;
}

std::string PostRequest(const std::string& path) { return "POST " + path + " HTTP/1.0\r\n\r\n"; }

// The designer's objects with one Unity gateway on the simulator, serving on a free port.
class AccessTest : public ::testing::Test, protected test::ServedProgram {
  protected:
    void SetUp() override {
        ASSERT_TRUE(sim.Start());
        ASSERT_EQ(started, 0);
        project.document().SetProperty(Add("unigateway"), "ip",
                                       "127.0.0.1:" + std::to_string(sim.port()));
        sim.SetMemoryWord(0, 7);
        sim.SetMemoryWord(2, 65535);
    }
    // One generation pass with these settings (which must be valid); the server's port.
    uint16_t Serve(const AccessSettings& settings) {
        ServerAccessResult access = ParseServerAccess(settings, {"listen", "allow", "write-allow"});
        EXPECT_TRUE(access) << access.error;
        hooks.SetAccess(access.access);
        EXPECT_TRUE(generator.generateApplication());
        EXPECT_TRUE(server.IsWebServerRunning());
        return server.ListeningPort();
    }
    // Lines logged in red, in order.
    std::vector<std::string> RedLines() {
        std::vector<std::string> out;
        for (const auto& l : log.Lines())
            if (l.colour == kLogRed) out.push_back(l.text);
        return out;
    }
    // The device's frames for one request of `client`.
    size_t FramesFor(const std::string& client, uint16_t port, const std::string& path,
                     std::string* body) {
        sim.ClearRequests();
        *body = test::AnswerBody(ExchangeFrom(client, port, PostRequest(path)));
        return sim.Requests().size();
    }

    sims::UnitySim sim;
};

TEST_F(AccessTest, AClientOutsideAllowIsAnsweredForbiddenAndNeverReachesTheDevice) {
    const uint16_t port = Serve({"", "127.0.0.1", ""});
    EXPECT_EQ(ExchangeFrom("127.0.0.2", port, "GET / HTTP/1.0\r\n\r\n"), kForbiddenAnswer);
    sim.ClearRequests();
    EXPECT_EQ(ExchangeFrom("127.0.0.2", port, PostRequest("/UNI%MW1=3;%MW0")), kForbiddenAnswer);
    EXPECT_EQ(ExchangeFrom("127.0.0.2", port, ""), kForbiddenAnswer);  // even saying nothing
    EXPECT_EQ(sim.MemoryWord(1), 0);
    EXPECT_TRUE(sim.Requests().empty());
    // The operator's machine is served as documented.
    EXPECT_EQ(test::AnswerBody(ExchangeFrom("127.0.0.1", port, PostRequest("/UNI%MW1=3;%MW0"))), "7");
    EXPECT_EQ(sim.MemoryWord(1), 3);
    // Three refusals, one red line.
    const std::vector<std::string> red = RedLines();
    EXPECT_EQ(std::count(red.begin(), red.end(),
                         "Webserver : connection from IP(127.0.0.2) refused, not in allow"),
              1)
        << testing::PrintToString(red);
}

TEST_F(AccessTest, AClientOutsideWriteAllowReadsButItsWritesAreDropped) {
    const uint16_t port = Serve({"", "", "127.0.0.1"});
    server.SetMaxAge(std::chrono::milliseconds(0));  // every read item is one frame
    std::string body;
    const size_t withWrite = FramesFor("127.0.0.2", port, "/UNI%MW0;%MW1=3;%MW2", &body);
    EXPECT_EQ(body, "7;65535");
    EXPECT_EQ(sim.MemoryWord(1), 0);
    const size_t readsOnly = FramesFor("127.0.0.2", port, "/UNI%MW0;%MW2", &body);
    EXPECT_EQ(body, "7;65535");
    EXPECT_EQ(withWrite, readsOnly);  // not one frame for the write item
    EXPECT_EQ(test::AnswerBody(ExchangeFrom("127.0.0.2", port, PostRequest("/UNI%MW1=4"))), "");
    EXPECT_EQ(sim.MemoryWord(1), 0);
    const std::vector<std::string> red = RedLines();
    EXPECT_EQ(red, std::vector<std::string>{"Webserver : POST from IP(127.0.0.2), UNI write items "
                                            "not carried out, not in write-allow"});
    // Inside write-allow: the write is carried out.
    EXPECT_EQ(test::AnswerBody(ExchangeFrom("127.0.0.1", port, PostRequest("/UNI%MW0;%MW1=3;%MW2"))),
              "7;65535");
    EXPECT_EQ(sim.MemoryWord(1), 3);
    EXPECT_EQ(RedLines().size(), 1u);
}

TEST_F(AccessTest, AClientInsideBothListsAndNoRulesGetTheDocumentedBehaviour) {
    struct Case {
        const char* name;
        AccessSettings settings;
    };
    const Case cases[] = {
        {"no rule", {"", "", ""}},
        {"inside both", {"", "127.0.0.0/8", "127.0.0.2,::1"}},
        {"inside both, every address", {"", "0.0.0.0/0", "0.0.0.0/0"}},
    };
    uint16_t value = 10;
    for (const Case& c : cases) {
        const uint16_t port = Serve(c.settings);
        ++value;
        const std::string answer = ExchangeFrom(
            "127.0.0.2", port, PostRequest("/UNI%MW0;%MW1=" + std::to_string(value) + ";%MW1"));
        EXPECT_EQ(answer.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << c.name;
        EXPECT_EQ(test::AnswerBody(answer), "7;" + std::to_string(value)) << c.name;
        EXPECT_EQ(sim.MemoryWord(1), value) << c.name;
    }
    EXPECT_TRUE(RedLines().empty()) << testing::PrintToString(RedLines());
}

TEST_F(AccessTest, TheListenAddressIsServedAndShownInTheTitleAndTheLog) {
    uint16_t port = Serve({"127.0.0.1", "", ""});
    EXPECT_EQ(server.ServedAddress(), "127.0.0.1");
    EXPECT_NE(hooks.title().find(" Server activated: 127.0.0.1:" + std::to_string(port)),
              std::string::npos)
        << hooks.title();
    EXPECT_EQ(log.Lines().back().text, "Generate: " + hooks.title());
    EXPECT_EQ(test::AnswerBody(ExchangeFrom("127.0.0.2", port, PostRequest("/UNI%MW0"))), "7");
    EXPECT_EQ(ExchangeFrom("127.0.0.2", port, PostRequest("/UNI%MW0"), "127.0.0.2"), "(no connection)");

    // Another address restarts the server there.
    port = Serve({"127.0.0.2", "", ""});
    EXPECT_NE(hooks.title().find(" Server activated: 127.0.0.2:"), std::string::npos);
    EXPECT_EQ(test::AnswerBody(ExchangeFrom("127.0.0.2", port, PostRequest("/UNI%MW0"), "127.0.0.2")), "7");
    EXPECT_EQ(ExchangeFrom("127.0.0.2", port, PostRequest("/UNI%MW0"), "127.0.0.1"), "(no connection)");

    // Back to every address: the host's address, as documented.
    port = Serve({"", "", ""});
    EXPECT_EQ(server.ServedAddress(), HostAddress());
    EXPECT_EQ(test::AnswerBody(ExchangeFrom("127.0.0.2", port, PostRequest("/UNI%MW0"), "127.0.0.2")), "7");
}

TEST_F(AccessTest, IPv6ListenAndIPv4ClientsOnADualStackSocket) {
    uint16_t port = Serve({"::1", "::1", ""});
    EXPECT_EQ(server.ServedAddress(), "[::1]");
    EXPECT_NE(hooks.title().find(" Server activated: [::1]:"), std::string::npos) << hooks.title();
    EXPECT_EQ(test::AnswerBody(ExchangeFrom("::1", port, PostRequest("/UNI%MW0"), "::1")), "7");

    // "::" takes IPv4 clients too; IPv4 rules apply to them.
    port = Serve({"::", "127.0.0.1,::1", "::1"});
    EXPECT_EQ(ExchangeFrom("127.0.0.2", port, PostRequest("/UNI%MW0")), kForbiddenAnswer);
    EXPECT_EQ(test::AnswerBody(ExchangeFrom("127.0.0.1", port, PostRequest("/UNI%MW1=5;%MW0"))), "7");
    EXPECT_EQ(sim.MemoryWord(1), 0);  // 127.0.0.1 is not in write-allow
    EXPECT_EQ(test::AnswerBody(ExchangeFrom("::1", port, PostRequest("/UNI%MW1=5;%MW0"), "::1")), "7");
    EXPECT_EQ(sim.MemoryWord(1), 5);
}

TEST_F(AccessTest, WrongSettingsKeepTheServerStoppedAndAreShownOnce) {
    Serve({"", "", ""});
    hooks.SetAccessError("the settings are wrong");
    ASSERT_TRUE(generator.generateApplication());
    EXPECT_FALSE(server.IsWebServerRunning());
    ASSERT_TRUE(generator.generateApplication());
    EXPECT_FALSE(server.IsWebServerRunning());
    EXPECT_EQ(shown, std::vector<std::string>{"the settings are wrong"});
    EXPECT_EQ(hooks.title().find("Server activated"), std::string::npos);
    Serve({"", "", ""});  // mended
    EXPECT_TRUE(server.IsWebServerRunning());
}

// tessora-cli serve with the three options.
TEST(CliServeAccess, RefusesMalformedRulesAtStartAndAppliesGoodOnes) {
    test::ScratchDir dir;
    sims::UnitySim sim;
    ASSERT_TRUE(sim.Start());
    sim.SetMemoryWord(0, 7);
    const std::string projectPath = dir / "line.tsr";
    {
        Project project;
        ASSERT_EQ(project.Start(dir.path()), 0);
        ProjectDocument& doc = project.document();
        pugi::xml_node n;
        doc.CreateObject(FindTypeByKey("unigateway"), doc.ProjectElement(), &n);
        doc.SetProperty(n, "ip", "127.0.0.1:" + std::to_string(sim.port()));
        ASSERT_TRUE(project.Save(projectPath));
    }
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case wrong[] = {
        {{"--allow", "10.0.0.0/33"},
         "tessora-cli: --allow: \"10.0.0.0/33\" has no prefix length from 0 to 32 after its \"/\""},
        {{"--write-allow", "127.0.0.1,"}, "tessora-cli: --write-allow: the list has an empty entry"},
        {{"--write-allow", ""}, "tessora-cli: --write-allow: the value is empty"},
        {{"--listen", "localhost"},
         "tessora-cli: --listen: \"localhost\" is not an IPv4 or IPv6 address of this computer"},
        {{"--allow", "192.168.1.7/24"},
         "tessora-cli: --allow: \"192.168.1.7/24\" has address bits set past its prefix length "
         "(192.168.1.0/24 is the block that holds it)"},
    };
    for (const Case& c : wrong) {
        test::ServeProcess serve(projectPath, c.args);
        EXPECT_EQ(serve.port(), 0);
        EXPECT_EQ(serve.Stop(), 1);
        EXPECT_NE(serve.log().find(c.message), std::string::npos) << serve.log();
        EXPECT_EQ(serve.log().find("Generate:"), std::string::npos);  // nothing was started
    }
    test::ServeProcess serve(projectPath,
                             {"--listen", "127.0.0.1", "--allow", "127.0.0.0/8", "--write-allow",
                              "127.0.0.1"});
    ASSERT_NE(serve.port(), 0) << serve.log();
    const std::string port = std::to_string(serve.port());
    EXPECT_NE(serve.log().find("on http://127.0.0.1:" + port + "/"), std::string::npos) << serve.log();
    EXPECT_NE(serve.log().find("Server activated: 127.0.0.1:" + port), std::string::npos);
    EXPECT_EQ(test::AnswerBody(ExchangeFrom("127.0.0.2", serve.port(), PostRequest("/UNI%MW1=9;%MW0"))),
              "7");
    EXPECT_EQ(sim.MemoryWord(1), 0);
    EXPECT_EQ(test::AnswerBody(ExchangeFrom("127.0.0.1", serve.port(), PostRequest("/UNI%MW1=9;%MW0"))),
              "7");
    EXPECT_EQ(sim.MemoryWord(1), 9);
    EXPECT_EQ(serve.Stop(), 0);
    EXPECT_NE(serve.log().find("UNI write items not carried out, not in write-allow"),
              std::string::npos)
        << serve.log();
}

}  // namespace
}  // namespace tsr
