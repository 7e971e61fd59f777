// The KX family against the KX program stand-in, through real POSIX shared memory: claim and
// connection check, reads and writes by type, the failure rules, and blocks that lie.
#include "gateways/kx/kx_gateway.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <bit>
#include <chrono>
#include <thread>

#include "gateways/kx/block.h"
#include "kx_sim.h"

namespace tsr {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using sims::KxSim;

// Block names of this test process only, so parallel runs never meet.
std::string TestPrefix() {
    return "tsrtest" + std::to_string(getpid()) + "_";
}

uint32_t OwnPid() {
    return static_cast<uint32_t>(getpid());
}

class KxGatewayTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.Start());
        KxOptions options;
        options.namePrefix = TestPrefix();
        family = MakeKxFamily(log, options);
    }
    void Connect() { ASSERT_EQ(family->Connect(GatewaySettings{}), 1); }

    KxSim sim{TestPrefix()};
    NullLogSink log;
    std::unique_ptr<ConnectedFamily> family;
};

TEST_F(KxGatewayTest, ClaimsTheFirstFreeBlockAndChecksTheConnection) {
    EXPECT_FALSE(family->IsConnected());
    Connect();
    EXPECT_TRUE(family->IsConnected());
    EXPECT_EQ(sim.Owner(1), OwnPid());
    EXPECT_EQ(sim.CommandCount(4), 1);
    EXPECT_EQ(family->Connect(GatewaySettings{}), 0);  // already connected: no check
    EXPECT_EQ(sim.CommandCount(4), 1);
}

TEST_F(KxGatewayTest, AnOwnedBlockIsSkipped) {
    ASSERT_TRUE(sim.SetOwner(1, 4242));
    Connect();
    EXPECT_EQ(sim.Owner(1), 4242u);
    EXPECT_EQ(sim.Owner(2), OwnPid());
}

TEST_F(KxGatewayTest, NoFreeBlockFails) {
    for (unsigned n = 1; n <= 8; ++n) ASSERT_TRUE(sim.SetOwner(n, 4242));
    EXPECT_EQ(family->Connect(GatewaySettings{}), -1);
    EXPECT_FALSE(family->IsConnected());
    EXPECT_EQ(family->ReadItem("x"), "[err]");
}

TEST(KxGatewayNoProgram, ConnectFailsWithoutBlocks) {
    NullLogSink log;
    KxOptions options;
    options.namePrefix = TestPrefix();
    auto family = MakeKxFamily(log, options);
    EXPECT_EQ(family->Connect(GatewaySettings{}), -1);
    EXPECT_EQ(family->ReadItem("%MW0@XPI$1"), "[err]");
    family->WriteItem("%MW0@XPI$1=3");
    EXPECT_FALSE(family->Disconnect());
}

TEST_F(KxGatewayTest, ReadsValuesByType) {
    sim.SetInteger("%MW0@XPI#1", 42);
    sim.SetInteger("%MW1@XPI#1", -7, 2);
    sim.SetSingle("%MF0@XPI#1", 1.5f);
    sim.SetDouble("%MD0@XPI#1", 1e20);
    sim.SetDouble("%MD1@XPI#1", 0.125);
    Connect();
    struct Case {
        const char* item;
        const char* expected;
    };
    const Case cases[] = {
        {"%MW0@XPI$1", "42"},    {"%MW1@XPI$1", "-7"},    {"%MF0@XPI$1", "1.5"},
        {"%MD0@XPI$1", "1e+20"}, {"%MD1@XPI$1", "0.125"}, {"%MW0@XPI#1", "42"},
    };
    for (const Case& c : cases) EXPECT_EQ(family->ReadItem(c.item), c.expected) << c.item;
    EXPECT_TRUE(family->IsConnected());
}

TEST_F(KxGatewayTest, OnlyTheLastDollarIsReplaced) {
    sim.SetInteger("%MW0@XPI#1", 1);
    sim.SetInteger("A$B@GW#2", 2);
    Connect();
    EXPECT_EQ(family->ReadItem("%MW0@XPI$1"), "1");
    EXPECT_EQ(family->ReadItem("A$B@GW$2"), "2");
    EXPECT_EQ(sim.NamesSeen(), (std::vector<std::string>{"%MW0@XPI#1", "A$B@GW#2"}));
}

