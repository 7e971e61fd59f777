// The S7 family against our own simulator: the frames on the wire, the values, the read cache,
// the writes, and what the simulator can be told to do that a real controller does by accident
// (no answer, a late answer, a refused connection).
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "gateways/s7/packets.h"
#include "gateways/s7/s7_frames.h"
#include "gateways/s7/s7_gateway.h"
#include "s7_sim.h"

namespace tsr {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr uint8_t kM = s7::kAreaFlags;

class S7GatewayTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sim.Start()); }
    GatewaySettings Settings(int ucpos = 0) {
        GatewaySettings s;
        s.ip = "127.0.0.1:" + std::to_string(sim.port());
        s.ucpos = ucpos;
        return s;
    }
    void ConnectOrFail(int ucpos = 0) { ASSERT_EQ(family.Connect(Settings(ucpos)), 0); }

    sims::S7Sim sim;
    Clock::time_point now = Clock::now();
    S7Family family{[this] { return now; }};
};

TEST_F(S7GatewayTest, ConnectsWithEitherRequestForm) {
    struct Case {
        int ucpos;
        std::vector<uint8_t> request;
        std::vector<uint8_t> setup;
    } cases[] = {
        {0, s7::ConnectionRequestPacket(0), s7::DataPacket(s7::BuildSetupCommunication(false))},
        {2, s7::ConnectionRequestPacket(2), s7::DataPacket(s7::BuildSetupCommunication(true))},
    };
    for (const Case& c : cases) {
        S7Family f;
        ASSERT_EQ(f.Connect(Settings(c.ucpos)), 0) << c.ucpos;
        EXPECT_TRUE(f.IsConnected());
        EXPECT_EQ(sim.LastConnectionRequest(), c.request) << c.ucpos;
        EXPECT_EQ(sim.LastSetup(), c.setup) << c.ucpos;
        EXPECT_TRUE(f.Disconnect());
        EXPECT_FALSE(f.IsConnected());
        EXPECT_FALSE(f.Disconnect());  // nothing left to report
    }
    // The called TSAP on the wire: 03 followed by the ucpos byte.
    EXPECT_EQ(sim.LastConnectionRequest()[17], 0x03);
    EXPECT_EQ(sim.LastConnectionRequest()[18], 0x02);
}

TEST_F(S7GatewayTest, ReadsValuesOfEveryForm) {
    ConnectOrFail();
    sim.SetBytes(kM, 10, {0x01, 0x02});
    sim.SetBytes(kM, 20, {0x00, 0x00, 0x01, 0x00});
    sim.SetBytes(kM, 30, {0x3F, 0xC0, 0x00, 0x00});
    sim.SetBytes(kM, 40, {0x00, 0x02});
    sim.SetBytes(s7::kAreaInputs, 2, {0x08});
    sim.SetBytes(s7::kAreaOutputs, 4, {0xFF, 0xFE});
    struct Case {
        const char* name;
        const char* expected;
    } cases[] = {
        {"%MW10", "258"}, {"%MD20", "256"}, {"%MF30", "1.5"}, {"%M40.9", "1"}, {"%M40.1", "0"},
        {"%I2.3", "1"},   {"%I2.2", "0"},   {"%QW4", "65534"}, {"%QD4", "-131072"},
        {"%mw10", "[err]"}, {"%MB10", "[err]"}, {"%MW10 x", "[err]"}, {"%MW70000", "[err]"},
    };
    for (const Case& c : cases) EXPECT_EQ(family.ReadItem(c.name), c.expected) << c.name;
}

TEST_F(S7GatewayTest, ReadCacheKeepsAFourByteBlockFor100Milliseconds) {
    ConnectOrFail();
    sim.SetBytes(kM, 10, {0x00, 0x05});
    EXPECT_EQ(family.ReadItem("%MW10"), "5");
    sim.SetBytes(kM, 10, {0x00, 0x06});
    EXPECT_EQ(family.ReadItem("%MW10"), "5");  // from the cache: one request for both
    EXPECT_EQ(sim.reads(), 1);
    EXPECT_EQ(family.ReadItem("%MW12"), "0");  // another byte address: another request
    EXPECT_EQ(sim.reads(), 2);
    now += 99ms;  // at most 99 ms old: still from the cache
    EXPECT_EQ(family.ReadItem("%MW10"), "5");
    EXPECT_EQ(sim.reads(), 2);
    now += 1ms;
    EXPECT_EQ(family.ReadItem("%MW10"), "6");
    EXPECT_EQ(sim.reads(), 3);
    S7Statistics s = family.Statistics();
    EXPECT_EQ(s.cacheHits, 2u);
    EXPECT_EQ(s.cacheMisses, 3u);
}

TEST_F(S7GatewayTest, ReadCacheReplacesTheOldestOf32Entries) {
    ConnectOrFail();
    for (int byte = 0; byte < 32; ++byte) {
        family.ReadItem("%MW" + std::to_string(byte * 4));
        now += 1ms;
    }
    ASSERT_EQ(sim.reads(), 32);
    family.ReadItem("%MW200");  // takes the entry of %MW0, the oldest
    ASSERT_EQ(sim.reads(), 33);
    family.ReadItem("%MW4");    // still cached
    EXPECT_EQ(sim.reads(), 33);
    family.ReadItem("%MW0");    // read again
    EXPECT_EQ(sim.reads(), 34);
}

