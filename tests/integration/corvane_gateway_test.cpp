// The Corvane family against the test runtime (its socket and orvo8.so), and through the web
// server's /CVN route with the lifecycle walks.
#include "gateways/corvane/corvane_gateway.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "base/strings.h"
#include "corvane_sim.h"
#include "gateways/corvane/frames.h"
#include "gateways/lifecycle.h"
#include "gateways/transport/tcp_transport.h"
#include "generator/generator.h"
#include "socket_support.h"
#include "test_support.h"
#include "unix_sim_server.h"
#include "webserver/serving_hooks.h"

namespace tsr {
namespace {

std::string LibraryDirectory() {
    const std::string path = TESSORA_TEST_ORVO8;
    return path.substr(0, path.rfind('/'));
}

// Type codes of the runtime.
constexpr int kBit = 2, kWord = 5, kFloat = 6, kLong = 7;

CorvaneOptions ShortOptions() {
    CorvaneOptions options;
    options.resultPoll = std::chrono::milliseconds(20);
    options.resultLimit = std::chrono::milliseconds(200);
    options.socketAnswer = std::chrono::milliseconds(100);
    return options;
}

class CorvaneGatewayTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(store.ok());
        store.Reset();
        ASSERT_TRUE(runtime.Start());
        family = MakeCorvaneFamily(log, ShortOptions());
    }