TEST_F(KxGatewayTest, AnUnknownVariableReadsItsValueField) {
    // The record's status is not inspected: an unknown variable reads as the zero value.
    Connect();
    EXPECT_EQ(family->ReadItem("nothing@here"), "0");
    EXPECT_TRUE(family->IsConnected());
}

TEST_F(KxGatewayTest, WritesConvertTheValueByType) {
    sim.SetInteger("i@g#1", 0);
    sim.SetSingle("f@g#1", 0);
    sim.SetDouble("d@g#1", 0);
    Connect();
    family->WriteItem("i@g$1=-5");
    family->WriteItem("f@g$1=2.5");
    family->WriteItem("d@g$1=-1e20");
    EXPECT_EQ(sim.CommandCount(3), 3);
    EXPECT_EQ(sim.CommandCount(2), 3);
    const KxSim::Variable i = *sim.Get("i@g#1");
    EXPECT_EQ(i.low, 0xFFFFFFFBu);
    EXPECT_EQ(i.high, 0xFFFFFFFFu);
    const KxSim::Variable f = *sim.Get("f@g#1");
    EXPECT_EQ(f.low, std::bit_cast<uint32_t>(2.5f));
    EXPECT_EQ(f.high, 0u);
    const KxSim::Variable d = *sim.Get("d@g#1");
    EXPECT_EQ(static_cast<uint64_t>(d.high) << 32 | d.low, std::bit_cast<uint64_t>(-1e20));
    EXPECT_EQ(family->ReadItem("d@g$1"), "-1e+20");
}

TEST_F(KxGatewayTest, AWriteToAnUnknownVariableSendsNoWriteBatch) {
    Connect();
    family->WriteItem("missing@g$1=3");
    EXPECT_EQ(sim.CommandCount(3), 1);
    EXPECT_EQ(sim.CommandCount(2), 0);
    EXPECT_TRUE(family->IsConnected());
}

TEST_F(KxGatewayTest, AStoppedHeartbeatFailsTheReadAfterAboutFourSecondsAndReleases) {
    sim.SetInteger("v@g#1", 1);
    Connect();
    sim.SetStopped(true);
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(family->ReadItem("v@g$1"), "[err]");
    const auto took = Clock::now() - start;
    EXPECT_GE(took, 3900ms);  // four looks about a second apart, not earlier
    EXPECT_LT(took, 5900ms);  // the watchdog, before the command limit
    EXPECT_FALSE(family->IsConnected());
    EXPECT_EQ(sim.Owner(1), 0u);
    EXPECT_EQ(sim.Snapshot(1), std::vector<uint8_t>(kx::kBlockSize, 0));
    sim.SetStopped(false);
    Connect();  // the next tick claims a block again
    EXPECT_EQ(family->ReadItem("v@g$1"), "1");
}

TEST_F(KxGatewayTest, ACommandLeftUnfinishedEndsAtTheLimit) {
    sim.SetInteger("v@g#1", 1);
    Connect();
    sim.SetLeaveUnfinished(true);
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(family->ReadItem("v@g$1"), "[err]");
    EXPECT_GE(Clock::now() - start, 5900ms);  // the heartbeat advanced: no watchdog failure
    EXPECT_FALSE(family->IsConnected());
    EXPECT_EQ(sim.Owner(1), 0u);
}

TEST_F(KxGatewayTest, ARefusedCommand) {
    sim.SetInteger("v@g#1", 1);
    sim.SetRefusing(true);
    EXPECT_EQ(family->Connect(GatewaySettings{}), -1);
    EXPECT_EQ(sim.Owner(1), 0u);
    sim.SetRefusing(false);
    Connect();
    sim.SetRefusing(true);
    family->WriteItem("v@g$1=5");  // silent, and the block is kept
    EXPECT_TRUE(family->IsConnected());
    EXPECT_EQ(family->ReadItem("v@g$1"), "[err]");
    EXPECT_FALSE(family->IsConnected());
    EXPECT_EQ(sim.Owner(1), 0u);
}