TEST_F(S7GatewayTest, WritesEveryForm) {
    ConnectOrFail();
    sim.SetBytes(kM, 10, {0xAA, 0x00});
    family.WriteItem("%MW20=258");
    family.WriteItem("%MD30=-2");
    family.WriteItem("%MF40=1.5");
    family.WriteItem("%QW2=7");
    EXPECT_EQ(sim.GetBytes(kM, 20, 2), (std::vector<uint8_t>{0x01, 0x02}));
    EXPECT_EQ(sim.GetBytes(kM, 30, 4), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFE}));
    EXPECT_EQ(sim.GetBytes(kM, 40, 4), (std::vector<uint8_t>{0x3F, 0xC0, 0x00, 0x00}));
    EXPECT_EQ(sim.GetBytes(s7::kAreaOutputs, 2, 2), (std::vector<uint8_t>{0x00, 0x07}));
    // Bit 9 from byte 10 is bit 1 of byte 11, as the read counts it; byte 10 stays.
    struct Case {
        const char* item;
        uint8_t byte11;
    } bits[] = {{"%M10.9=1", 0x02}, {"%M10.9=1", 0x02}, {"%M10.8=2", 0x03}, {"%M10.9=0", 0x01},
                {"%M10.9=3", 0x01}, {"%M10.9=x", 0x01}};
    for (const Case& c : bits) {
        family.WriteItem(c.item);
        EXPECT_EQ(sim.GetBytes(kM, 10, 2), (std::vector<uint8_t>{0xAA, c.byte11})) << c.item;
    }
    EXPECT_EQ(family.ReadItem("%M10.8"), "1");
    // A write drops the cached reads it overlaps: the page sees the new value at once.
    EXPECT_EQ(family.ReadItem("%MW20"), "258");
    family.WriteItem("%MW20=9");
    EXPECT_EQ(family.ReadItem("%MW20"), "9");
    // Invalid names and values write nothing.
    const int writes = sim.writes();
    for (const char* item : {"%MW20=abc", "%mw20=1", "%MW20", "%MB20=1", "%MW20="}) {
        family.WriteItem(item);
    }
    EXPECT_EQ(sim.writes(), writes);
    EXPECT_EQ(sim.GetBytes(kM, 20, 2), (std::vector<uint8_t>{0x00, 0x09}));
}

TEST_F(S7GatewayTest, NoAnswerWithin500MillisecondsIsAnError) {
    ConnectOrFail();
    sim.SetSilent(true);
    const auto start = Clock::now();
    EXPECT_EQ(family.ReadItem("%MW10"), "[err]");
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, 450ms);
    EXPECT_LT(waited, 2000ms);
    // The keep-alive of the next retry tick finds no controller: disconnected, failure.
    EXPECT_EQ(family.Connect(Settings()), -1);
    EXPECT_FALSE(family.IsConnected());
    sim.SetSilent(false);
    EXPECT_EQ(family.Connect(Settings()), 0);
    EXPECT_EQ(family.ReadItem("%MW10"), "0");
}

TEST_F(S7GatewayTest, ALateAnswerIsNeverTakenForTheNextRequest) {
    ConnectOrFail();
    sim.SetBytes(kM, 10, {0x00, 0x0A});
    sim.SetBytes(kM, 12, {0x00, 0x0C});
    sim.SetBytes(kM, 20, {0x00, 0x14});
    // Answered long after the time-out: it has arrived before the next request is sent.
    sim.SetAnswerDelay(700ms, 1);
    EXPECT_EQ(family.ReadItem("%MW10"), "[err]");
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(family.ReadItem("%MW12"), "12");
    // Answered just after the time-out: it arrives while the next request waits, before that
    // request's own answer, and is passed over.
    sim.SetAnswerDelay(600ms, 1);
    EXPECT_EQ(family.ReadItem("%MD20"), "[err]");
    EXPECT_EQ(family.ReadItem("%MW16"), "0");
    EXPECT_EQ(family.ReadItem("%MW20"), "20");
}

TEST_F(S7GatewayTest, ARefusedConnectionFails) {
    sim.SetRefuseConnections(true);
    EXPECT_EQ(family.Connect(Settings()), -1);
    EXPECT_FALSE(family.IsConnected());
    EXPECT_EQ(family.ReadItem("%MW10"), "[err]");
    sim.SetRefuseConnections(false);
    ConnectOrFail();
    // Nothing listening at all.
    const GatewaySettings gone = Settings();
    sim.Stop();
    S7Family other;
    EXPECT_EQ(other.Connect(gone), -1);
    // The keep-alive of the connected family finds the connection closed.
    EXPECT_EQ(family.Connect(gone), -1);
    EXPECT_FALSE(family.IsConnected());
}

TEST_F(S7GatewayTest, ASilentControllerFailsTheConnectionInTime) {
    sim.SetSilent(true);
    const auto start = Clock::now();
    EXPECT_EQ(family.Connect(Settings()), -1);
    EXPECT_LT(Clock::now() - start, 2000ms);
    EXPECT_FALSE(family.IsConnected());
}

TEST_F(S7GatewayTest, KeepAliveAtEachCheck) {
    ConnectOrFail();
    EXPECT_EQ(sim.cpuStateRequests(), 0);
    EXPECT_EQ(family.Connect(Settings()), 0);
    EXPECT_EQ(family.Connect(Settings()), 0);
    EXPECT_EQ(sim.cpuStateRequests(), 2);
    EXPECT_TRUE(family.IsConnected());
}

}  // namespace
}  // namespace tsr
