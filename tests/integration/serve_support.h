// `tessora-cli serve` run as a user runs it, in a private temporary directory, for the tests that
// check the served project from outside.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace tsr::test {

class ServeProcess {
public:
    // Starts `tessora-cli serve PROJECT --port 0 --debug EXTRA...` with TMPDIR in a scratch
    // directory and stderr in `log()`, and waits until it says where it serves (port() stays 0
    // when it never does). `env` adds variables.
    explicit ServeProcess(const std::string& project, std::vector<std::string> extra = {},
                          std::vector<std::string> env = {}) {
        using namespace std::chrono_literals;
        std::vector<std::string> args = {TESSORA_CLI, "serve", project, "--port", "0", "--debug"};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        env_ = {"TMPDIR=" + dir_.path(), "LC_ALL=C", "HOME=" + dir_.path()};
        env_.insert(env_.end(), env.begin(), env.end());
        std::vector<char*> envp;
        for (std::string& e : env_) envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, log_path().c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 1, (dir_ / "stdout.log").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (posix_spawn(&pid_, TESSORA_CLI, &actions, nullptr, argv.data(), envp.data()) != 0)
            pid_ = 0;
        posix_spawn_file_actions_destroy(&actions);
        const std::regex serving(R"(Serving .* on http://[0-9.]+:([0-9]+)/)");
        std::smatch m;
        for (int i = 0; pid_ && i < 200; ++i) {
            std::string text = log();
            if (std::regex_search(text, m, serving)) {
                port_ = static_cast<uint16_t>(std::stoi(m[1]));
                break;
            }
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = 0;
                exit_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                break;
            }
            std::this_thread::sleep_for(50ms);
        }
    }
    ~ServeProcess() { Stop(); }
    ServeProcess(const ServeProcess&) = delete;
    ServeProcess& operator=(const ServeProcess&) = delete;

    uint16_t port() const { return port_; }
    pid_t pid() const { return pid_; }
    std::string log() const { return ReadAll(log_path()); }
    // The scratch directory (TMPDIR of the process: its working directory is TSR10.TMP there).
    const ScratchDir& dir() const { return dir_; }
    std::string working_directory() const { return dir_ / "TSR10.TMP"; }

    // SIGTERM, then waits; returns the exit status (-1 when it did not exit normally).
    int Stop() {
        if (pid_ == 0) return exit_;
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = 0;
        exit_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return exit_;
    }

private:
    std::string log_path() const { return dir_ / "serve.log"; }

    ScratchDir dir_;
    std::vector<std::string> env_;
    pid_t pid_ = 0;
    uint16_t port_ = 0;
    int exit_ = -1;
};

}  // namespace tsr::test
