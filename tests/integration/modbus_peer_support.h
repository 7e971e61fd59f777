// An independent Modbus TCP server as a child process of a test (the pymodbus server and the
// libmodbus server of tests/sims): started on a free loopback port (or a given one), its tables
// read and written through the server's own interface, one text line per command.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

extern char** environ;

namespace tsr::test {

class ModbusPeer {
  public:
    explicit ModbusPeer(std::vector<std::string> command) : command_(std::move(command)) {}
    ~ModbusPeer() { Quit(); }
    ModbusPeer(const ModbusPeer&) = delete;
    ModbusPeer& operator=(const ModbusPeer&) = delete;

    // Starts the server on `port` (0: a free one) and waits for it to tell its port; false
    // (with `error()`) when it does not come up within 10 seconds.
    bool Start(uint16_t port = 0) {
        signal(SIGPIPE, SIG_IGN);  // a server that died fails the command, not the test program
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0) return Fail("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, in[1]);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<std::string> args = command_;
        args.push_back("--port");
        args.push_back(std::to_string(port));
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const int rc = posix_spawn(&pid_, args[0].c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        toServer_ = in[1];
        fromServer_ = out[0];
        fcntl(toServer_, F_SETFD, FD_CLOEXEC);
        fcntl(fromServer_, F_SETFD, FD_CLOEXEC);
        buffered_.clear();
        if (rc != 0) {
            pid_ = -1;
            return Fail("cannot start " + args[0]);
        }
        const std::string line = ReadLine(std::chrono::seconds(10));
        if (line.empty() || line.find_first_not_of("0123456789") != std::string::npos)
            return Fail("no port: " + line);
        port_ = static_cast<uint16_t>(std::stoi(line));
        return true;
    }

    uint16_t port() const { return port_; }
    const std::string& error() const { return error_; }
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

    // The value of `table` ("co", "di", "hr", "ir") at `address`, as the server holds it.
    std::string Get(const std::string& table, int address) {
        return Command("get " + table + " " + std::to_string(address));
    }
    bool Set(const std::string& table, int address, long value) {
        return Command("set " + table + " " + std::to_string(address) + " " +
                       std::to_string(value)) == "ok";
    }

    // Ends the server and waits for it (killed when it has not ended within 2 seconds).
    void Quit() {
        if (pid_ <= 0) return;
        const std::string quit = "quit\n";
        (void)!write(toServer_, quit.data(), quit.size());
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

    std::string Command(const std::string& line) {
        const std::string text = line + "\n";
        if (write(toServer_, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
            return "error write";
        return ReadLine(std::chrono::seconds(5));
    }

    std::string ReadLine(std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            const size_t nl = buffered_.find('\n');
            if (nl != std::string::npos) {
                std::string line = buffered_.substr(0, nl);
                buffered_.erase(0, nl + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return "error time-out";
            pollfd p{fromServer_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            char buf[4096];
            const ssize_t n = read(fromServer_, buf, sizeof buf);
            if (n <= 0) return "error closed";
            buffered_.append(buf, static_cast<size_t>(n));
        }
    }

    std::vector<std::string> command_;
    pid_t pid_ = -1;
    int toServer_ = -1;
    int fromServer_ = -1;
    uint16_t port_ = 0;
    std::string buffered_;
    std::string error_;
};

}  // namespace tsr::test
