// The server step of a generation pass: start, keep, restart or stop the server from the
// project's settings, and restart the gateways.
#include "webserver/serving_hooks.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "base/strings.h"
#include "socket_support.h"

namespace tsr {
namespace {

// A free TCP port on 127.0.0.1 (bound once, then released).
uint16_t FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

constexpr auto Connect = test::ConnectLoopback;

bool StillOpen(int fd) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 200) == 0) return true;
    char c;
    return recv(fd, &c, 1, MSG_PEEK) > 0;
}

TEST(ServingHooks, StartKeepRestartStop) {
    NullLogSink log;
    WebServer server(log);
    std::vector<std::string> calls, errors;
    ServingHooks hooks(
        server, [&] { calls.push_back("stop"); }, [&] { calls.push_back("start"); },
        [&](const std::string& m) { errors.push_back(m); });
    const uint16_t first = FreePort(), second = FreePort();
    ServerSettings s{false, first, false, "/tmp/"};

    // Off: nothing starts, the gateways are stopped and not started.
    EXPECT_EQ(hooks.ApplyServerSettings(s), "");
    EXPECT_FALSE(server.IsWebServerRunning());
    EXPECT_EQ(calls, std::vector<std::string>{"stop"});

    // On: the server starts and the gateways start again.
    s.on = true;
    EXPECT_EQ(hooks.ApplyServerSettings(s), HostAddress());
    ASSERT_TRUE(server.IsWebServerRunning());
    EXPECT_EQ(calls, (std::vector<std::string>{"stop", "stop", "start"}));
    int client = Connect(first);
    ASSERT_GE(client, 0);

    // Same port: the server keeps running (the open client keeps its connection).
    s.debugMessages = true;
    EXPECT_EQ(hooks.ApplyServerSettings(s), HostAddress());
    EXPECT_TRUE(StillOpen(client));

    // Another port: restarted there.
    s.port = second;
    hooks.ApplyServerSettings(s);
    EXPECT_EQ(server.WebServerPort(), second);
    EXPECT_FALSE(StillOpen(client));
    close(client);
    EXPECT_LT(Connect(first), 0);

    // Off again: stopped, and the gateways are not started.
    calls.clear();
    s.on = false;
    EXPECT_EQ(hooks.ApplyServerSettings(s), "");
    EXPECT_FALSE(server.IsWebServerRunning());
    EXPECT_EQ(calls, std::vector<std::string>{"stop"});
    EXPECT_TRUE(errors.empty());
}

TEST(ServingHooks, AFailedStartIsReportedAndStartsNoGateway) {
    setenv("LANG", "C", 1);
    NullLogSink log;
    WebServer busy(log), server(log);
    ASSERT_EQ(busy.StartWebServer(0), 0);
    std::vector<std::string> calls, errors;
    ServingHooks hooks(
        server, [&] { calls.push_back("stop"); }, [&] { calls.push_back("start"); },
        [&](const std::string& m) { errors.push_back(m); });
    ServerSettings s{true, busy.ListeningPort(), false, "/tmp/"};
    EXPECT_EQ(hooks.ApplyServerSettings(s), "");
    // The message says why.
    const std::string port = std::to_string(busy.ListeningPort());
    const std::vector<std::string> inUse{
        LoadString(kMsgCannotCreateWebServer) + "\n\nThe web server cannot listen on port " + port +
        ": another program already uses it. Stop that program or choose another port in the "
        "project's properties."};
    EXPECT_EQ(errors, inUse);
    EXPECT_EQ(calls, std::vector<std::string>{"stop"});
    // Another pass with the same settings (an edit of something else) neither tries again nor
    // says it again; a retry asked for, or another port, does.
    EXPECT_EQ(hooks.ApplyServerSettings(s), "");
    EXPECT_EQ(errors.size(), 1u);
    hooks.RetryServerStart();
    EXPECT_EQ(hooks.ApplyServerSettings(s), "");
    EXPECT_EQ(errors.size(), 2u);
    s.port = FreePort();
    EXPECT_FALSE(hooks.ApplyServerSettings(s).empty());
    EXPECT_TRUE(server.IsWebServerRunning());
    EXPECT_EQ(errors.size(), 2u);
}

TEST(ServingHooks, ServingFromTheCommandLineOverridesTheSwitchAndPort) {
    NullLogSink log;
    WebServer server(log);
    ServingHooks hooks(server, {}, {}, {});
    const uint16_t port = FreePort();
    hooks.ForceServing(port, true);
    ServerSettings s{false, 80, false, "/tmp/"};
    EXPECT_FALSE(hooks.ApplyServerSettings(s).empty());
    EXPECT_TRUE(server.IsWebServerRunning());
    EXPECT_EQ(s.port, port);  // the title shows the port served on
}

}  // namespace
}  // namespace tsr
