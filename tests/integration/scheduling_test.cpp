// Gateway requests run on one worker per family: a device that does not answer holds up only its
// own family's requests, never file serving or another family, and never the stop.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "gateways/sql/sql_gateway.h"
#include "socket_support.h"
#include "standin_family.h"
#include "test_support.h"
#include "webserver/server.h"

namespace tsr {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Sends `request` on a new connection and returns the socket, the answer still to come.
int Send(uint16_t port, const std::string& request) {
    int fd = test::ConnectLoopback(port);
    if (fd >= 0) send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    return fd;
}

// Everything until the server closes the connection, or `limit` passes.
std::string Receive(int fd, std::chrono::milliseconds limit = 10s) {
    std::string out;
    const auto end = Clock::now() + limit;
    char buf[4096];
    while (Clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) continue;
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    return test::AnswerBody(out);
}

class SchedulingTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(WriteFile(root / "index.html", "INDEX"));
        ASSERT_TRUE(sql.Open(root / "db.sql"));
        server.SetRoutes(GatewayRoutes{nullptr, nullptr, &stuck, &quick, nullptr, &sql});
        server.SetWebRoot(root.path() + "/");
        ASSERT_EQ(server.StartWebServer(0), 0);
        port = server.ListeningPort();
    }
    // How long a whole exchange of `request` takes, and its answer body.
    std::pair<std::chrono::milliseconds, std::string> Timed(const std::string& request) {
        const auto start = Clock::now();
        std::string body = Receive(Send(port, request));
        return {std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start),
                body};
    }

    test::ScratchDir root;
    sims::StandInFamily stuck, quick;
    SqlGateway sql;
    NullLogSink log;
    WebServer server{log};
    uint16_t port = 0;
};

TEST_F(SchedulingTest, OneStuckFamilyDelaysNobodyElse) {
    stuck.SetHang(1000ms);
    std::vector<int> pending;
    for (const char* item : {"a", "b", "c"}) {
        pending.push_back(Send(port, std::string("POST /UNI") + item + " HTTP/1.0\r\n\r\n"));
        std::this_thread::sleep_for(20ms);  // a known arrival order
    }
    // While the family is stuck, files, the database and another family answer at once.
    auto [getTime, page] = Timed("GET / HTTP/1.0\r\n\r\n");
    EXPECT_EQ(page, "INDEX");
    EXPECT_LT(getTime, 500ms);
    auto [sqlTime, rows] = Timed("POST /SQLselect%201%2B1 HTTP/1.0\r\n\r\n");
    EXPECT_EQ(rows, "2");
    EXPECT_LT(sqlTime, 500ms);
    auto [kxTime, value] = Timed("POST /KXv1;v2 HTTP/1.0\r\n\r\n");
    EXPECT_EQ(value, "v(v1);v(v2)");
    EXPECT_LT(kxTime, 500ms);

    // The stuck family's requests end with its failure text, one after the other, in order.
    std::vector<std::chrono::milliseconds> done;
    const auto start = Clock::now();
    for (int fd : pending) {
        EXPECT_EQ(Receive(fd), "[err]");
        done.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start));
    }
    EXPECT_EQ(stuck.Seen(), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(stuck.busiest(), 1);
    EXPECT_GE(done[2] - done[0], 1500ms);  // two more whole time-outs after the first answer
}

TEST_F(SchedulingTest, ItemsOfOneRequestRunInOrderAndAreAnsweredOnce) {
    stuck.SetDelay(50ms);
    EXPECT_EQ(Receive(Send(port, "POST /UNI%MW0;%MW1=3;%MW2 HTTP/1.0\r\n\r\n")),
              "v(%MW0);v(%MW2)");
    EXPECT_EQ(stuck.Seen(), (std::vector<std::string>{"%MW0", "%MW1=3", "%MW2"}));
}

TEST_F(SchedulingTest, ARequestWhoseClientLeftIsNotSentToTheDevice) {
    stuck.SetDelay(600ms);
    int first = Send(port, "POST /UNIfirst HTTP/1.0\r\n\r\n");
    std::this_thread::sleep_for(50ms);
    close(Send(port, "POST /UNIgone=1 HTTP/1.0\r\n\r\n"));  // leaves before its turn
    std::this_thread::sleep_for(50ms);
    int last = Send(port, "POST /UNIlast HTTP/1.0\r\n\r\n");
    EXPECT_EQ(Receive(first), "v(first)");
    EXPECT_EQ(Receive(last), "v(last)");
    EXPECT_EQ(stuck.Seen(), (std::vector<std::string>{"first", "last"}));
}

TEST_F(SchedulingTest, AFullQueueOfAStuckFamilyLeavesFilesServedAndTheStopPrompt) {
    stuck.SetHang(1000ms);
    std::vector<int> pending;
    for (int i = 0; i < 120; ++i) {
        pending.push_back(Send(port, "POST /UNI%MW" + std::to_string(i) + " HTTP/1.0\r\n\r\n"));
    }
    std::this_thread::sleep_for(200ms);
    auto [getTime, page] = Timed("GET / HTTP/1.0\r\n\r\n");
    EXPECT_EQ(page, "INDEX");
    EXPECT_LT(getTime, 500ms);
    // Stopping with one exchange in flight and the rest queued: done within one second plus
    // that exchange's time-out.
    const auto start = Clock::now();
    server.StopWebServer();
    EXPECT_LT(Clock::now() - start, 2000ms);
    EXPECT_LE(stuck.Seen().size(), 3u);  // the queued requests were dropped, not run
    for (int fd : pending) close(fd);
}

}  // namespace
}  // namespace tsr
