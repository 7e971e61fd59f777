// The device families' TCP transport against loopback peers made by the test.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "gateways/transport/tcp_transport.h"
#include "sim_support.h"

namespace tsr {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(TcpTransport, EndpointForms) {
    struct Case {
        const char* text;
        bool ok;
        const char* host;
        uint16_t port;
    } cases[] = {
        {"192.168.0.5", true, "192.168.0.5", 502},
        {" 10.0.0.1:1502 ", true, "10.0.0.1", 1502},
        {"plc-1", true, "plc-1", 502},
        {"[::1]:8000", true, "::1", 8000},
        {"::1", true, "::1", 502},
        {"", false, "", 0},
        {":502", false, "", 0},
        {"host:", false, "", 0},
        {"host:0", false, "", 0},
        {"host:65536", false, "", 0},
        {"host:12x", false, "", 0},
        {"[::1", false, "", 0},
    };
    for (const Case& c : cases) {
        auto e = ParseEndpoint(c.text, 502);
        ASSERT_EQ(e.has_value(), c.ok) << c.text;
        if (!c.ok) continue;
        EXPECT_EQ(e->host, c.host) << c.text;
        EXPECT_EQ(e->port, c.port) << c.text;
    }
}

TEST(TcpTransport, ExchangesBytesWithAPeerAndTimesOutWhenItIsSilent) {
    // The peer echoes the first 4 bytes it gets, then stays silent.
    sims::TcpSimServer peer([](int fd, const std::atomic<bool>& stopping) {
        char buf[4];
        size_t got = 0;
        while (got < 4 && sims::WaitReadable(fd, stopping)) {
            ssize_t n = recv(fd, buf + got, 4 - got, 0);
            if (n <= 0) return;
            got += static_cast<size_t>(n);
        }
        sims::SendAllBytes(fd, buf, got);
        while (sims::WaitReadable(fd, stopping)) {
            char drop[64];
            if (recv(fd, drop, sizeof drop, 0) <= 0) return;
        }
    });
    ASSERT_TRUE(peer.Start());
    TcpConnection c;
    ASSERT_EQ(c.Connect("127.0.0.1:" + std::to_string(peer.port()), 1, 1000ms),
              TransportError::None);
    const uint8_t hello[4] = {1, 2, 3, 4};
    ASSERT_EQ(c.SendAll(hello, 500ms), TransportError::None);
    uint8_t back[4] = {};
    ASSERT_EQ(c.ReceiveExact(back, 1000ms), TransportError::None);
    EXPECT_EQ(std::vector<uint8_t>(back, back + 4), std::vector<uint8_t>(hello, hello + 4));

    auto start = Clock::now();
    size_t got = 0;
    EXPECT_EQ(c.ReceiveSome(back, &got, 200ms), TransportError::ReceiveTimeout);
    auto waited = Clock::now() - start;
    EXPECT_GE(waited, 190ms);
    EXPECT_LT(waited, 1000ms);
    EXPECT_TRUE(c.IsOpen());  // a time-out keeps the connection

    peer.DropConnections();
    EXPECT_EQ(c.ReceiveSome(back, &got, 1000ms), TransportError::Closed);
    EXPECT_FALSE(c.IsOpen());
    EXPECT_EQ(c.SendAll(hello, 100ms), TransportError::NotConnected);
}

TEST(TcpTransport, LateBytesAreDiscarded) {
    sims::TcpSimServer peer([](int fd, const std::atomic<bool>& stopping) {
        sims::SendAllBytes(fd, "late", 4);
        while (sims::WaitReadable(fd, stopping)) {
            char drop[64];
            if (recv(fd, drop, sizeof drop, 0) <= 0) return;
        }
    });
    ASSERT_TRUE(peer.Start());
    TcpConnection c;
    ASSERT_EQ(c.Connect("127.0.0.1:" + std::to_string(peer.port()), 1, 1000ms),
              TransportError::None);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(c.DiscardPending(), 4u);
    EXPECT_TRUE(c.IsOpen());
    uint8_t b[4];
    size_t got = 0;
    EXPECT_EQ(c.ReceiveSome(b, &got, 50ms), TransportError::ReceiveTimeout);
}

TEST(TcpTransport, RefusedAndUnreachableConnectsEndWithinTheirTimeOut) {
    // A port that nothing listens on: refused at once.
    sims::TcpSimServer closed([](int, const std::atomic<bool>&) {});
    ASSERT_TRUE(closed.Start());
    const std::string address = "127.0.0.1:" + std::to_string(closed.port());
    closed.Stop();
    TcpConnection c;
    EXPECT_EQ(c.Connect(address, 1, 1000ms), TransportError::Refused);
    EXPECT_EQ(c.Connect("no-such-host.invalid", 502, 1000ms), TransportError::Resolve);
    EXPECT_EQ(c.Connect("host:abc", 502, 1000ms), TransportError::BadAddress);

    // A listener whose backlog is full never completes the handshake: the connect times out.
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(fd, 0), 0);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    const std::string full = "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
    std::vector<std::unique_ptr<TcpConnection>> fillers;
    TransportError last = TransportError::None;
    auto start = Clock::now();
    for (int i = 0; i < 8 && last == TransportError::None; ++i) {
        fillers.push_back(std::make_unique<TcpConnection>());
        start = Clock::now();
        last = fillers.back()->Connect(full, 1, 300ms);
    }
    EXPECT_EQ(last, TransportError::ConnectTimeout);
    EXPECT_LT(Clock::now() - start, 1000ms);
    close(fd);
}

}  // namespace
}  // namespace tsr
