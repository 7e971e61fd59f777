// Debian's mosquitto broker as a child process of a test, on a free loopback port with a
// configuration written for it (anonymous, with a password file, or TLS with a certificate made
// for 127.0.0.1), and Debian's mosquitto_pub / mosquitto_sub as the independent clients.
#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"
#include "socket_support.h"
#include "test_support.h"

extern char** environ;

namespace tsr::test {

// A loopback port nothing listens on right now.
inline uint16_t UnusedLoopbackPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    uint16_t port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    close(fd);
    return port;
}

class MqttBroker {
  public:
    enum class Kind { Anonymous, Password, Tls };
    static constexpr const char* kUser = "panel";
    static constexpr const char* kPassword = "s3cret-pass";

    explicit MqttBroker(Kind kind = Kind::Anonymous) : kind_(kind) {}
    ~MqttBroker() { Stop(); }
    MqttBroker(const MqttBroker&) = delete;
    MqttBroker& operator=(const MqttBroker&) = delete;

    // Writes the configuration and starts the broker on a free port; false (with error()) when
    // it does not listen within 5 seconds.
    bool Start() {
        if (!WriteConfiguration()) return false;
        for (int attempt = 0; attempt < 3; ++attempt) {
            port_ = UnusedLoopbackPort();
            if (Launch()) return true;
        }
        return false;
    }
    // Starts it again on the same port after Stop.
    bool Restart() { return Launch(); }
    void Stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        for (int i = 0; i < 200 && waitpid(pid_, nullptr, WNOHANG) != pid_; ++i) usleep(10000);
        if (waitpid(pid_, nullptr, WNOHANG) == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }

    uint16_t port() const { return port_; }
    std::string url() const {
        return std::string(kind_ == Kind::Tls ? "mqtts" : "mqtt") + "://127.0.0.1:" +
               std::to_string(port_);
    }
    // The certificate a client must trust for the TLS broker (its own, self-signed).
    std::string certificate() const { return dir_ / "broker.crt"; }
    const std::string& error() const { return error_; }

    // mosquitto_pub: one message, QoS 1. True when it was delivered.
    bool Publish(const std::string& topic, const std::string& payload, bool retain = false) {
        std::vector<std::string> argv = ClientArguments("mosquitto_pub");
        argv.insert(argv.end(), {"-q", "1", "-t", topic, "-m", payload});
        if (retain) argv.push_back("-r");
        std::optional<ProcessResult> r = RunAndCapture(argv);
        return r && r->exitCode == 0;
    }
    // mosquitto_sub: the first `count` messages of `topic` ("topic payload" lines), within
    // `seconds`; whatever arrived by then.
    std::string Receive(const std::string& topic, int count = 1, int seconds = 5) {
        std::vector<std::string> argv = ClientArguments("mosquitto_sub");
        argv.insert(argv.end(), {"-v", "-t", topic, "-C", std::to_string(count), "-W",
                                 std::to_string(seconds)});
        std::optional<ProcessResult> r = RunAndCapture(argv);
        if (!r) return {};
        // Its time-out note comes on standard error, which the output holds too.
        const std::string note = "Timed out\n";
        if (const size_t at = r->output.find(note); at != std::string::npos) r->output.erase(at, note.size());
        return r->output;
    }
    // mosquitto_sub started now, in the background: call Take() for what it received.
    class Subscriber {
      public:
        Subscriber(MqttBroker& broker, const std::string& topic, int count, int seconds)
            : thread_([this, &broker, topic, count, seconds] {
                  text_ = broker.Receive(topic, count, seconds);
              }) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));  // subscribed by then
        }
        std::string Take() {
            if (thread_.joinable()) thread_.join();
            return text_;
        }
        ~Subscriber() { Take(); }

      private:
        std::string text_;
        std::thread thread_;
    };

  private:
    std::vector<std::string> ClientArguments(const char* program) const {
        std::vector<std::string> argv = {program, "-h", "127.0.0.1", "-p", std::to_string(port_)};
        if (kind_ == Kind::Password) argv.insert(argv.end(), {"-u", kUser, "-P", kPassword});
        if (kind_ == Kind::Tls) argv.insert(argv.end(), {"--cafile", certificate()});
        return argv;
    }

    bool WriteConfiguration() {
        if (kind_ == Kind::Password) {
            std::optional<ProcessResult> r = RunAndCapture(
                {"mosquitto_passwd", "-b", "-c", dir_ / "passwords", kUser, kPassword});
            if (!r || r->exitCode != 0) return Fail("mosquitto_passwd: " + (r ? r->output : ""));
        }
        if (kind_ == Kind::Tls) {
            std::optional<ProcessResult> r = RunAndCapture(
                {"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                 "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                 "subjectAltName=IP:127.0.0.1", "-addext", "basicConstraints=critical,CA:TRUE",
                 "-keyout", dir_ / "broker.key", "-out", certificate()});
            if (!r || r->exitCode != 0) return Fail("openssl: " + (r ? r->output : ""));
        }
        return true;
    }

    void WriteListener() {
        std::ofstream conf(dir_ / "mosquitto.conf");
        // Started by root, mosquitto would run as the user "mosquitto", which cannot read this
        // directory: it stays the user who runs the test.
        const passwd* user = getpwuid(geteuid());
        if (user) conf << "user " << user->pw_name << "\n";
        conf << "listener " << port_ << " 127.0.0.1\n"
             << "persistence false\n"
             << "log_dest file " << (dir_ / "broker.log") << "\n";
        if (kind_ == Kind::Password)
            conf << "allow_anonymous false\npassword_file " << (dir_ / "passwords") << "\n";
        else
            conf << "allow_anonymous true\n";
        if (kind_ == Kind::Tls)
            conf << "certfile " << certificate() << "\nkeyfile " << (dir_ / "broker.key") << "\n";
    }

    bool Launch() {
        WriteListener();
        std::vector<std::string> args = {"/usr/sbin/mosquitto", "-c", dir_ / "mosquitto.conf"};
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        // Its own lines (a warning before the configuration is read) go to its log.
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        const std::string early = dir_ / "broker.out";
        posix_spawn_file_actions_addopen(&actions, 1, early.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        const int spawned = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            pid_ = -1;
            return Fail("cannot start mosquitto");
        }
        for (int i = 0; i < 250; ++i) {
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return Fail("mosquitto ended: " + ReadAll(dir_ / "broker.out") + ReadAll(dir_ / "broker.log"));
            }
            const int fd = ConnectLoopback(port_);
            if (fd >= 0) {
                close(fd);
                return true;
            }
            usleep(20000);
        }
        Stop();
        return Fail("mosquitto does not listen on " + std::to_string(port_));
    }

    bool Fail(const std::string& text) {
        error_ = text;
        return false;
    }

    Kind kind_;
    ScratchDir dir_;
    pid_t pid_ = -1;
    uint16_t port_ = 0;
    std::string error_;
};

}  // namespace tsr::test
