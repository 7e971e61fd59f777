// The Unity / M340 family against the simulator, alone and through the lifecycle and the server.
#include "gateways/unity/unity_gateway.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "base/strings.h"
#include "gateways/lifecycle.h"
#include "generator/generator.h"
#include "served_program.h"
#include "socket_support.h"
#include "test_support.h"
#include "unity_sim.h"
#include "webserver/serving_hooks.h"

namespace tsr {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

// The transaction number of a request frame.
uint16_t TransactionOf(const Bytes& frame) {
    return static_cast<uint16_t>((frame.at(0) << 8) | frame.at(1));
}

// The payload of a request frame.
Bytes PayloadOf(const Bytes& frame) {
    return Bytes(frame.begin() + 9, frame.end());
}

UnityOptions ShortTimeouts() {
    UnityOptions o;
    o.connectTimeout = 1000ms;
    o.sendTimeout = 500ms;
    o.receiveTimeout = 200ms;
    return o;
}

GatewaySettings At(uint16_t port) {
    GatewaySettings s;
    s.ip = "127.0.0.1:" + std::to_string(port);
    return s;
}

class UnityFamilyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(sim.Start());
        ASSERT_EQ(family.Connect(At(sim.port())), 0);
        sim.ClearRequests();
    }
    sims::UnitySim sim;
    UnityFamily family{ShortTimeouts()};
};

TEST(UnityFamilyConnect, OpensTheSessionWithNumberedFrames) {
    sims::UnitySim sim;
    ASSERT_TRUE(sim.Start());
    UnityFamily family(ShortTimeouts());
    EXPECT_FALSE(family.IsConnected());
    ASSERT_EQ(family.Connect(At(sim.port())), 0);
    EXPECT_TRUE(family.IsConnected());
    const std::vector<Bytes> r = sim.Requests();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0], (Bytes{0x00, 0x01, 0x00, 0x00, 0x00, 0x05, 0x00, 0x5A, 0x00, 0x01, 0x00}));
    EXPECT_EQ(r[1], (Bytes{0x00, 0x02, 0x00, 0x00, 0x00, 0x04, 0x00, 0x5A, 0x00, 0x02}));
    EXPECT_EQ(r[2], (Bytes{0x00, 0x03, 0x00, 0x00, 0x00, 0x04, 0x00, 0x5A, 0x00, 0x11}));
    // Connected: the keep-alive instead.
    EXPECT_EQ(family.Connect(At(sim.port())), 0);
    ASSERT_EQ(sim.Requests().size(), 4u);
    EXPECT_EQ(PayloadOf(sim.Requests()[3]), Bytes{0x04});
    // Stop: the session end, then the connection is closed.
    EXPECT_TRUE(family.Disconnect());
    EXPECT_FALSE(family.IsConnected());
    ASSERT_EQ(sim.Requests().size(), 5u);
    EXPECT_EQ(PayloadOf(sim.Requests()[4]), Bytes{0x11});
    EXPECT_FALSE(family.Disconnect());
    EXPECT_EQ(family.ReadItem("%MW0"), "[err]");
}

TEST(UnityFamilyConnect, TransactionNumberAfter65535IsOne) {
    sims::UnitySim sim;
    ASSERT_TRUE(sim.Start());
    UnityOptions o = ShortTimeouts();
    o.lastTransaction = 65534;
    UnityFamily family(o);
    ASSERT_EQ(family.Connect(At(sim.port())), 0);
    const std::vector<Bytes> r = sim.Requests();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(TransactionOf(r[0]), 65535);
    EXPECT_EQ(TransactionOf(r[1]), 1);
    EXPECT_EQ(TransactionOf(r[2]), 2);
}

