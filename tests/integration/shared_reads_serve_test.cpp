// Many phones on one controller: reads of the same variable that wait together are answered by
// one exchange, values are kept no longer than the maximum age, and writes land exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "served_program.h"
#include "standin_family.h"
#include "unity_sim.h"

namespace tsr {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The answer bodies of `count` requests of `path` sent at once, each on its own connection.
std::vector<std::string> PostTogether(uint16_t port, const std::string& path, int count) {
    std::vector<std::string> bodies(static_cast<size_t>(count));
    std::vector<std::thread> phones;
    for (int i = 0; i < count; ++i)
        phones.emplace_back([&, i] {
            bodies[static_cast<size_t>(i)] = test::AnswerBody(
                test::HttpExchange(port, "POST " + path + " HTTP/1.0\r\n\r\n"));
        });
    for (std::thread& t : phones) t.join();
    return bodies;
}

class SharedReadsServeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(WriteFile(root / "index.html", "INDEX"));
        server.SetRoutes(GatewayRoutes{nullptr, nullptr, &device});
        server.SetWebRoot(root.path() + "/");
        ASSERT_EQ(server.StartWebServer(0), 0);
        port = server.ListeningPort();
    }
    test::ScratchDir root;
    sims::StandInFamily device;
    NullLogSink log;
    WebServer server{log};
    uint16_t port = 0;
};

TEST_F(SharedReadsServeTest, FortyPhonesAskingForOneVariableCostTheDeviceOneExchange) {
    device.SetDelay(50ms);
    const std::vector<std::string> bodies = PostTogether(port, "/UNI%MW0", 40);
    for (const std::string& b : bodies) EXPECT_EQ(b, "v(%MW0)");
    // The first request starts the exchange; the others, which came while it ran, take the
    // value it read (less than the maximum age old) or wait for one more exchange.
    EXPECT_LE(device.Seen().size(), 2u);
    EXPECT_EQ(device.busiest(), 1);

    server.SetMaxAge(0ms);  // one exchange per read item, as before sharing
    const size_t before = device.Seen().size();
    PostTogether(port, "/UNI%MW0", 10);
    EXPECT_EQ(device.Seen().size() - before, 10u);
}

TEST_F(SharedReadsServeTest, AWriteIsNeverSharedAndTheNextReadAsksTheDevice) {
    device.SetDelay(20ms);
    PostTogether(port, "/UNI%MW1", 5);
    const size_t before = device.Seen().size();
    PostTogether(port, "/UNI%MW1=3", 5);
    EXPECT_EQ(test::AnswerBody(test::HttpExchange(port, "POST /UNI%MW1 HTTP/1.0\r\n\r\n")),
              "v(%MW1)");
    std::vector<std::string> seen = device.Seen();
    seen.erase(seen.begin(), seen.begin() + static_cast<long>(before));
    EXPECT_EQ(seen, (std::vector<std::string>{"%MW1=3", "%MW1=3", "%MW1=3", "%MW1=3", "%MW1=3",
                                              "%MW1"}));
}

// The fixture of the tests against the Unity simulator through the whole served program.
class SharedUnityReadsTest : public ::testing::Test, protected test::ServedProgram {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.Start());
        ASSERT_EQ(started, 0);
        project.document().SetProperty(Add("unigateway"), "ip",
                                       "127.0.0.1:" + std::to_string(sim.port()));
        ASSERT_TRUE(generator.generateApplication());
        ASSERT_TRUE(server.IsWebServerRunning());
    }
    sims::UnitySim sim;
};

TEST_F(SharedUnityReadsTest, AnAnswerIsNeverOlderThanTheMaximumAge) {
    constexpr auto kMaxAge = 100ms;
    server.SetMaxAge(kMaxAge);
    sim.SetDelay(2ms);
    // The controller counts up every 5 ms; the test notes when each value was in place.
    struct Change {
        Clock::time_point at;
        uint16_t value;
    };
    std::mutex mutex;
    std::vector<Change> changes;
    std::atomic<bool> stop{false};
    std::thread counter([&] {
        for (uint16_t v = 1; !stop.load(); ++v) {
            sim.SetMemoryWord(0, v);
            {
                std::lock_guard<std::mutex> lock(mutex);
                changes.push_back({Clock::now(), v});
            }
            std::this_thread::sleep_for(5ms);
        }
    });
    struct Answer {
        Clock::time_point sent;
        std::string text;
    };
    std::vector<std::vector<Answer>> answers(8);
    std::vector<std::thread> phones;
    const auto end = Clock::now() + 1500ms;
    for (size_t p = 0; p < answers.size(); ++p)
        phones.emplace_back([&, p] {
            while (Clock::now() < end) {
                const Clock::time_point sent = Clock::now();
                answers[p].push_back({sent, test::AnswerBody(test::HttpExchange(
                                                  port(), "POST /UNI%MW0 HTTP/1.0\r\n\r\n"))});
                std::this_thread::sleep_for(std::chrono::milliseconds(3 * p));
            }
        });
    for (std::thread& t : phones) t.join();
    stop.store(true);
    counter.join();

    size_t total = 0;
    for (const auto& phone : answers) {
        for (const Answer& a : phone) {
            ++total;
            // The newest value that was in place a whole maximum age before the request was
            // sent: the answer is that one or a later one.
            uint16_t oldestAllowed = 0;
            for (const Change& c : changes)
                if (c.at <= a.sent - kMaxAge) oldestAllowed = c.value;
            ASSERT_FALSE(a.text.empty());
            EXPECT_GE(std::stoi(a.text), oldestAllowed) << "answer " << a.text;
        }
    }
    // And the controller was asked far less often than the phones asked.
    EXPECT_GT(total, 200u);
    EXPECT_LT(sim.Requests().size(), total / 2);
}

TEST_F(SharedUnityReadsTest, AWrittenValueIsReadBackAtOnce) {
    server.SetMaxAge(60000ms);  // even with values kept for a minute
    sim.SetMemoryWord(5, 1);
    EXPECT_EQ(Post("/UNI%MW5"), "1");
    EXPECT_EQ(Post("/UNI%MW5=42;%MW5"), "42");
    EXPECT_EQ(Post("/UNI%MW5"), "42");
    sim.SetMemoryWord(5, 7);  // changed by the controller itself: kept for the minute
    EXPECT_EQ(Post("/UNI%MW5"), "42");
    EXPECT_EQ(Post("/UNI%MW5=8"), "");
    EXPECT_EQ(Post("/UNI%MW5"), "8");
}

}  // namespace
}  // namespace tsr
