// The KX family in the gateway lifecycle and in `tessora-cli serve`: the connection messages at
// start and at every retry tick, the reconnection after a failed read, and two serving programs
// beside each other, each with a block of its own.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <thread>

#include "base/strings.h"
#include "gateways/kx/kx_gateway.h"
#include "gateways/lifecycle.h"
#include "kx_sim.h"
#include "model/catalogue.h"
#include "model/project_file.h"
#include "socket_support.h"
#include "test_support.h"

namespace tsr {
namespace {

using namespace std::chrono_literals;
using sims::KxSim;

std::string TestPrefix() {
    return "tsrtest" + std::to_string(getpid()) + "_";
}

const std::string kCannot =
    "Cannot connect to KX, KX must be launched and in RUN mode, will retry in 5 seconds";
const std::string kConnected = "Connected to KX";
const std::string kDisconnected = "Diseconnected from KX";

class KxLifecycleTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("LC_ALL", "C", 1);
        ASSERT_EQ(project.Start(tmp.path()), 0);
        pugi::xml_node n;
        project.document().CreateObject(FindTypeByKey("kxgateway"),
                                        project.document().ProjectElement(), &n);
    }
    // The messages logged since the previous call.
    std::vector<std::string> NewMessages() {
        std::vector<std::string> out;
        const auto lines = log.Lines();
        for (size_t i = seen; i < lines.size(); ++i) out.push_back(lines[i].text);
        seen = lines.size();
        return out;
    }

    test::ScratchDir tmp;
    test::ScopedEnvironment prefix{kKxShmPrefixVariable, TestPrefix()};
    Project project;
    RecordingLogSink log;
    size_t seen = 0;
    Gateways gateways{log, project.workingDirectory()};
    KxSim sim{TestPrefix()};
};

TEST_F(KxLifecycleTest, MessagesAtStartRetryAndStop) {
    EXPECT_EQ(LoadString(131), kCannot);
    const ProjectDocument& doc = project.document();
    gateways.StartGateways(doc);  // no KX program
    EXPECT_EQ(NewMessages(), std::vector<std::string>{kCannot});
    gateways.RetryGateways(doc);
    EXPECT_EQ(NewMessages(), std::vector<std::string>{kCannot});
    EXPECT_EQ(gateways.Routes().kx->ReadItem("v@g$1"), "[err]");

    ASSERT_TRUE(sim.Start());
    sim.SetInteger("v@g#1", 5);
    gateways.RetryGateways(doc);
    EXPECT_EQ(NewMessages(), std::vector<std::string>{kConnected});
    EXPECT_EQ(sim.Owner(1), static_cast<uint32_t>(getpid()));
    gateways.RetryGateways(doc);  // connected: no check, the success again
    EXPECT_EQ(NewMessages(), std::vector<std::string>{kConnected});
    EXPECT_EQ(gateways.Routes().kx->ReadItem("v@g$1"), "5");

    // A failed read drops the block; the next tick claims one again.
    sim.SetRefusing(true);
    EXPECT_EQ(gateways.Routes().kx->ReadItem("v@g$1"), "[err]");
    EXPECT_EQ(sim.Owner(1), 0u);
    sim.SetRefusing(false);
    gateways.RetryGateways(doc);
    EXPECT_EQ(NewMessages(), std::vector<std::string>{kConnected});
    EXPECT_EQ(sim.Owner(1), static_cast<uint32_t>(getpid()));

    gateways.StopGateways(doc);
    EXPECT_EQ(NewMessages(), std::vector<std::string>{kDisconnected});
    EXPECT_EQ(sim.Owner(1), 0u);
    gateways.StopGateways(doc);  // nothing to release: no message
    EXPECT_EQ(NewMessages(), std::vector<std::string>{});
}

// One `tessora-cli serve` of a project, its log in a file.
class ServeProcess {
public:
    ServeProcess(const std::string& project, const std::string& dir) : log_(dir + "/serve.log") {
        std::vector<std::string> args = {TESSORA_CLI, "serve", project, "--port", "0", "--debug"};
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::string tmpdir = "TMPDIR=" + dir;
        std::string prefix = std::string(kKxShmPrefixVariable) + "=" + TestPrefix();
        std::vector<char*> env = {tmpdir.data(), prefix.data(), const_cast<char*>("LC_ALL=C"),
                                  nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        if (posix_spawn(&pid_, TESSORA_CLI, &actions, nullptr, argv.data(), env.data()) != 0)
            pid_ = 0;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ServeProcess() { Stop(); }
    pid_t pid() const { return pid_; }
    std::string Log() const { return test::ReadAll(log_); }
    // Waits (up to 10 s) until the log matches `pattern`; its first group, or "" on time-out.
    std::string WaitFor(const std::string& pattern) const {
        const std::regex re(pattern);
        std::smatch m;
        for (int i = 0; i < 200; ++i) {
            const std::string text = Log();
            if (std::regex_search(text, m, re)) return m.size() > 1 ? m[1].str() : m[0].str();
            std::this_thread::sleep_for(50ms);
        }
        return "";
    }
    // SIGTERM and wait; true when it ended with status 0.
    bool Stop() {
        if (pid_ == 0) return false;
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = 0;
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

private:
    std::string log_;
    pid_t pid_ = 0;
};

TEST_F(KxLifecycleTest, ASecondServingProgramClaimsBlockTwo) {
    ASSERT_TRUE(project.Save(tmp / "kx.tsr").ok());
    ASSERT_TRUE(sim.Start());
    sim.SetInteger("%MW0@XPI#1", 42);
    test::ScratchDir dir1, dir2;

    ServeProcess first(tmp / "kx.tsr", dir1.path());
    ASSERT_NE(first.pid(), 0);
    ASSERT_EQ(first.WaitFor(kConnected), kConnected) << first.Log();
    EXPECT_EQ(sim.Owner(1), static_cast<uint32_t>(first.pid()));

    ServeProcess second(tmp / "kx.tsr", dir2.path());
    ASSERT_NE(second.pid(), 0);
    ASSERT_EQ(second.WaitFor(kConnected), kConnected) << second.Log();
    EXPECT_EQ(sim.Owner(2), static_cast<uint32_t>(second.pid()));

    const std::string port = second.WaitFor(R"(Serving .* on http://[0-9.]+:([0-9]+)/)");
    ASSERT_FALSE(port.empty()) << second.Log();
    const uint16_t p = static_cast<uint16_t>(std::stoi(port));
    const std::string answer = test::HttpExchange(p, "POST /KX%MW0@XPI$1 HTTP/1.0\r\n\r\n");
    EXPECT_EQ(test::AnswerBody(answer), "42");
    EXPECT_NE(answer.find("Access-Control-Allow-Origin: *\r\n"), std::string::npos);
    EXPECT_EQ(
        test::AnswerBody(test::HttpExchange(p, "POST /KX%MW0@XPI$1=7;%MW0@XPI$1 HTTP/1.0\r\n\r\n")),
        "7");
    EXPECT_EQ(sim.Get("%MW0@XPI#1")->low, 7u);

    EXPECT_TRUE(second.Stop());
    EXPECT_NE(second.Log().find(kDisconnected), std::string::npos) << second.Log();
    EXPECT_EQ(sim.Owner(2), 0u);
    EXPECT_EQ(sim.Owner(1), static_cast<uint32_t>(first.pid()));
    EXPECT_TRUE(first.Stop());
    EXPECT_EQ(sim.Owner(1), 0u);
}

}  // namespace
}  // namespace tsr
