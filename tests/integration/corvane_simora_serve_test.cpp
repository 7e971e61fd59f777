// The Corvane and Simora families in `tessora-cli serve`, as a user runs it: the test runtime and
// the Simora stand-in run in this process, the server in its own; both families are found at
// start, lost and found again by the 5-second retry, and never keep files from being served.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <regex>
#include <thread>

#include "base/strings.h"
#include "corvane_sim.h"
#include "model/catalogue.h"
#include "model/project_file.h"
#include "simora_sim.h"
#include "socket_support.h"
#include "test_support.h"

namespace tsr {
namespace {

using namespace std::chrono_literals;

std::string LibraryDirectory() {
    const std::string path = TESSORA_TEST_ORVO8;
    return path.substr(0, path.rfind('/'));
}

size_t Count(const std::string& text, const std::string& line) {
    size_t n = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++n;
    return n;
}

// `tessora-cli serve` of one project, its standard error in a file.
class ServeProcess {
  public:
    ServeProcess(const std::string& project, const std::string& log, std::vector<std::string> env)
        : log_(log), env_(std::move(env)) {
        std::vector<std::string> args = {TESSORA_CLI, "serve", project, "--port", "0"};
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (std::string& e : env_) envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        if (posix_spawn(&pid_, TESSORA_CLI, &actions, nullptr, argv.data(), envp.data()) != 0)
            pid_ = 0;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ServeProcess() { Stop(); }

    // The port it serves on, 0 when it did not start within 5 s.
    uint16_t WaitForPort() {
        const std::regex serving(R"(Serving .* on http://[0-9.]+:([0-9]+)/)");
        std::smatch m;
        for (int i = 0; i < 100; ++i) {
            const std::string text = Log();
            if (std::regex_search(text, m, serving)) return static_cast<uint16_t>(std::stoi(m[1]));
            std::this_thread::sleep_for(50ms);
        }
        return 0;
    }

    // Waits until `line` appears `times` times in the log, for at most `limit`.
    bool WaitFor(const std::string& line, size_t times, std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            if (Count(Log(), line) >= times) return true;
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }

    // SIGTERM; true when it ended with status 0.
    bool Stop() {
        if (pid_ == 0) return false;
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = 0;
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    std::string Log() const { return test::ReadAll(log_); }
    bool started() const { return pid_ != 0; }

  private:
    std::string log_;
    std::vector<std::string> env_;
    pid_t pid_ = 0;
};

std::string Post(uint16_t port, const std::string& path) {
    return test::AnswerBody(test::HttpExchange(port, "POST " + path + " HTTP/1.0\r\n\r\n"));
}

TEST(CorvaneSimoraServe, FoundAtStartLostAndFoundAgainByTheRetry) {
    setenv("LC_ALL", "C", 1);
    test::ScratchDir dir;
    test::ScopedEnvironment runtimeDir{"XDG_RUNTIME_DIR", dir.path()};
    const std::string projectPath = dir / "panel.tsr";
    {
        Project project;
        ASSERT_EQ(project.Start(dir.path()), 0);
        ProjectDocument& doc = project.document();
        pugi::xml_node n;
        doc.CreateObject(FindTypeByKey("corvanegateway"), doc.ProjectElement(), &n);
        doc.CreateObject(FindTypeByKey("smgateway"), doc.ProjectElement(), &n);
        ASSERT_TRUE(project.Save(projectPath)) << project.Save(projectPath).message;
    }
    sims::CorvaneRuntimeSim runtime{LibraryDirectory()};
    sims::SimoraSim simora;
    ASSERT_TRUE(runtime.Start());
    ASSERT_TRUE(simora.Start());
    simora.SetBehavior("speed", 1.5f);

    ServeProcess serve(projectPath, dir / "serve.log",
                       {"TMPDIR=" + dir.path(), "XDG_RUNTIME_DIR=" + dir.path(), "LC_ALL=C"});
    ASSERT_TRUE(serve.started());
    const uint16_t port = serve.WaitForPort();
    ASSERT_NE(port, 0) << serve.Log();
    const std::string connectedCorvane = LoadString(109), connectedSimora = LoadString(121);
    const std::string lostCorvane = LoadString(108), lostSimora = LoadString(120);
    EXPECT_EQ(Count(serve.Log(), connectedCorvane), 1u) << serve.Log();
    EXPECT_EQ(Count(serve.Log(), connectedSimora), 1u) << serve.Log();

    // The server's own copy of the runtime library holds the values it writes.
    EXPECT_EQ(Post(port, "/CVNm200=7;m200;m201[2](%02X);f3=1.5;f3"), "7;00,00;1.500000");
    EXPECT_EQ(Post(port, "/SMspeed;speed=12.5;speed"), "1.5;12.5");
    EXPECT_EQ(simora.Writes(), std::vector<std::string>{"speed=12.5"});

    // Both programs end: the next tick reports both, and files are still served meanwhile.
    runtime.Stop();
    simora.Stop();
    ASSERT_TRUE(serve.WaitFor(lostCorvane, 1, 7000ms)) << serve.Log();
    ASSERT_TRUE(serve.WaitFor(lostSimora, 1, 1000ms)) << serve.Log();
    EXPECT_EQ(Post(port, "/CVNm200"), "[error orvo -2]");
    EXPECT_EQ(Post(port, "/SMspeed;speed"), ";");  // no value, never an earlier one
    const std::string page = test::HttpExchange(port, "GET / HTTP/1.0\r\n\r\n");
    EXPECT_NE(page.find("HTTP/1.0 200 OK"), std::string::npos);

    // Started again: found at the next tick. The library stays loaded and keeps its values.
    ASSERT_TRUE(runtime.Start());
    sims::SimoraSim restarted;
    ASSERT_TRUE(restarted.Start());
    restarted.SetBehavior("speed", 4.0f);
    ASSERT_TRUE(serve.WaitFor(connectedCorvane, 2, 7000ms)) << serve.Log();
    ASSERT_TRUE(serve.WaitFor(connectedSimora, 2, 1000ms)) << serve.Log();
    EXPECT_EQ(Post(port, "/CVNm200"), "7");
    EXPECT_EQ(Post(port, "/SMspeed"), "4");
    EXPECT_EQ(runtime.queries(), 1);  // the library was looked up once, at start

    EXPECT_TRUE(serve.Stop());
    const std::string log = serve.Log();
    EXPECT_EQ(Count(log, LoadString(112)), 1u) << log;
    EXPECT_EQ(Count(log, LoadString(122)), 1u) << log;
}

}  // namespace
}  // namespace tsr
