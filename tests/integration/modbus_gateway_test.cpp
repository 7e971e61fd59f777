// The Modbus TCP family against our simulator: every kind and type, the faults, two devices.
#include "gateways/modbus/modbus_gateway.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "base/strings.h"
#include "modbus_sim.h"
#include "served_program.h"

namespace tsr {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using Garble = sims::ModbusSim::Garble;

ModbusOptions ShortTimeouts() {
    ModbusOptions o;
    o.connectTimeout = 1000ms;
    o.sendTimeout = 500ms;
    o.answerTimeout = 300ms;
    return o;
}

GatewaySettings Gateway(const std::string& id, uint16_t port, int unit = 1) {
    GatewaySettings s;
    s.ip = "127.0.0.1:" + std::to_string(port);
    s.id = id;
    s.unit = unit;
    return s;
}

// The PDU of a request frame (after the 7-byte header).
Bytes PduOf(const Bytes& frame) {
    return Bytes(frame.begin() + 7, frame.end());
}

// The connections the simulator has accepted, once its accepting thread has caught up.
int SettledAccepted(const sims::ModbusSim& sim) {
    std::this_thread::sleep_for(100ms);
    return sim.Accepted();
}

std::vector<Bytes> Pdus(const sims::ModbusSim& sim) {
    std::vector<Bytes> out;
    for (const Bytes& f : sim.Requests()) out.push_back(PduOf(f));
    return out;
}

class ModbusFamilyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(sim.Start());
        ASSERT_EQ(family.Connect(Gateway("mb1", sim.port())), 0);
        sim.ClearRequests();
    }
    sims::ModbusSim sim;
    ModbusFamily family{ShortTimeouts()};
};

TEST(ModbusFamilyConnect, ConnectsChecksAndFails) {
    ModbusFamily family(ShortTimeouts());
    EXPECT_FALSE(family.IsConnected());
    struct Case {
        const char* name;
        GatewaySettings settings;
        int result;
    };
    const Case cases[] = {
        {"port out of range", {"127.0.0.1:99999", 0, "a", 1}, -3},
        {"unknown host", {"no-such-host.invalid", 0, "b", 1}, -3},
        {"unit past 255", {"127.0.0.1:1", 0, "c", 256}, -3},
        {"negative unit", {"127.0.0.1:1", 0, "d", -1}, -3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(family.Connect(c.settings), c.result);
    }
    sims::ModbusSim sim;
    ASSERT_TRUE(sim.Start());
    const uint16_t port = sim.port();
    sim.Stop();
    EXPECT_EQ(family.Connect(Gateway("mb1", port)), -2);  // refused
    EXPECT_EQ(family.ReadItem("mb1/hr0"), "[err]");
    ASSERT_TRUE(sim.Start("127.0.0.1", port));
    EXPECT_EQ(family.Connect(Gateway("mb1", port)), 0);
    EXPECT_TRUE(family.IsConnected());
    EXPECT_EQ(family.Connect(Gateway("mb1", port)), 0);  // the check
    EXPECT_EQ(SettledAccepted(sim), 1);
    EXPECT_TRUE(sim.Requests().empty());  // connecting and checking send nothing
    // A peer that closed is seen at the check and connected again.
    sim.DropConnections();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(family.Connect(Gateway("mb1", port)), 0);
    EXPECT_EQ(SettledAccepted(sim), 2);
    EXPECT_TRUE(family.Disconnect(Gateway("mb1", port)));
    EXPECT_FALSE(family.IsConnected());
    EXPECT_FALSE(family.Disconnect(Gateway("mb1", port)));
    EXPECT_EQ(family.ReadItem("mb1/hr0"), "[err]");  // forgotten
}

TEST(ModbusFamilyConnect, TransactionNumberAfter65535IsOne) {
    sims::ModbusSim sim;
    ASSERT_TRUE(sim.Start());
    ModbusOptions o = ShortTimeouts();
    o.lastTransaction = 65534;
    ModbusFamily family(o);
    ASSERT_EQ(family.Connect(Gateway("mb1", sim.port())), 0);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(family.ReadItem("mb1/hr0"), "0");
    const std::vector<Bytes> r = sim.Requests();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0], (Bytes{0xFF, 0xFF, 0, 0, 0, 6, 1, 3, 0, 0, 0, 1}));
    EXPECT_EQ(r[1], (Bytes{0x00, 0x01, 0, 0, 0, 6, 1, 3, 0, 0, 0, 1}));
    EXPECT_EQ(r[2], (Bytes{0x00, 0x02, 0, 0, 0, 6, 1, 3, 0, 0, 0, 1}));
}

