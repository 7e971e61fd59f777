// tessora-cli serve, run as a user runs it: it serves the example project until SIGTERM and then
// removes its working directory.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <regex>
#include <thread>

#include "model/catalogue.h"
#include "model/project_file.h"
#include "platform/fs.h"
#include "serve_support.h"
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

// A project someone sent, which carries a shared library with a constructor and prints to a
// file: served without --trust, neither gateway starts, the command says what they would open,
// and the library's code never runs; with --trust both start.
TEST(CliServe, GatewaysReachingOutsideStartOnlyWithTrust) {
    test::ScratchDir dir;
    const std::string projectPath = dir / "sent.tsr";
    {
        Project project;
        ASSERT_EQ(project.Start(dir.path()), 0);
        ProjectDocument& doc = project.document();
        pugi::xml_node dll, printer, sql;
        doc.CreateObject(FindTypeByKey("dllgateway"), doc.ProjectElement(), &dll);
        doc.SetProperty(dll, "dllfilename", "carried.so");
        doc.CreateObject(FindTypeByKey("printgateway"), doc.ProjectElement(), &printer);
        doc.SetProperty(printer, "printername", "file:report.pdf");
        doc.CreateObject(FindTypeByKey("sqllitegateway"), doc.ProjectElement(), &sql);
        std::string library;
        ASSERT_TRUE(ReadFile(TESSORA_TEST_LIBRARY, library));
        ASSERT_TRUE(WriteFile(JoinPath(project.workingDirectory().path(), "carried.so"), library));
        ASSERT_TRUE(project.Save(projectPath));
    }
    const std::string mark = dir / "constructor-ran";
    {
        test::ServeProcess serve(projectPath, {}, {"TSR_LIBRARY_MARK=" + mark});
        ASSERT_NE(serve.port(), 0) << serve.log();
        const std::string log = serve.log();
        EXPECT_NE(log.find("The project " + projectPath + " reaches outside its own files."),
                  std::string::npos) << log;
        EXPECT_NE(log.find("  - load the shared library " + serve.working_directory() +
                           "/carried.so (its code runs in Tessora)"), std::string::npos) << log;
        EXPECT_NE(log.find("  - print to the file " + serve.working_directory() + "/report.pdf"),
                  std::string::npos) << log;
        EXPECT_NE(log.find("run the command again with --trust"), std::string::npos) << log;
        EXPECT_NE(log.find("Not started, the project is not trusted: load the shared library"),
                  std::string::npos) << log;
        EXPECT_NE(log.find("Connected to SQL database"), std::string::npos) << log;  // its own file
        EXPECT_EQ(test::AnswerBody(test::HttpExchange(serve.port(), "POST /DLLecho HTTP/1.0\r\n\r\n")),
                  "[no dll loaded]");
        EXPECT_EQ(test::AnswerBody(test::HttpExchange(serve.port(), "POST /PRNhello HTTP/1.0\r\n\r\n")),
                  "[err=-1]");
        EXPECT_EQ(serve.Stop(), 0);
        EXPECT_FALSE(test::Exists(mark));
    }
    test::ServeProcess trusted(projectPath, {"--trust"}, {"TSR_LIBRARY_MARK=" + mark});
    ASSERT_NE(trusted.port(), 0) << trusted.log();
    EXPECT_EQ(trusted.log().find("reaches outside"), std::string::npos) << trusted.log();
    EXPECT_TRUE(test::Exists(mark));
    EXPECT_EQ(test::AnswerBody(test::HttpExchange(trusted.port(), "POST /DLLecho HTTP/1.0\r\n\r\nhi")),
              "echo:hi");
}

// Network bytes reach the terminal with their control characters written out, so a request
// cannot retitle, clear or colour the operator's terminal, nor add a line of its own.
TEST(CliServe, ControlCharactersOfRequestsAreEscapedInTheLog) {
    test::ServeProcess serve(TESSORA_SOURCE_DIR "/examples/demo.tsr");
    ASSERT_NE(serve.port(), 0) << serve.log();
    test::HttpExchange(serve.port(), "GET /\x1b]0;owned\x07\x1b[2J.html HTTP/1.0\r\n\r\n");
    test::HttpExchange(serve.port(), "POST /SQLselect%201 HTTP/1.0\r\nContent-Length: 9\r\n\r\nx\n12:00:00");
    serve.Stop();
    const std::string log = serve.log();
    EXPECT_NE(log.find("\\x1B]0;owned\\x07\\x1B[2J.html"), std::string::npos) << log;
    EXPECT_EQ(log.find('\x1b'), std::string::npos);  // the log is not a terminal: no colours
    EXPECT_EQ(log.find('\x07'), std::string::npos);
}

