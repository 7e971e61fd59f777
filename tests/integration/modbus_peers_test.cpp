// The Modbus TCP family against two independent servers, each started by the test on a free
// loopback port: pymodbus (Debian's python3-pymodbus) and a server on libmodbus (Debian's
// libmodbus-dev, tests/sims/libmodbus_server.c). Values are set and checked through each
// server's own interface.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "gateways/modbus/modbus_gateway.h"
#include "modbus_peer_support.h"

namespace tsr {
namespace {

using namespace std::chrono_literals;

struct Peer {
    const char* name;
    std::vector<std::string> command;
    // Why the peer cannot run here, or empty.
    std::string Unavailable() const {
        if (command.empty() || access(command[0].c_str(), X_OK) != 0)
            return std::string(name) + " server is not built or not installed";
        return {};
    }
    friend void PrintTo(const Peer& p, std::ostream* os) { *os << p.name; }
};

std::vector<Peer> Peers() {
    std::vector<Peer> peers;
    peers.push_back({"pymodbus", {"/usr/bin/python3", TESSORA_PYMODBUS_SERVER}});
#ifdef TESSORA_LIBMODBUS_SERVER
    peers.push_back({"libmodbus", {TESSORA_LIBMODBUS_SERVER}});
#else
    peers.push_back({"libmodbus", {}});
#endif
    return peers;
}

ModbusOptions Timeouts() {
    ModbusOptions o;
    o.connectTimeout = 1000ms;
    o.answerTimeout = 1000ms;
    return o;
}

class ModbusPeerTest : public ::testing::TestWithParam<Peer> {
  protected:
    void SetUp() override {
        if (std::string why = GetParam().Unavailable(); !why.empty()) GTEST_SKIP() << why;
        ASSERT_TRUE(peer.Start()) << peer.error();
        ASSERT_EQ(family.Connect(Settings()), 0);
    }
    GatewaySettings Settings() const {
        GatewaySettings s;
        s.ip = peer.address();
        s.id = "mb1";
        s.unit = 1;
        return s;
    }
    test::ModbusPeer peer{GetParam().command};
    ModbusFamily family{Timeouts()};
};

TEST_P(ModbusPeerTest, ReadsEveryKindAndType) {
    struct Cell {
        const char* table;
        int address;
        long value;
    };
    const Cell cells[] = {
        {"co", 3, 1},       {"di", 4, 1},       {"hr", 0, 65535},   {"hr", 1, 0x0008},
        {"hr", 10, 0x0001}, {"hr", 11, 0x0002}, {"hr", 20, 0xEE90}, {"hr", 21, 0xFFFE},
        {"hr", 30, 0x3FC0}, {"hr", 31, 0x0000}, {"hr", 40, 0x0000}, {"hr", 41, 0x3FC0},
        {"ir", 5, 1234},    {"ir", 6, 65535},   {"ir", 7, 0x4049},  {"ir", 8, 0x0FDB},
    };
    for (const Cell& c : cells) ASSERT_TRUE(peer.Set(c.table, c.address, c.value)) << c.table;
    struct Case {
        const char* item;
        const char* answer;
    };
    const Case cases[] = {
        {"mb1/co3", "1"},
        {"mb1/co2", "0"},
        {"mb1/di4", "1"},
        {"mb1/di5", "0"},
        {"mb1/hr0", "65535"},
        {"mb1/hr0:s16", "-1"},
        {"mb1/hr1.3", "1"},
        {"mb1/hr1.2", "0"},
        {"mb1/hr10:u32", "65538"},
        {"mb1/hr10:s32", "65538"},
        {"mb1/hr10:u32le", "131073"},
        {"mb1/hr20:s32le", "-70000"},
        {"mb1/hr20:s32", "-292487170"},
        {"mb1/hr30:f32", "1.5"},
        {"mb1/hr40:f32le", "1.5"},
        {"mb1/ir5", "1234"},
        {"mb1/ir6:s16", "-1"},
        {"mb1/ir7:f32", "3.14159"},
        {"mb1/ir5:u16", "1234"},
        {"mb1/hr1:x", "[err]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.item);
        EXPECT_EQ(family.ReadItem(c.item), c.answer);
    }
}

TEST_P(ModbusPeerTest, WritesReadBackThroughTheServer) {
    ASSERT_TRUE(peer.Set("hr", 7, 0x0101));
    struct Cell {
        const char* table;
        int address;
        const char* value;
    };
    struct Case {
        const char* item;
        std::vector<Cell> cells;
    };
    const Case cases[] = {
        {"mb1/co5=1", {{"co", 5, "1"}}},
        {"mb1/co6=1", {{"co", 6, "1"}}},
        {"mb1/co6=0", {{"co", 6, "0"}, {"co", 5, "1"}}},
        {"mb1/hr1=3", {{"hr", 1, "3"}}},
        {"mb1/hr1:s16=-2", {{"hr", 1, "65534"}}},
        {"mb1/hr2:u32=65538", {{"hr", 2, "1"}, {"hr", 3, "2"}}},
        {"mb1/hr2:s32le=-70000", {{"hr", 2, "61072"}, {"hr", 3, "65534"}}},
        {"mb1/hr4:f32=2.25", {{"hr", 4, "16400"}, {"hr", 5, "0"}}},
        {"mb1/hr4:f32le=-1.5", {{"hr", 4, "0"}, {"hr", 5, "49088"}}},
        {"mb1/hr7.4=1", {{"hr", 7, "273"}}},  // 0x0111
        {"mb1/hr7.0=0", {{"hr", 7, "272"}}},  // 0x0110
        {"mb1/di1=1", {{"di", 1, "0"}}},
        {"mb1/ir1=1", {{"ir", 1, "0"}}},
        {"mb1/hr1=oops", {{"hr", 1, "65534"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.item);
        family.WriteItem(c.item);
        for (const Cell& cell : c.cells)
            EXPECT_EQ(peer.Get(cell.table, cell.address), cell.value) << cell.table << cell.address;
    }
    EXPECT_EQ(family.ReadItem("mb1/hr4:f32le"), "-1.5");
    EXPECT_EQ(family.ReadItem("mb1/hr7.4"), "1");
}

TEST_P(ModbusPeerTest, ExceptionAnswersGiveErrAndKeepTheConnection) {
    ASSERT_TRUE(peer.Set("hr", 998, 8));
    ASSERT_TRUE(peer.Set("hr", 999, 9));
    struct Case {
        const char* item;
        const char* answer;
    };
    const Case cases[] = {
        {"mb1/hr5000", "[err]"},     // past the server's table: illegal data address
        {"mb1/hr999:u32", "[err]"},  // its second register is past it
        {"mb1/co1000", "[err]"},
        {"mb1/hr999", "9"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.item);
        EXPECT_EQ(family.ReadItem(c.item), c.answer);
        EXPECT_TRUE(family.IsConnected());
    }
    // One refused block: its items are read again one by one.
    const std::string_view items[] = {"mb1/hr998", "mb1/hr999", "mb1/hr1000"};
    EXPECT_EQ(family.ReadItems(items), (std::vector<std::string>{"8", "9", "[err]"}));
}

TEST_P(ModbusPeerTest, TenAdjacentRegistersInOneRequest) {
    std::vector<std::string> owned;
    std::vector<std::string> expected;
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(peer.Set("hr", 100 + i, 1000 + i));
        owned.push_back("mb1/hr" + std::to_string(100 + i));
        expected.push_back(std::to_string(1000 + i));
    }
    std::vector<std::string_view> items(owned.begin(), owned.end());
    EXPECT_EQ(family.ReadItems(items), expected);
}

TEST_P(ModbusPeerTest, AServerStoppedAndStartedAgain) {
    ASSERT_TRUE(peer.Set("hr", 0, 77));
    EXPECT_EQ(family.ReadItem("mb1/hr0"), "77");
    const uint16_t port = peer.port();
    peer.Quit();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(family.ReadItem("mb1/hr0"), "[err]");
    EXPECT_EQ(family.Connect(Settings()), -2);  // the retry tick: refused
    EXPECT_EQ(family.ReadItem("mb1/hr0"), "[err]");
    ASSERT_TRUE(peer.Start(port)) << peer.error();
    ASSERT_TRUE(peer.Set("hr", 0, 78));
    EXPECT_EQ(family.Connect(Settings()), 0);
    EXPECT_EQ(family.ReadItem("mb1/hr0"), "78");
}

INSTANTIATE_TEST_SUITE_P(Servers, ModbusPeerTest, ::testing::ValuesIn(Peers()),
                         [](const ::testing::TestParamInfo<Peer>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace tsr