TEST_F(ModbusFamilyTest, ReadsEveryKindAndType) {
    sim.SetCoil(3, true);
    sim.SetDiscreteInput(4, true);
    sim.SetHoldingRegister(0, 65535);
    sim.SetHoldingRegister(1, 0x0008);
    sim.SetHoldingRegister(10, 0x0001);  // u32 65538, high word first
    sim.SetHoldingRegister(11, 0x0002);
    sim.SetHoldingRegister(20, 0xEE90);  // s32le -70000, low word first
    sim.SetHoldingRegister(21, 0xFFFE);
    sim.SetHoldingFloat(30, 1.5f);
    sim.SetHoldingRegister(40, 0x0000);  // f32le 1.5
    sim.SetHoldingRegister(41, 0x3FC0);
    sim.SetInputRegister(5, 1234);
    sim.SetInputRegister(6, 0xFFFF);
    struct Case {
        const char* item;
        const char* answer;
        Bytes pdu;  // the request sent; empty: nothing is sent
    };
    const Case cases[] = {
        {"mb1/co3", "1", {1, 0, 3, 0, 1}},
        {"mb1/co2", "0", {1, 0, 2, 0, 1}},
        {"mb1/di4", "1", {2, 0, 4, 0, 1}},
        {"mb1/hr0", "65535", {3, 0, 0, 0, 1}},
        {"MB1/HR0", "[err]", {}},  // gateway ids are compared as written
        {"mb1/HR0", "65535", {3, 0, 0, 0, 1}},
        {"mb1/hr0:s16", "-1", {3, 0, 0, 0, 1}},
        {"mb1/hr1.3", "1", {3, 0, 1, 0, 1}},
        {"mb1/hr1.2", "0", {3, 0, 1, 0, 1}},
        {"mb1/hr10:u32", "65538", {3, 0, 10, 0, 2}},
        {"mb1/hr10:s32", "65538", {3, 0, 10, 0, 2}},
        {"mb1/hr20:s32le", "-70000", {3, 0, 20, 0, 2}},
        {"mb1/hr20:u32le", "4294897296", {3, 0, 20, 0, 2}},
        {"mb1/hr30:f32", "1.5", {3, 0, 30, 0, 2}},
        {"mb1/hr40:f32le", "1.5", {3, 0, 40, 0, 2}},
        {"mb1/ir5", "1234", {4, 0, 5, 0, 1}},
        {"mb1/ir6:s16", "-1", {4, 0, 6, 0, 1}},
        {"hr0", "65535", {3, 0, 0, 0, 1}},  // no gateway: the first one
        {"mb1/hr1:u64", "[err]", {}},
        {"mb1/zz1", "[err]", {}},
        {"mb9/hr0", "[err]", {}},
        {"", "[err]", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.item);
        sim.ClearRequests();
        EXPECT_EQ(family.ReadItem(c.item), c.answer);
        const std::vector<Bytes> sent = Pdus(sim);
        if (c.pdu.empty()) {
            EXPECT_TRUE(sent.empty());
            continue;
        }
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0], c.pdu);
    }
}

