// The snap7 library's S7 server (tests/sims/snap7_server.mjs under Node.js) as a child process
// of a test: started on a free loopback port, its memory read and written through the server's
// own interface with one text line per command.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace tsr::test {

// The Node.js program on the PATH ("node", else "nodejs"); empty when there is none.
inline std::string FindNode() {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    for (const char* name : {"node", "nodejs"}) {
        size_t start = 0;
        while (start <= dirs.size()) {
            size_t end = dirs.find(':', start);
            if (end == std::string::npos) end = dirs.size();
            std::string candidate = dirs.substr(start, end - start) + "/" + name;
            if (access(candidate.c_str(), X_OK) == 0) return candidate;
            start = end + 1;
        }
    }
    return {};
}

class Snap7Server {
public:
    Snap7Server() = default;
    ~Snap7Server() { Quit(); }
    Snap7Server(const Snap7Server&) = delete;
    Snap7Server& operator=(const Snap7Server&) = delete;

    // Why the server cannot run here (no Node.js, node-snap7 not installed), or empty.
    static std::string Unavailable() {
        if (FindNode().empty()) return "Node.js is not on the PATH";
        struct stat st;
        const std::string module = TESSORA_SOURCE_DIR "/web/node_modules/node-snap7/package.json";
        if (stat(module.c_str(), &st) != 0) {
            return "node-snap7 is not installed in web/node_modules (npm ci in web/)";
        }
        return {};
    }

    // Starts the server and waits for its port; false (with `error()`) when it does not come up.
    bool Start() {
        // A server that has died must fail the test's command, not end the test program.
        signal(SIGPIPE, SIG_IGN);
        int in[2], out[2];
        if (pipe(in) != 0) return Fail("pipe");
        if (pipe(out) != 0) return Fail("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, in[1]);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::string node = FindNode();
        std::string script = TESSORA_SOURCE_DIR "/tests/sims/snap7_server.mjs";
        char* argv[] = {node.data(), script.data(), nullptr};
        const int rc = posix_spawn(&pid_, node.c_str(), &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        toServer_ = in[1];
        fromServer_ = out[0];
        fcntl(toServer_, F_SETFD, FD_CLOEXEC);
        fcntl(fromServer_, F_SETFD, FD_CLOEXEC);
        if (rc != 0) {
            pid_ = -1;
            return Fail("cannot start " + node);
        }
        std::string line = ReadLine(std::chrono::seconds(10));
        if (line.rfind("port ", 0) != 0) return Fail("no port: " + line);
        port_ = static_cast<uint16_t>(std::stoi(line.substr(5)));
        return true;
    }

    uint16_t port() const { return port_; }
    const std::string& error() const { return error_; }
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

    // Sends one command line and returns the answer line ("ok ...", "error ...").
    std::string Command(const std::string& line) {
        std::string text = line + "\n";
        if (write(toServer_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
            return "error write";
        }
        return ReadLine(std::chrono::seconds(5));
    }
    // The `count` bytes of `area` ("MK", "PE", "PA", "DB1") from `offset`, as lower-case hex.
    std::string Get(const std::string& area, int offset, int count) {
        std::string answer = Command("get " + area + " " + std::to_string(offset) + " " +
                                     std::to_string(count));
        return answer.rfind("ok ", 0) == 0 ? answer.substr(3) : answer;
    }
    bool Set(const std::string& area, int offset, const std::string& hex) {
        return Command("set " + area + " " + std::to_string(offset) + " " + hex) == "ok";
    }

    void Quit() {
        if (pid_ <= 0) return;
        Command("quit");
        close(toServer_);
        close(fromServer_);
        for (int i = 0; i < 100; ++i) {
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return;
            }
            usleep(20000);
        }
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    bool Fail(const std::string& text) {
        error_ = text;
        return false;
    }

    std::string ReadLine(std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            size_t nl = buffered_.find('\n');
            if (nl != std::string::npos) {
                std::string line = buffered_.substr(0, nl);
                buffered_.erase(0, nl + 1);
                return line;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return "error time-out";
            pollfd p{fromServer_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            char buf[4096];
            ssize_t n = read(fromServer_, buf, sizeof buf);
            if (n <= 0) return "error closed";
            buffered_.append(buf, static_cast<size_t>(n));
        }
    }

    pid_t pid_ = -1;
    int toServer_ = -1;
    int fromServer_ = -1;
    uint16_t port_ = 0;
    std::string buffered_;
    std::string error_;
};

}  // namespace tsr::test
