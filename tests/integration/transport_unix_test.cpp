// The transport's Unix stream sockets (the local programs' sockets) against peers made by the test.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "gateways/transport/tcp_transport.h"
#include "sim_support.h"
#include "test_support.h"
#include "unix_sim_server.h"

namespace tsr {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(UnixTransport, RuntimeDirectoryAndSocketPath) {
    struct Case {
        std::optional<std::string> runtimeDir;
        const char* expected;
    } cases[] = {
        {"/run/user/1000", "/run/user/1000/orvo8_xfs_wclass"},
        {"/run/user/1000/", "/run/user/1000/orvo8_xfs_wclass"},
        {"", "/tmp/orvo8_xfs_wclass"},
        {std::nullopt, "/tmp/orvo8_xfs_wclass"},
    };
    for (const Case& c : cases) {
        test::ScopedEnvironment env("XDG_RUNTIME_DIR", c.runtimeDir);
        EXPECT_EQ(RuntimeSocketPath("orvo8_xfs_wclass"), c.expected) << c.runtimeDir.value_or("-");
    }
}

TEST(UnixTransport, ExchangesBytesAndEndsEveryWaitInTime) {
    test::ScratchDir dir;
    // The peer echoes the first 4 bytes, then stays silent until the test closes.
    sims::UnixSimServer peer([](int fd, const std::atomic<bool>& stopping) {
        char buf[4];
        if (!sims::ReceiveAllBytes(fd, buf, sizeof buf, stopping, 2000)) return;
        sims::SendAllBytes(fd, buf, sizeof buf);
        char more;
        sims::ReceiveAllBytes(fd, &more, 1, stopping, 2000);
    });
    const std::string path = dir / "peer";
    ASSERT_TRUE(peer.Start(path));

    UnixConnection c;
    EXPECT_EQ(c.PeerUserId(), std::nullopt);
    ASSERT_EQ(c.Connect(path, 500ms), TransportError::None);
    EXPECT_EQ(c.PeerUserId(), geteuid());
    const uint8_t hello[4] = {0x78, 0x56, 0x34, 0x12};
    ASSERT_EQ(c.SendAll(hello, 500ms), TransportError::None);
    uint8_t back[4] = {};
    ASSERT_EQ(c.ReceiveExact(back, 1000ms), TransportError::None);
    EXPECT_EQ(std::vector<uint8_t>(back, back + 4), std::vector<uint8_t>(hello, hello + 4));

    const auto start = Clock::now();
    EXPECT_EQ(c.ReceiveExact(back, 150ms), TransportError::ReceiveTimeout);
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, 140ms);
    EXPECT_LT(waited, 1000ms);
    c.Close();
    peer.Stop();
    EXPECT_EQ(c.SendAll(hello, 100ms), TransportError::NotConnected);
}

TEST(UnixTransport, TrustedLocalUsers) {
    struct Case {
        uid_t peer, self;
        bool trusted;
    } cases[] = {
        {1000, 1000, true}, {0, 1000, true}, {1001, 1000, false}, {0, 0, true}, {1000, 0, false}};
    for (const Case& c : cases)
        EXPECT_EQ(IsTrustedLocalUser(c.peer, c.self), c.trusted) << c.peer << " " << c.self;
}

TEST(UnixTransport, PeerThatClosesAtOnce) {
    test::ScratchDir dir;
    sims::UnixSimServer peer([](int, const std::atomic<bool>&) {});
    const std::string path = dir / "peer";
    ASSERT_TRUE(peer.Start(path));
    UnixConnection c;
    ASSERT_EQ(c.Connect(path, 500ms), TransportError::None);
    uint8_t b[2];
    EXPECT_EQ(c.ReceiveExact(b, 1000ms), TransportError::Closed);
    EXPECT_FALSE(c.IsOpen());
}

TEST(UnixTransport, ConnectFailures) {
    test::ScratchDir dir;
    struct Case {
        std::string path;
        TransportError expected;
    } cases[] = {
        {dir / "nobody", TransportError::Refused},                      // no socket file
        {dir.path(), TransportError::Refused},                          // a directory, not a socket
        {"", TransportError::BadAddress},                               // no path at all
        {"/tmp/" + std::string(200, 'x'), TransportError::BadAddress},  // beyond sun_path
        {std::string("/tmp/a\0b", 8), TransportError::BadAddress},      // an inner zero byte
    };
    for (const Case& c : cases) {
        UnixConnection connection;
        const auto start = Clock::now();
        EXPECT_EQ(connection.Connect(c.path, 500ms), c.expected) << c.path;
        EXPECT_LT(Clock::now() - start, 400ms) << c.path;
        EXPECT_FALSE(connection.IsOpen());
    }
}

}  // namespace
}  // namespace tsr