TEST_F(ModbusFamilyTest, WritesLandInTheTables) {
    struct Case {
        const char* item;
        const char* readBack;  // the variable read in the simulator afterwards
        const char* value;
        Bytes pdu;  // the request sent; empty: nothing is sent
    };
    const Case cases[] = {
        {"mb1/co5=1", "co5", "1", {5, 0, 5, 0xFF, 0}},
        {"mb1/co5=0", "co5", "0", {5, 0, 5, 0, 0}},
        {"mb1/hr1=3", "hr1", "3", {6, 0, 1, 0, 3}},
        {"mb1/hr1=-2", "hr1:s16", "-2", {6, 0, 1, 0xFF, 0xFE}},
        {"mb1/hr2:u32=65538", "hr2:u32", "65538", {16, 0, 2, 0, 2, 4, 0, 1, 0, 2}},
        {"mb1/hr2:s32le=-70000",
         "hr2:s32le",
         "-70000",
         {16, 0, 2, 0, 2, 4, 0xEE, 0x90, 0xFF, 0xFE}},
        {"mb1/hr4:f32=2.25", "hr4:f32", "2.25", {16, 0, 4, 0, 2, 4, 0x40, 0x10, 0, 0}},
        {"mb1/hr4:f32le=-1.5", "hr4:f32le", "-1.5", {16, 0, 4, 0, 2, 4, 0, 0, 0xBF, 0xC0}},
        {"mb1/hr7.4=1", "hr7", "16", {22, 0, 7, 0xFF, 0xEF, 0, 0x10}},
        {"mb1/hr7.0=1", "hr7", "17", {22, 0, 7, 0xFF, 0xFE, 0, 0x01}},
        {"mb1/hr7.4=0", "hr7", "1", {22, 0, 7, 0xFF, 0xEF, 0, 0}},
        {"mb1/di1=1", "di1", "0", {}},
        {"mb1/ir1=1", "ir1", "0", {}},
        {"mb1/hr1=abc", "hr1", "65534", {}},
        {"mb1/hr1=70000", "hr1", "65534", {}},
        {"mb1/hr1", "hr1", "65534", {}},
        {"mb1/xx1=1", "hr1", "65534", {}},
        {"mb9/hr1=1", "hr1", "65534", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.item);
        sim.ClearRequests();
        family.WriteItem(c.item);
        EXPECT_EQ(sim.Get(c.readBack).value_or("?"), c.value);
        const std::vector<Bytes> sent = Pdus(sim);
        if (c.pdu.empty()) {
            EXPECT_TRUE(sent.empty());
            continue;
        }
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0], c.pdu);
    }
    // What was written reads back through the family.
    EXPECT_EQ(family.ReadItem("mb1/hr4:f32le"), "-1.5");
    EXPECT_EQ(family.ReadItem("mb1/co5"), "0");
}

TEST_F(ModbusFamilyTest, RegisterBitsWithoutMaskWriteAreReadAndWrittenBack) {
    sim.SetMaskWriteServed(false);
    sim.SetHoldingRegister(7, 0x0101);
    family.WriteItem("mb1/hr7.4=1");
    EXPECT_EQ(sim.HoldingRegister(7), 0x0111);
    std::vector<Bytes> sent = Pdus(sim);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0], (Bytes{22, 0, 7, 0xFF, 0xEF, 0, 0x10}));  // answered "illegal function"
    EXPECT_EQ(sent[1], (Bytes{3, 0, 7, 0, 1}));
    EXPECT_EQ(sent[2], (Bytes{6, 0, 7, 0x01, 0x11}));
    // The device is known now: read and write back at once.
    sim.ClearRequests();
    family.WriteItem("mb1/hr7.0=0");
    EXPECT_EQ(sim.HoldingRegister(7), 0x0110);
    sent = Pdus(sim);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], (Bytes{3, 0, 7, 0, 1}));
    EXPECT_EQ(sent[1], (Bytes{6, 0, 7, 0x01, 0x10}));
}