TEST_F(KxGatewayTest, AnUnansweredConnectionCheckFailsWithin500Ms) {
    sim.SetStopped(true);
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(family->Connect(GatewaySettings{}), -1);
    EXPECT_GE(Clock::now() - start, 500ms);
    EXPECT_EQ(sim.Owner(1), 0u);
}

TEST_F(KxGatewayTest, LyingRecordsGiveErrNeverACrash) {
    sim.SetInteger("v@g#1", 9);
    const KxSim::RecordLie lies[] = {
        KxSim::RecordLie::SizePastEnd,      KxSim::RecordLie::SizeTooSmall,
        KxSim::RecordLie::NameUnterminated, KxSim::RecordLie::SizeTooLarge,
        KxSim::RecordLie::CountZero,
    };
    for (KxSim::RecordLie lie : lies) {
        sim.SetRecordLie(KxSim::RecordLie::None);
        Connect();
        sim.SetRecordLie(lie);
        family->WriteItem("v@g$1=3");  // the type answer does not check: no write batch
        EXPECT_TRUE(family->IsConnected()) << static_cast<int>(lie);
        EXPECT_EQ(family->ReadItem("v@g$1"), "[err]") << static_cast<int>(lie);
        EXPECT_FALSE(family->IsConnected()) << static_cast<int>(lie);
    }
    EXPECT_EQ(sim.CommandCount(2), 0);
    EXPECT_EQ(sim.Get("v@g#1")->low, 9u);
}

TEST_F(KxGatewayTest, AShortenedObjectIsNeverMappedPastItsEnd) {
    sim.SetInteger("v@g#1", 9);
    ASSERT_TRUE(sim.Shorten(1, 4096));
    Connect();  // block 1 is refused, block 2 claimed
    EXPECT_EQ(sim.Owner(2), OwnPid());
    EXPECT_EQ(family->ReadItem("v@g$1"), "9");
    ASSERT_TRUE(sim.Shorten(2, 100));  // shortened under the claimed mapping
    EXPECT_EQ(family->ReadItem("v@g$1"), "[err]");
    EXPECT_FALSE(family->IsConnected());
    for (unsigned n = 3; n <= 8; ++n) ASSERT_TRUE(sim.Shorten(n, 65535));
    EXPECT_EQ(family->Connect(GatewaySettings{}), -1);
}

TEST_F(KxGatewayTest, DisconnectClearsTheWholeBlock) {
    sim.SetInteger("v@g#1", 1);
    Connect();
    EXPECT_EQ(family->ReadItem("v@g$1"), "1");
    EXPECT_TRUE(family->Disconnect());
    EXPECT_EQ(sim.Snapshot(1), std::vector<uint8_t>(kx::kBlockSize, 0));
    EXPECT_FALSE(family->Disconnect());
    EXPECT_EQ(family->ReadItem("v@g$1"), "[err]");
}

TEST_F(KxGatewayTest, TheBlockCarriesTheBatch) {
    // After a read, the block holds the owner, the client tick, the count and the record.
    sim.SetInteger("v@g#1", 77);
    Connect();
    ASSERT_EQ(family->ReadItem("v@g$1"), "77");
    std::vector<uint8_t> b = sim.Snapshot(1);
    std::span<uint8_t> block(b);
    EXPECT_EQ(kx::LoadWord(block, kx::kOwnerOffset), OwnPid());
    EXPECT_NE(kx::LoadWord(block, kx::kClientTickOffset), 0u);
    EXPECT_EQ(kx::LoadWord(block, kx::kCommandOffset), 0x01000001u);
    EXPECT_EQ(kx::LoadWord(block, kx::kCountOffset), 1u);
    kx::Record r;
    ASSERT_EQ(kx::ParseRecord(block, 0, &r), kx::BlockError::None);
    EXPECT_EQ(r.name, "v@g#1");
    EXPECT_EQ(r.low, 77u);
}

TEST(KxGatewayNames, BlockNames) {
    EXPECT_EQ(KxBlockName("", 1), "/kxxg#1");
    EXPECT_EQ(KxBlockName("t1_", 8), "/t1_kxxg#8");
}

}  // namespace
}  // namespace tsr
