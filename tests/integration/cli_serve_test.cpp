// tessora-cli serve, run as a user runs it: it serves the example project until SIGTERM and then
// removes its working directory.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <thread>

#include "socket_support.h"
#include "test_support.h"

extern char** environ;

namespace tsr {
namespace {

using namespace std::chrono_literals;

using test::HttpExchange;

TEST(CliServe, ServesTheExampleProjectUntilTerminated) {
    test::ScratchDir dir;
    const std::string log = dir / "serve.log";
    std::string tmpdir = "TMPDIR=" + dir.path();
    std::vector<std::string> args = {TESSORA_CLI, "serve", TESSORA_SOURCE_DIR "/examples/demo.tsr",
                                     "--port", "0", "--debug"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char*> env = {tmpdir.data(), const_cast<char*>("LC_ALL=C"), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, TESSORA_CLI, &actions, nullptr, argv.data(), env.data()), 0);
    posix_spawn_file_actions_destroy(&actions);

    std::smatch m;
    std::string text;
    const std::regex serving(R"(Serving .* on http://[0-9.]+:([0-9]+)/)");
    for (int i = 0; i < 100 && !std::regex_search(text, m, serving); ++i) {
        std::this_thread::sleep_for(50ms);
        text = test::ReadAll(log);
    }
    ASSERT_TRUE(std::regex_search(text, m, serving)) << text;
    const uint16_t port = static_cast<uint16_t>(std::stoi(m[1]));
    EXPECT_NE(text.find("Generate: Tessora V1.08"), std::string::npos) << text;
    EXPECT_NE(text.find("Server activated: "), std::string::npos) << text;

    const std::string index = test::ReadAll(dir / "TSR10.TMP/WEB/index.html");
    ASSERT_FALSE(index.empty());
    std::string page = HttpExchange(port, "GET / HTTP/1.0\r\n\r\n");
    EXPECT_EQ(test::AnswerBody(page), index);
    std::string post = HttpExchange(port, "POST /UNI%MW0 HTTP/1.0\r\n\r\n");
    EXPECT_NE(post.find("Access-Control-Allow-Origin: *\r\n"), std::string::npos) << post;

    // The example's SQL gateway: db.sql in the working directory.
    auto sql = [&](const std::string& statement) {
        return test::AnswerBody(HttpExchange(port, "POST /SQL" + statement + " HTTP/1.0\r\n\r\n"));
    };
    EXPECT_EQ(sql("create%20table%20t(a,b)"), "");
    EXPECT_EQ(sql("insert%20into%20t%20values(1,2)"), "");
    EXPECT_EQ(sql("insert%20into%20t%20values(3,4)"), "");
    EXPECT_EQ(sql("select%20*%20from%20t"), "1;2;3;4");
    EXPECT_EQ(sql("select%20*%20from%20missing"), "[err=-1]");
    EXPECT_NE(test::ReadAll(log).find("Connected to SQL database"), std::string::npos);

    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    text = test::ReadAll(log);
    EXPECT_NE(text.find("Webserver : GET from IP(127.0.0.1), send file"), std::string::npos);
    EXPECT_NE(text.find("Server stopped"), std::string::npos) << text;
    EXPECT_EQ(ListDirectory(dir.path()), std::vector<std::string>{"serve.log"});
}

}  // namespace
}  // namespace tsr