TEST_F(ModbusFamilyTest, AdjacentRegistersOfOneRequestAreReadTogether) {
    std::vector<std::string> owned;
    for (int i = 0; i < 10; ++i) {
        sim.SetHoldingRegister(static_cast<uint16_t>(i), static_cast<uint16_t>(100 + i));
        owned.push_back("mb1/hr" + std::to_string(i));
    }
    owned.push_back("mb1/ir0");
    owned.push_back("mb1/hr20");
    owned.push_back("mb1/bad");
    std::vector<std::string_view> items(owned.begin(), owned.end());
    const std::vector<std::string> texts = family.ReadItems(items);
    const std::vector<std::string> expected = {"100", "101", "102", "103", "104", "105",  "106",
                                               "107", "108", "109", "0",   "0",   "[err]"};
    EXPECT_EQ(texts, expected);
    const std::vector<Bytes> sent = Pdus(sim);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0], (Bytes{3, 0, 0, 0, 10}));
    EXPECT_EQ(sent[1], (Bytes{3, 0, 20, 0, 1}));
    EXPECT_EQ(sent[2], (Bytes{4, 0, 0, 0, 1}));
}

TEST_F(ModbusFamilyTest, ARefusedBlockIsReadItemByItem) {
    sim.SetTableSize(10);
    sim.SetHoldingRegister(8, 8);
    sim.SetHoldingRegister(9, 9);
    const std::string_view items[] = {"mb1/hr8", "mb1/hr9", "mb1/hr10", "mb1/hr11"};
    EXPECT_EQ(family.ReadItems(items), (std::vector<std::string>{"8", "9", "[err]", "[err]"}));
    EXPECT_EQ(Pdus(sim).size(), 5u);    // the block, then each item alone
    EXPECT_TRUE(family.IsConnected());  // an exception leaves the connection open
}

TEST_F(ModbusFamilyTest, FaultsGiveErrAndNeverStall) {
    sim.SetHoldingRegister(0, 42);
    struct Case {
        const char* name;
        std::function<void()> fault;
        const char* answer;
        bool staysConnected;
    };
    const Case cases[] = {
        {"exception", [&] { sim.SetException(4); }, "[err]", true},
        {"another transaction", [&] { sim.SetWrongTransactions(1); }, "[err]", false},
        {"a stray answer first", [&] { sim.SetStrayAnswers(1); }, "42", true},
        {"another unit", [&] { sim.SetGarble(Garble::WrongUnit); }, "[err]", false},
        {"huge length", [&] { sim.SetGarble(Garble::HugeLength); }, "[err]", false},
        {"wrong protocol identifier", [&] { sim.SetGarble(Garble::WrongProtocol); }, "[err]",
         false},
        {"half a frame", [&] { sim.SetGarble(Garble::HalfFrame); }, "[err]", false},
        {"silent", [&] { sim.SetSilent(true); }, "[err]", false},
        {"late answer", [&] { sim.SetDelay(600ms); }, "[err]", false},
        {"closed connection", [&] { sim.SetCloseOnNextRequest(true); }, "[err]", false},
        {"slow answer within the time-out", [&] { sim.SetDelay(100ms); }, "42", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.fault();
        const auto start = Clock::now();
        EXPECT_EQ(family.ReadItem("mb1/hr0"), c.answer);
        EXPECT_LT(Clock::now() - start, 900ms);  // one answer time-out of 300 ms and some
        EXPECT_EQ(family.IsConnected(), c.staysConnected);
        // A connection that was closed answers at once, without a request, until the retry.
        sim.ClearRequests();
        const auto again = Clock::now();
        if (!c.staysConnected) {
            EXPECT_EQ(family.ReadItem("mb1/hr0"), "[err]");
            EXPECT_LT(Clock::now() - again, 50ms);
            EXPECT_TRUE(sim.Requests().empty());
        }
        sim.SetException(0);
        sim.SetGarble(Garble::None);
        sim.SetSilent(false);
        sim.SetDelay(0ms);
        sim.SetWrongTransactions(0);
        sim.SetCloseOnNextRequest(false);
        ASSERT_EQ(family.Connect(Gateway("mb1", sim.port())), 0);  // the retry tick
        EXPECT_EQ(family.ReadItem("mb1/hr0"), "42");
    }
}

TEST(ModbusFamilyDevices, GatewaysOnOneAddressShareItsConnectionWithTheirOwnUnit) {
    sims::ModbusSim sim;
    ASSERT_TRUE(sim.Start());
    ModbusFamily family(ShortTimeouts());
    ASSERT_EQ(family.Connect(Gateway("left", sim.port(), 1)), 0);
    ASSERT_EQ(family.Connect(Gateway("right", sim.port(), 7)), 0);
    EXPECT_EQ(SettledAccepted(sim), 1);
    EXPECT_EQ(family.ReadItem("left/hr0"), "0");
    EXPECT_EQ(family.ReadItem("right/hr0"), "0");
    const std::vector<Bytes> r = sim.Requests();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0][6], 1);  // unit identifiers
    EXPECT_EQ(r[1][6], 7);
    // Stopping one keeps the connection for the other.
    EXPECT_FALSE(family.Disconnect(Gateway("left", sim.port(), 1)));
    EXPECT_EQ(family.ReadItem("right/hr0"), "0");
    EXPECT_TRUE(family.Disconnect(Gateway("right", sim.port(), 7)));
    EXPECT_FALSE(family.IsConnected());
}