TEST(UnityFamilyConnect, Failures) {
    UnityFamily family(ShortTimeouts());
    EXPECT_EQ(family.Connect(GatewaySettings{"127.0.0.1:99999", 0, "", 1}), -3);
    EXPECT_EQ(family.Connect(GatewaySettings{"no-such-host.invalid", 0, "", 1}), -3);
    sims::UnitySim sim;
    ASSERT_TRUE(sim.Start());
    const uint16_t port = sim.port();
    sim.Stop();
    EXPECT_EQ(family.Connect(At(port)), -2);
    // A device that accepts but does not open the session: -1, and the link is closed.
    ASSERT_TRUE(sim.Start("127.0.0.1", port));
    sim.SetSilent(true);
    EXPECT_EQ(family.Connect(At(port)), -1);
    EXPECT_FALSE(family.IsConnected());
    EXPECT_EQ(sim.Requests().size(), 3u);  // the first opening request, three times
    sim.SetSilent(false);
    EXPECT_EQ(family.ReadItem("%MW0"), "[err]");
    EXPECT_EQ(sim.Requests().size(), 3u);  // nothing sent on the closed link
    EXPECT_EQ(family.Connect(At(port)), 0);
}

TEST_F(UnityFamilyTest, ReadsEveryServedForm) {
    sim.SetMemoryWord(10, 0xFFFF);
    sim.SetMemoryWord(11, 0x0008);
    sim.SetMemoryWord(20, 1234);
    sim.SetSystemWord(3, 77);
    sim.SetMemoryBit(4, true);
    sim.SetSystemBit(5, true);
    sim.SetMemoryReal(0, 1.5f);
    sim.SetMemoryDouble(4, static_cast<uint32_t>(-70000));
    sim.SetChannel(1, 0, 1, 2, 1);
    sim.SetChannel(4, 0, 2, 3, 40000);
    struct Case {
        const char* name;
        const char* item;
        const char* answer;
    };
    const Case cases[] = {
        {"word as typed", "%MW20", "1234"},
        {"lower case", "%mw20", "1234"},
        {"word holding -1 is unsigned", "%MW10", "65535"},
        {"bit 3 of a word set", "%MW11.3", "1"},
        {"bit 2 of a word clear", "%MW11.2", "0"},
        {"system word", "%SW3", "77"},
        {"memory bit", "%M4", "1"},
        {"memory bit clear", "%M5", "0"},
        {"system bit", "%S5", "1"},
        {"real", "%MF0", "1.5"},
        {"double word signed", "%MD4", "-70000"},
        {"input bit", "%I0.1.2", "1"},
        {"output word", "%QW0.2.3", "40000"},
        {"constant word", "%KW5", "[err]"},
        {"timer", "%TM0", "[err]"},
        {"bare number", "12", "[err]"},
        {"not a name", "hello", "[err]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(family.ReadItem(c.item), c.answer);
    }
    // The forms not served send nothing.
    EXPECT_EQ(sim.Requests().size(), 13u);
}

TEST_F(UnityFamilyTest, Writes) {
    family.WriteItem("%MW1=3");
    EXPECT_EQ(sim.MemoryWord(1), 3);
    family.WriteItem("%MF0=2.25");
    ASSERT_FALSE(sim.Requests().empty());
    const Bytes sent = PayloadOf(sim.Requests().back());
    ASSERT_GE(sent.size(), 4u);
    EXPECT_EQ(Bytes(sent.end() - 4, sent.end()), (Bytes{0x00, 0x00, 0x10, 0x40}));
    EXPECT_EQ(sim.MemoryReal(0), 2.25f);
    EXPECT_EQ(family.ReadItem("%MF0"), "2.25");
    family.WriteItem("%MD6=-5");
    EXPECT_EQ(family.ReadItem("%MD6"), "-5");
    family.WriteItem("%M9=1");
    EXPECT_TRUE(sim.MemoryBit(9));
    family.WriteItem("%Q0.1.2=1");
    EXPECT_EQ(sim.Channel(2, 0, 1, 2), 1);
    family.WriteItem("%IW0.1.2=513");
    EXPECT_EQ(family.ReadItem("%IW0.1.2"), "513");
    const size_t before = sim.Requests().size();
    for (const char* item : {"%MW10.3=1", "%KW5=1", "%MW1=abc", "%MW1", "%TM0=4"})
        family.WriteItem(item);
    EXPECT_EQ(sim.Requests().size(), before);  // none of them is sent
    EXPECT_EQ(sim.MemoryWord(10), 0);
}

TEST_F(UnityFamilyTest, AnswersOfAnotherTransactionAreRejectedAndTheRequestSentAgain) {
    sim.SetMemoryWord(0, 42);
    struct Case {
        const char* name;
        int wrong;
        const char* answer;
        size_t sent;
    };
    const Case cases[] = {
        {"one wrong", 1, "42", 2},
        {"two wrong", 2, "42", 3},
        {"three wrong: the exchange fails", 3, "[err]", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim.ClearRequests();
        sim.SetWrongTransactions(c.wrong);
        EXPECT_EQ(family.ReadItem("%MW0"), c.answer);
        const std::vector<Bytes> r = sim.Requests();
        ASSERT_EQ(r.size(), c.sent);
        for (const Bytes& frame : r) EXPECT_EQ(frame, r[0]);  // the same request each time
    }
    sim.SetWrongTransactions(0);
    EXPECT_EQ(family.ReadItem("%MW0"), "42");
}

TEST_F(UnityFamilyTest, RefusedRequests) {
    sim.SetMemoryWord(0, 42);
    sim.SetRejecting(true);
    EXPECT_EQ(family.ReadItem("%MW0"), "[err]");
    family.WriteItem("%MW0=7");
    sim.SetRejecting(false);
    EXPECT_EQ(family.ReadItem("%MW0"), "42");
}

TEST_F(UnityFamilyTest, ASilentDeviceYieldsErrWithinTheTimeouts) {
    sim.SetSilent(true);
    const auto start = Clock::now();
    EXPECT_EQ(family.ReadItem("%MW0"), "[err]");
    EXPECT_LT(Clock::now() - start, 3s);  // three tries of 200 ms, not a wait for ever
    EXPECT_EQ(sim.Requests().size(), 3u);
    // A late answer is not taken for the next request's.
    sim.SetSilent(false);
    sim.SetMemoryWord(0, 5);
    EXPECT_EQ(family.ReadItem("%MW0"), "5");
}

TEST_F(UnityFamilyTest, ASlowAnswerWithinTheTimeoutIsTaken) {
    sim.SetMemoryWord(0, 6);
    sim.SetDelay(50ms);
    EXPECT_EQ(family.ReadItem("%MW0"), "6");
    // An answer later than a try's wait but within the next try is still this request's.
    sim.SetDelay(300ms);
    EXPECT_EQ(family.ReadItem("%MW0"), "6");
    sim.SetDelay(700ms);  // later than all three tries
    EXPECT_EQ(family.ReadItem("%MW0"), "[err]");
    sim.SetDelay(0ms);
    std::this_thread::sleep_for(1000ms);  // the late answers arrive and are dropped
    EXPECT_EQ(family.ReadItem("%MW0"), "6");
}

TEST_F(UnityFamilyTest, AClosedConnectionFailsAndTheKeepAliveReportsIt) {
    sim.SetCloseOnNextRequest(true);
    EXPECT_EQ(family.ReadItem("%MW0"), "[err]");
    EXPECT_EQ(family.ReadItem("%MW0"), "[err]");
    EXPECT_TRUE(family.IsConnected());  // reads do not change the state
    EXPECT_EQ(family.Connect(At(sim.port())), -1);
    EXPECT_FALSE(family.IsConnected());
    EXPECT_EQ(family.Connect(At(sim.port())), 0);
    sim.SetMemoryWord(0, 9);
    EXPECT_EQ(family.ReadItem("%MW0"), "9");
}

TEST_F(UnityFamilyTest, OperationsFromTwoThreadsDoNotInterleave) {
    sim.SetMemoryWord(0, 11);
    sim.SetMemoryWord(1, 22);
    std::atomic<int> bad{0};
    auto reader = [&](const char* item, const char* expected) {
        for (int i = 0; i < 200; ++i)
            if (family.ReadItem(item) != expected) ++bad;
    };
    std::thread a(reader, "%MW0", "11");
    std::thread b(reader, "%MW1", "22");
    for (int i = 0; i < 20; ++i) EXPECT_EQ(family.Connect(At(sim.port())), 0);
    a.join();
    b.join();
    EXPECT_EQ(bad.load(), 0);
}

// A running program without a window, as serve has it, with one Unity gateway.
class UnityServedTest : public ::testing::Test, protected test::ServedProgram {
  protected:
    void SetUp() override {
        ASSERT_TRUE(sim.Start());
        ASSERT_EQ(started, 0);
        project.document().SetProperty(Add("unigateway"), "ip",
                                       "127.0.0.1:" + std::to_string(sim.port()));
    }

    sims::UnitySim sim;
};

TEST_F(UnityServedTest, PostsReadAndWriteThroughTheServer) {
    ASSERT_TRUE(generator.generateApplication());
    EXPECT_EQ(LastMessage(), LoadString(124));
    sim.SetMemoryWord(0, 7);
    sim.SetMemoryWord(2, 65535);
    EXPECT_EQ(Post("/UNI%MW0;%MW1=3;%MW2"), "7;65535");
    EXPECT_EQ(sim.MemoryWord(1), 3);
    EXPECT_EQ(Post("/uni%mw1"), "3");
    EXPECT_EQ(Post("/UNI%MW1=4"), "");
    EXPECT_EQ(Post("/UNI%KW5;%MW1"), "[err];4");
}

TEST_F(UnityServedTest, RetryTicksReportTheDeviceGoingAndComing) {
    ASSERT_TRUE(generator.generateApplication());
    EXPECT_EQ(LastMessage(), LoadString(124));
    gateways.RetryGateways(project.document());
    EXPECT_EQ(LastMessage(), LoadString(124));
    const uint16_t port = sim.port();
    sim.Stop();
    gateways.RetryGateways(project.document());
    EXPECT_EQ(LastMessage(), LoadString(123));  // the keep-alive failed
    EXPECT_EQ(log.Lines().back().colour, static_cast<unsigned>(kLogRed));
    EXPECT_EQ(Post("/UNI%MW0"), "[err]");
    gateways.RetryGateways(project.document());
    EXPECT_EQ(LastMessage(), LoadString(123) + " (127.0.0.1:" + std::to_string(port) +
                                 ": connection refused)");  // the connect is refused
    ASSERT_TRUE(sim.Start("127.0.0.1", port));
    sim.SetMemoryWord(0, 8);
    gateways.RetryGateways(project.document());
    EXPECT_EQ(LastMessage(), LoadString(124));
    EXPECT_EQ(Post("/UNI%MW0"), "8");
    // Regeneration stops (125) and starts (124) again.
    ASSERT_TRUE(generator.generateApplication());
    const std::vector<std::string> texts = Messages();
    ASSERT_GE(texts.size(), 3u);
    EXPECT_EQ(texts[texts.size() - 2], LoadString(125));
    EXPECT_EQ(texts[texts.size() - 1], LoadString(124));
}

TEST_F(UnityServedTest, ASilentDeviceAnswersErrWithinTheTimeout) {
    ASSERT_TRUE(generator.generateApplication());
    sim.SetSilent(true);
    const auto start = Clock::now();
    EXPECT_EQ(Post("/UNI%MW0"), "[err]");
    EXPECT_LT(Clock::now() - start, 10s);  // three tries of the family's receive time-out
    sim.SetSilent(false);
    sim.SetMemoryWord(0, 3);
    EXPECT_EQ(Post("/UNI%MW0"), "3");
}

// Prints reads per second and latencies of POST /UNI%MW0 through the server against the
// simulator, one connection per request. Run by hand:
//   integration_tests --gtest_also_run_disabled_tests --gtest_filter='*UnityReadBenchmark*'
TEST_F(UnityServedTest, DISABLED_UnityReadBenchmark) {
    ASSERT_TRUE(generator.generateApplication());
    sim.SetMemoryWord(0, 1);
    constexpr int kWarmUp = 200, kReads = 5000;
    for (int i = 0; i < kWarmUp; ++i) ASSERT_EQ(Post("/UNI%MW0"), "1");
    std::vector<double> micros;
    micros.reserve(kReads);
    const auto start = Clock::now();
    for (int i = 0; i < kReads; ++i) {
        const auto t0 = Clock::now();
        ASSERT_EQ(Post("/UNI%MW0"), "1");
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::sort(micros.begin(), micros.end());
    auto at = [&](double q) { return micros[static_cast<size_t>(q * (micros.size() - 1))]; };
    std::printf(
        "POST /UNI%%MW0, one connection per request, %d reads: %.0f reads/s, "
        "p50 %.0f us, p99 %.0f us, max %.0f us\n",
        kReads, kReads / seconds, at(0.5), at(0.99), micros.back());
}

}  // namespace
}  // namespace tsr