    // Reads `item` until it answers `expected` or 5 s have passed; the last answer.
    std::string ReadUntil(const std::string& item, const std::string& expected) {
        std::string answer;
        for (int i = 0; i < 500; ++i) {
            answer = family->ReadItem(item);
            if (answer == expected) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return answer;
    }

    test::ScratchDir scratch;
    test::ScopedEnvironment runtimeDir{"XDG_RUNTIME_DIR", scratch.path()};
    sims::CorvaneRuntimeSim runtime{LibraryDirectory()};
    sims::Orvo8Library store{TESSORA_TEST_ORVO8};
    RecordingLogSink log;
    std::unique_ptr<ConnectedFamily> family;
};

TEST_F(CorvaneGatewayTest, ConnectsAndReadsCountsAndFormats) {
    EXPECT_EQ(family->Connect({}), 0);
    EXPECT_TRUE(family->IsConnected());
    store.SetValue(kWord, 200, 1);
    store.SetValue(kWord, 201, 0xFFFE);
    store.SetValue(kWord, 202, 3);
    store.SetValue(kWord, 300, 0xAB);
    EXPECT_EQ(family->ReadItem("m200[3]"), "1,-2,3");
    EXPECT_EQ(family->ReadItem("m300(%04X)"), "00AB");
    EXPECT_EQ(family->ReadItem("M201[2](%x)"), "fffffffe,3");
    EXPECT_EQ(family->ReadItem(""), "0");
    EXPECT_EQ(runtime.queries(), 1);  // the library is looked up once
}

TEST_F(CorvaneGatewayTest, BadSyntaxAndRefusedFormats) {
    const char* items[] = {"x5",      "m10000",     "m12a",     "m1(%n)",  "m1(%s)",
                           "m1(%*d)", "m1(%9999d)", "m1(%d%d)", "m1(%ld)", "f1(%d)"};
    const char* names[] = {"x5", "m10000", "m12a"};
    for (const char* name : names)
        EXPECT_EQ(family->ReadItem(name), std::string("[error : bad syntax : ") + name + "]");
    for (const char* item : items)
        EXPECT_TRUE(family->ReadItem(item).starts_with("[error : bad syntax : ")) << item;
    EXPECT_EQ(store.DirectReads(kWord, 1), 0u);
}

TEST_F(CorvaneGatewayTest, FirstReadDirectLaterReadsFromTheWatchTable) {
    store.SetValue(kWord, 5, 7);
    EXPECT_EQ(family->ReadItem("m5"), "7");
    EXPECT_EQ(store.DirectReads(kWord, 5), 1u);
    store.SetValue(kWord, 5, 42);
    EXPECT_EQ(ReadUntil("m5", "42"), "42");
    EXPECT_EQ(store.DirectReads(kWord, 5), 1u);
    EXPECT_GT(store.CommandCount(0x0F00), 0u);  // the polling thread fetched it
    EXPECT_GT(store.CommandCount(0x0E00), 0u);
}

// The watch table holds 2048 variables; a variable read after it is full is read directly each
// time, and the watched ones keep being served from the table.
TEST_F(CorvaneGatewayTest, FullWatchTable) {
    for (int first = 0; first < 2000; first += 500) {
        const std::string answer = family->ReadItem("m" + std::to_string(first) + "[500]");
        ASSERT_EQ(std::count(answer.begin(), answer.end(), ','), 499) << first;
        ASSERT_EQ(answer.find("error"), std::string::npos) << answer.substr(0, 80);
    }
    ASSERT_EQ(family->ReadItem("l0[48]").find("error"), std::string::npos);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(family->ReadItem("l100"), "0");
    EXPECT_EQ(store.DirectReads(kLong, 100), 3u);
    EXPECT_EQ(family->ReadItem("m1999"), "0");
    EXPECT_EQ(family->ReadItem("l47"), "0");
    EXPECT_EQ(store.DirectReads(kWord, 1999), 1u);
    EXPECT_EQ(store.DirectReads(kLong, 47), 1u);
}

TEST_F(CorvaneGatewayTest, BitCommands) {
    struct Case {
        const char* item;
        uint16_t word5;
        uint32_t value;  // the bit afterwards (starting from 0)
    } cases[] = {
        {"b3=F1", 0x0302, 1}, {"b3=UF", 0x0402, 1}, {"b3=/", 0x0502, 0}, {"b3=F0", 0x0202, 0},
        {"b3=1", 0x0102, 1},  {"b3=0", 0x0002, 0},  {"u3=/", 0x0502, 1},
    };
    for (const auto& c : cases) {
        family->WriteItem(c.item);
        uint16_t words[9];
        store.LastWrite(words);
        EXPECT_EQ(words[0], 0x0B00) << c.item;
        EXPECT_EQ(words[3], 0x0100) << c.item;
        EXPECT_EQ(words[4], 3) << c.item;
        EXPECT_EQ(words[5], c.word5) << c.item;
        EXPECT_EQ(store.Value(kBit, 3), c.value) << c.item;
    }
    EXPECT_EQ(family->ReadItem("b3"), "1");
}

TEST_F(CorvaneGatewayTest, FloatTravelsOverWordsSixThreeAndFive) {
    family->WriteItem("f10=1.5");
    uint16_t words[9];
    store.LastWrite(words);
    EXPECT_EQ(words[6], 0x0000);  // low 16 bits
    EXPECT_EQ(words[3], 0x01C0);  // write, bits 16..23
    EXPECT_EQ(words[5], 0x3F06);  // bits 24..31, type code
    EXPECT_EQ(store.Value(kFloat, 10), 0x3FC00000u);
    EXPECT_EQ(family->ReadItem("f10"), "1.500000");
    EXPECT_EQ(family->ReadItem("f11(%.2e)"), "0.00e+00");
    family->WriteItem("l4=-70000");
    EXPECT_EQ(family->ReadItem("l4"), "-70000");
    family->WriteItem("m4=-3");
    EXPECT_EQ(family->ReadItem("m4"), "-3");
}

TEST_F(CorvaneGatewayTest, DirectReadErrors) {
    store.SetReadStatus(0x12);
    EXPECT_EQ(family->ReadItem("m7"), "[error : cannot read : m7,0012]");
    store.SetReadStatus(0);
    store.SetResultDelay(-1);  // never ready
    // After the first time-out the item's other variables are not waited for.
    EXPECT_EQ(family->ReadItem("m7[2]"),
              "[error : cannot read : m7,FFFE],[error : cannot read : m8,FFFE]");
    EXPECT_EQ(store.DirectReads(kWord, 8), 0u);
    store.SetResultDelay(3);  // ready at the fourth result request
    store.SetValue(kWord, 9, 9);
    EXPECT_EQ(family->ReadItem("m9"), "9");
}

TEST_F(CorvaneGatewayTest, NoPathFailsWithoutCallingTheEntryPoint) {
    runtime.SetQueryMode(sims::CorvaneRuntimeSim::QueryMode::NoPath);
    EXPECT_EQ(family->Connect({}), -1);
    EXPECT_EQ(runtime.queries(), 5);
    EXPECT_EQ(family->ReadItem("m1"), "[error orvo -1]");
    EXPECT_EQ(store.CommandCount(0x0B00), 0u);
    runtime.SetQueryMode(sims::CorvaneRuntimeSim::QueryMode::Garbage);
    EXPECT_EQ(family->Connect({}), -1);
    runtime.SetQueryMode(sims::CorvaneRuntimeSim::QueryMode::Path);
    EXPECT_EQ(family->Connect({}), 0);
}

TEST_F(CorvaneGatewayTest, LibraryMissingOrRuntimeSilent) {
    runtime.SetLibraryDirectory(scratch.path());  // no orvo8.so there
    EXPECT_EQ(family->Connect({}), -1);
    // A runtime that accepts and never answers: the five tries share one socket limit (100 ms).
    runtime.SetQueryMode(sims::CorvaneRuntimeSim::QueryMode::Silent);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(family->Connect({}), -2);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    EXPECT_FALSE(family->IsConnected());
}

// The library is opened and checked before it is loaded: one that other users may change, or
// that is not a regular file, is refused (without waiting on a FIFO) and nothing of it runs.
TEST_F(CorvaneGatewayTest, UnsafeLibraryFilesAreRefused) {
    const std::string directory = scratch / "runtime";
    ASSERT_EQ(mkdir(directory.c_str(), 0700), 0);
    const std::string copy = directory + "/orvo8.so";
    std::filesystem::copy_file(TESSORA_TEST_ORVO8, copy);
    runtime.SetLibraryDirectory(directory);
    struct Case {
        const char* name;
        mode_t mode;
    } cases[] = {{"anyone may write", 0757}, {"group may write", 0775}};
    for (const auto& c : cases) {
        ASSERT_EQ(chmod(copy.c_str(), c.mode), 0);
        EXPECT_EQ(family->Connect({}), -1) << c.name;
    }
    ASSERT_EQ(unlink(copy.c_str()), 0);
    ASSERT_EQ(mkfifo(copy.c_str(), 0600), 0);
    EXPECT_EQ(family->Connect({}), -1) << "a FIFO";
    EXPECT_EQ(store.CommandCount(0x0B00), 0u);
    runtime.SetLibraryDirectory(LibraryDirectory());
    EXPECT_EQ(family->Connect({}), 0);
    EXPECT_EQ(store.CommandCount(0x0B00), 1u);  // the library checked is the one that runs
}

TEST_F(CorvaneGatewayTest, NoRuntime) {
    runtime.Stop();
    EXPECT_EQ(family->Connect({}), -2);
    EXPECT_EQ(family->ReadItem("m1"), "[error orvo -2]");
    family->WriteItem("m1=3");
    ASSERT_TRUE(runtime.Start());
    EXPECT_EQ(family->Connect({}), 0);
    runtime.Stop();  // gone after the library was loaded
    EXPECT_EQ(family->Connect({}), -2);
    EXPECT_EQ(family->ReadItem("m1"), "[error orvo -2]");
    family->WriteItem("m1=3");
    EXPECT_EQ(store.Value(kWord, 1), 0u);
}

// A socket that closes every connection at once: each read makes five tries, then answers -2.
TEST_F(CorvaneGatewayTest, FiveTriesThenNoRuntime) {
    runtime.Stop();
    std::atomic<int> connections{0};
    sims::UnixSimServer closing([&](int, const std::atomic<bool>&) { ++connections; });
    ASSERT_TRUE(closing.Start(RuntimeSocketPath(corvane::kRuntimeSocketName)));
    EXPECT_EQ(family->ReadItem("m1"), "[error orvo -2]");
    EXPECT_EQ(connections.load(), 5);
    EXPECT_EQ(family->ReadItem("m2"), "[error orvo -2]");
    EXPECT_EQ(connections.load(), 10);
    EXPECT_EQ(store.CommandCount(0x0B00), 0u);
}

TEST_F(CorvaneGatewayTest, FailedStatusRequest) {
    store.SetStatusFails(true);
    EXPECT_EQ(family->Connect({}), -3);
    EXPECT_FALSE(family->IsConnected());
    EXPECT_EQ(family->ReadItem("m1"), "[error orvo -3]");
    family->WriteItem("m1=3");
    EXPECT_EQ(store.Value(kWord, 1), 0u);
    store.SetStatusFails(false);
    EXPECT_EQ(family->Connect({}), 0);
    EXPECT_TRUE(family->Disconnect());  // reports only
    EXPECT_TRUE(family->IsConnected());
}

// The program as serve has it: the lifecycle walks and the /CVN route.
TEST_F(CorvaneGatewayTest, ThroughTheServerAndTheLifecycle) {
    setenv("LC_ALL", "C", 1);
    Project project;
    ASSERT_EQ(project.Start(scratch.path()), 0);
    ProjectDocument& doc = project.document();
    doc.SetProperty(doc.ProjectElement(), "webserveron", "1");
    doc.SetProperty(doc.ProjectElement(), "webserverport", "0");
    pugi::xml_node n;
    doc.CreateObject(FindTypeByKey("corvanegateway"), doc.ProjectElement(), &n);
    RecordingLogSink serverLog;
    Gateways gateways{serverLog, project.workingDirectory()};
    WebServer server{serverLog, gateways.Routes()};
    ServingHooks hooks{
        server, [&] { gateways.StopGateways(doc); }, [&] { gateways.StartGateways(doc); }, {}};
    Generator generator{project, serverLog, hooks, scratch / "nolibs"};
    ASSERT_TRUE(generator.generateApplication());
    store.SetValue(kWord, 200, 5);
    const std::string answer = test::HttpExchange(
        server.ListeningPort(), "POST /CVNm200;m201=6;m201(%03d) HTTP/1.0\r\n\r\n");
    EXPECT_NE(answer.find("Access-Control-Allow-Origin: *"), std::string::npos);
    EXPECT_EQ(test::AnswerBody(answer), "5;006");
    gateways.RetryGateways(doc);
    runtime.Stop();
    gateways.RetryGateways(doc);
    gateways.StopGateways(doc);  // no longer connected: nothing to report
    std::vector<std::string> messages;
    for (const auto& l : serverLog.Lines())
        if (l.text.find("CORVANE") != std::string::npos) messages.push_back(l.text);
    const std::vector<std::string> expected = {LoadString(109), LoadString(109), LoadString(108)};
    EXPECT_EQ(messages, expected);
}

}  // namespace
}  // namespace tsr