TEST(ModbusFamilyDevices, ADeviceThatIsOffOrSilentDoesNotStallAnother) {
    sims::ModbusSim off, silent, good;
    ASSERT_TRUE(off.Start());
    ASSERT_TRUE(silent.Start());
    ASSERT_TRUE(good.Start());
    good.SetHoldingRegister(0, 5);
    const uint16_t offPort = off.port();
    off.Stop();
    ModbusOptions o = ShortTimeouts();
    o.answerTimeout = 2000ms;
    ModbusFamily family(o);
    EXPECT_EQ(family.Connect(Gateway("off", offPort)), -2);
    ASSERT_EQ(family.Connect(Gateway("silent", silent.port())), 0);
    ASSERT_EQ(family.Connect(Gateway("good", good.port())), 0);
    // Off: answered at once.
    auto start = Clock::now();
    EXPECT_EQ(family.ReadItem("off/hr0"), "[err]");
    EXPECT_LT(Clock::now() - start, 50ms);
    // Silent: its read waits for its time-out on one thread while the other device answers.
    silent.SetSilent(true);
    std::thread waiting([&] { EXPECT_EQ(family.ReadItem("silent/hr0"), "[err]"); });
    std::this_thread::sleep_for(100ms);
    start = Clock::now();
    for (int i = 0; i < 20; ++i) EXPECT_EQ(family.ReadItem("good/hr0"), "5");
    EXPECT_LT(Clock::now() - start, 500ms);
    // A request naming both devices: the good one's items still come.
    const std::string_view items[] = {"good/hr0", "off/hr0", "good/hr1"};
    EXPECT_EQ(family.ReadItems(items), (std::vector<std::string>{"5", "[err]", "0"}));
    waiting.join();
    EXPECT_TRUE(family.IsConnected("127.0.0.1:" + std::to_string(good.port())));
    EXPECT_FALSE(family.IsConnected("127.0.0.1:" + std::to_string(silent.port())));
}

TEST_F(ModbusFamilyTest, OperationsFromSeveralThreadsDoNotInterleave) {
    sim.SetHoldingRegister(0, 11);
    sim.SetHoldingRegister(1, 22);
    std::atomic<int> bad{0};
    auto reader = [&](const char* item, const char* expected) {
        for (int i = 0; i < 200; ++i)
            if (family.ReadItem(item) != expected) ++bad;
    };
    std::thread a(reader, "mb1/hr0", "11");
    std::thread b(reader, "mb1/hr1", "22");
    for (int i = 0; i < 20; ++i) EXPECT_EQ(family.Connect(Gateway("mb1", sim.port())), 0);
    a.join();
    b.join();
    EXPECT_EQ(bad.load(), 0);
}