// A server that cannot listen says why: a port below 1024 without privileges, a port in use.
TEST(CliServe, AFailedStartSaysWhy) {
    test::ScratchDir dir;
    chmod(dir.path().c_str(), 0777);  // the unprivileged run writes its working directory there
    const int taken = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(bind(taken, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(taken, 1), 0);
    socklen_t len = sizeof addr;
    getsockname(taken, reinterpret_cast<sockaddr*>(&addr), &len);
    const std::string inUse = std::to_string(ntohs(addr.sin_port));
    // As an unprivileged user, as users run it (root drops to nobody).
    const std::string asUser = geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    const bool lowPortsNeedPrivileges =
        test::ReadAll("/proc/sys/net/ipv4/ip_unprivileged_port_start").empty() ||
        std::stoi(test::ReadAll("/proc/sys/net/ipv4/ip_unprivileged_port_start")) > 80;
    struct Case {
        std::string port;
        std::string reason;
    } cases[] = {
        {"80", "The web server cannot listen on port 80: ports below 1024 need administrator "
               "privileges. Choose a port such as 8080"},
        {inUse, "The web server cannot listen on port " + inUse + ": another program already uses it."},
    };
    for (const Case& c : cases) {
        if (c.port == "80" && !lowPortsNeedPrivileges) continue;  // this system lets anyone bind 80
        int status = 0;
        const std::string out = test::RunCommand(
            "TMPDIR='" + dir.path() + "' LC_ALL=C " + asUser + TESSORA_CLI " serve '" TESSORA_SOURCE_DIR
            "/examples/demo.tsr' --port " + c.port + " 2>&1", &status);
        EXPECT_EQ(status, 1) << out;
        EXPECT_NE(out.find("Cannot create web server, please check the port number (" + c.port +
                           "): " + c.reason), std::string::npos) << out;
    }
    close(taken);
}

// The resident memory of process `pid` in bytes (VmRSS), 0 when it cannot be read.
size_t ResidentBytes(pid_t pid) {
    const std::string status = test::ReadAll("/proc/" + std::to_string(pid) + "/status");
    const size_t at = status.find("VmRSS:");
    return at == std::string::npos ? 0 : std::stoul(status.substr(at + 6)) * 1024;
}

// Memory per connection stays small whatever the size of the file: 30 clients that read a
// 320 MB file slowly keep the server small, and it still stops at once.
TEST(CliServe, SlowClientsOfAHugeFileKeepTheServerSmall) {
    test::ServeProcess serve(TESSORA_SOURCE_DIR "/examples/demo.tsr");
    ASSERT_NE(serve.port(), 0) << serve.log();
    const std::string big = serve.working_directory() + "/WEB/big.bin";
    const off_t size = off_t{320} << 20;
    {
        const int fd = open(big.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, size), 0);  // sparse: reads as zeros, takes no disk
        close(fd);
    }
    const size_t before = ResidentBytes(serve.pid());
    std::vector<int> clients;
    for (int i = 0; i < 30; ++i) {
        const int fd = test::ConnectLoopback(serve.port());
        ASSERT_GE(fd, 0);
        int small = 4096;
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        const std::string request = "GET /big.bin HTTP/1.0\r\n\r\n";
        ASSERT_EQ(send(fd, request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
        clients.push_back(fd);
    }
    size_t received = 0;
    std::vector<std::string> headers(clients.size());
    std::vector<char> buffer(64 * 1024);
    for (int round = 0; round < 5; ++round) {
        for (size_t i = 0; i < clients.size(); ++i) {
            const ssize_t n = recv(clients[i], buffer.data(), buffer.size(), 0);
            if (n > 0) received += static_cast<size_t>(n);
            if (n > 0 && headers[i].empty()) headers[i].assign(buffer.data(), static_cast<size_t>(n));
        }
        std::this_thread::sleep_for(200ms);
    }
    const size_t during = ResidentBytes(serve.pid());
    std::printf("30 slow clients of a 320 MB file: RSS %.1f MB before, %.1f MB while serving "
                "(%.1f MB received)\n", before / 1048576.0, during / 1048576.0, received / 1048576.0);
    for (const std::string& header : headers)  // every client is being served
        EXPECT_EQ(header.rfind("HTTP/1.0 200 OK\r\nContent-Length: 335544320\r\n", 0), 0u)
            << header.substr(0, 80);
    EXPECT_LT(received, size_t{30} * 32 << 20);  // the clients are slow: far from the whole file
    EXPECT_GT(during, 0u);
    EXPECT_LT(during, size_t{100} << 20);
    const auto stopping = std::chrono::steady_clock::now();
    EXPECT_EQ(serve.Stop(), 0);
    std::printf("stopped in %.2f s with the 30 clients connected\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - stopping).count());
    for (int fd : clients) close(fd);
}

}  // namespace
}  // namespace tsr