// A running program without a window, as serve has it, with two Modbus TCP gateways on two
// simulators.
class ModbusServedTest : public ::testing::Test, protected test::ServedProgram {
  protected:
    void SetUp() override {
        ASSERT_TRUE(left.Start());
        ASSERT_TRUE(right.Start());
        ASSERT_EQ(started, 0);
        Gateway(left, "left", "1");
        Gateway(right, "right", "9");
    }
    void Gateway(const sims::ModbusSim& sim, const char* id, const char* unit) {
        pugi::xml_node g = Add("modbusgateway");
        project.document().SetProperty(g, "ip", Ip(sim));
        project.document().SetProperty(g, "id", id);
        project.document().SetProperty(g, "unit", unit);
    }
    static std::string Ip(const sims::ModbusSim& sim) {
        return "127.0.0.1:" + std::to_string(sim.port());
    }
    static std::string Line(int id, const sims::ModbusSim& sim) {
        std::string text = LoadString(id);
        return text.replace(text.find("%s"), 2, Ip(sim));
    }
    sims::ModbusSim left, right;
};

TEST_F(ModbusServedTest, PostsReachEachGatewaysDevice) {
    ASSERT_TRUE(generator.generateApplication());
    const std::vector<std::string> m = Messages();
    ASSERT_GE(m.size(), 2u);
    EXPECT_EQ(m[m.size() - 2], Line(kMsgModbusConnected, left));
    EXPECT_EQ(m[m.size() - 1], Line(kMsgModbusConnected, right));
    left.SetHoldingRegister(0, 7);
    right.SetHoldingRegister(0, 8);
    EXPECT_EQ(Post("/MBleft/hr0;right/hr0;left/hr1=3;left/hr1"), "7;8;3");
    EXPECT_EQ(left.HoldingRegister(1), 3);
    EXPECT_EQ(right.HoldingRegister(1), 0);
    EXPECT_EQ(Post("/mbright/co2=1"), "");
    EXPECT_EQ(Post("/MBright/co2;nowhere/hr0;right/bad"), "1;[err];[err]");
    EXPECT_EQ(right.Requests().back()[6], 9);  // the gateway's unit
}

TEST_F(ModbusServedTest, ASilentDeviceHoldsUpOnlyItsOwnGatewaysRequests) {
    ASSERT_TRUE(generator.generateApplication());
    server.SetMaxAge(std::chrono::milliseconds(0));
    left.SetSilent(true);
    right.SetHoldingRegister(0, 8);
    // The page's reads of the silent device wait for its answer time-out on its own worker...
    std::string stuck;
    std::thread phone([&] { stuck = Post("/MBleft/hr0"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    // ...while the other gateway's are answered at once.
    for (int i = 0; i < 5; ++i) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(Post("/MBright/hr0"), "8");
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    }
    phone.join();
    EXPECT_EQ(stuck, "[err]");
}

TEST_F(ModbusServedTest, RetryTicksReportTheDeviceGoingAndComing) {
    ASSERT_TRUE(generator.generateApplication());
    const uint16_t port = left.port();
    left.Stop();
    gateways.RetryGateways(project.document());
    std::vector<std::string> m = Messages();
    ASSERT_GE(m.size(), 2u);
    EXPECT_EQ(m[m.size() - 2],
              Line(kMsgModbusCannotConnect, left) + " (" + Ip(left) + ": connection refused)");
    EXPECT_EQ(m[m.size() - 1], Line(kMsgModbusConnected, right));
    EXPECT_EQ(Post("/MBleft/hr0;right/hr0"), "[err];0");
    ASSERT_TRUE(left.Start("127.0.0.1", port));
    left.SetHoldingRegister(0, 5);
    gateways.RetryGateways(project.document());
    m = Messages();
    EXPECT_EQ(m[m.size() - 2], Line(kMsgModbusConnected, left));
    EXPECT_EQ(Post("/MBleft/hr0"), "5");
    // Regeneration stops both (their disconnected lines) and starts them again.
    ASSERT_TRUE(generator.generateApplication());
    m = Messages();
    ASSERT_GE(m.size(), 4u);
    EXPECT_EQ(m[m.size() - 4], Line(kMsgModbusDisconnected, left));
    EXPECT_EQ(m[m.size() - 3], Line(kMsgModbusDisconnected, right));
    EXPECT_EQ(m[m.size() - 1], Line(kMsgModbusConnected, right));
}

}  // namespace
}  // namespace tsr
