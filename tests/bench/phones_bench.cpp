// Many phones on one controller: `tessora-cli serve` in front of a device that answers each read
// after a few milliseconds, with 1 to 40 phones showing the same page of 10 linked widgets.
//
// Each phone behaves as a browser running the generated page: every widget posts a read of its
// own variable, waits for the answer, then waits the refresh period (500 ms) before the next
// read; a phone opens at most 6 connections to the server at once (as browsers do for one
// host), the other reads wait for a free one. A poll's time runs from the moment its widget
// wants to read to the end of the answer. An error is an answer other than a value (a failed
// connection, no answer within 5 s, a status other than 200, "[err]").
//
// Usage: bench_phones TESSORA_CLI [SECONDS_PER_ROW]
// Prints one table per device: phones, polls/s, p50, p99, errors, device reads/s, for serve with
// --max-age 0 (every read asks the device) and with the default maximum age. The Modbus TCP
// table also has a page whose one widget reads 10 adjacent registers in one request. The MQTT
// table reads 10 retained topics of Debian's mosquitto through /MQ (no device behind: every read
// answers from the topics' last payloads), and the last table measures the publish rate of
// `serve --publish` while 40 phones read a Unity simulator whose 10 words change all the time.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "../integration/mqtt_broker_support.h"
#include "../integration/s7_snap7_support.h"
#include "modbus_sim.h"
#include "unity_sim.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kWidgets = 10;  // the widgets of the page, one variable each
constexpr int kConnectionsPerPhone = 6;
constexpr auto kPeriod = 500ms;
constexpr auto kAnswerLimit = 5s;

// `tessora-cli serve` of a project in a directory of its own, until destroyed.
class Served {
public:
    Served(const std::string& cli, const std::string& gatewayXml, const std::vector<std::string>& options) {
        char dirTemplate[] = "/tmp/tessora-bench-XXXXXX";
        dir_ = mkdtemp(dirTemplate);
        const std::string project = dir_ + "/tsr.tsr";
        std::ofstream(project) << "<?xml version=\"1.0\"?>\n<tsr>\n<project webserveron=\"1\" "
                                  "webserverport=\"0\">\n"
                               << gatewayXml << "\n</project>\n</tsr>\n";
        int err[2];
        if (pipe(err) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        posix_spawn_file_actions_addclose(&actions, err[0]);
        std::vector<std::string> args = {cli, "serve", project, "--port", "0"};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> env = {"TMPDIR=" + dir_, "LC_ALL=C", "PATH=/usr/bin:/bin"};
        std::vector<char*> envp;
        for (std::string& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        if (posix_spawn(&pid_, cli.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(err[1]);
        // The program's lines are read all along, so that its log never fills the pipe.
        reader_ = std::thread([this, fd = err[0]] {
            char buf[4096];
            std::string line;
            for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) {
                for (ssize_t i = 0; i < n; ++i) {
                    if (buf[i] != '\n') {
                        line += buf[i];
                        continue;
                    }
                    Seen(line);
                    line.clear();
                }
            }
            close(fd);
        });
    }
    ~Served() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (reader_.joinable()) reader_.join();
        std::string rm = "rm -rf '" + dir_ + "'";
        if (std::system(rm.c_str()) != 0) std::fprintf(stderr, "cannot remove %s\n", dir_.c_str());
    }
    // Waits until the server listens and its gateway has connected; the port, or 0.
    uint16_t WaitReady() {
        for (int i = 0; i < 200; ++i) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (port_ && connected_) return port_;
            }
            std::this_thread::sleep_for(50ms);
        }
        return 0;
    }

private:
    void Seen(const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (line.find("Connected to") != std::string::npos) connected_ = true;
        const size_t serving = line.find(" on http://");
        if (line.rfind("Serving ", 0) == 0 && serving != std::string::npos) {
            const size_t colon = line.find(':', serving + 11);
            if (colon != std::string::npos) port_ = static_cast<uint16_t>(std::atoi(line.c_str() + colon + 1));
        }
    }

    std::string dir_;
    pid_t pid_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    uint16_t port_ = 0;
    bool connected_ = false;
};

struct Row {
    double pollsPerSecond = 0;
    double p50Ms = 0, p99Ms = 0;
    double errorPercent = 0;
    double deviceReadsPerSecond = 0;
};

// `phones` phones, each with one widget per entry of `variables` (the payload it posts) reading from `port`, for
// `measured` after a second of warm-up. `deviceReads` tells how many reads the device has
// answered so far.
Row RunPhones(uint16_t port, const std::string& route, const std::vector<std::string>& variables,
              int phones, std::chrono::milliseconds measured,
              const std::function<uint64_t()>& deviceReads) {
    struct Widget {
        Clock::time_point due;
        bool waiting = false;  // due and not yet answered
    };
    struct Phone {
        std::vector<Widget> widgets;
        std::deque<int> queue;  // widgets due, waiting for a connection
        int open = 0;
    };
    struct Connection {
        int fd = -1;
        int phone = 0, widget = 0;
        Clock::time_point due;
        std::string out;
        size_t sent = 0;
        std::string in;
    };
    std::mt19937 random(42);
    const Clock::time_point start = Clock::now();
    const Clock::time_point measureFrom = start + 1s;
    const Clock::time_point end = measureFrom + measured;
    std::vector<Phone> all(static_cast<size_t>(phones));
    for (Phone& p : all) {
        // Phones open the page at different moments; the widgets of one page start together.
        const auto offset = std::chrono::milliseconds(random() % 500);
        p.widgets.assign(variables.size(), Widget{start + offset});
    }
    std::vector<Connection> connections;
    std::vector<double> latencies;
    uint64_t polls = 0, due = 0, errors = 0;
    uint64_t readsAtStart = 0, readsAtEnd = 0;
    bool measuring = false, ended = false;

    auto finish = [&](Connection& c, bool ok, Clock::time_point now) {
        close(c.fd);
        Phone& p = all[static_cast<size_t>(c.phone)];
        --p.open;
        Widget& w = p.widgets[static_cast<size_t>(c.widget)];
        w.waiting = false;
        w.due = now + kPeriod;
        if (now >= measureFrom && now < end) ++polls;  // answered inside the window
        if (c.due < measureFrom || c.due >= end) return;
        // Every poll that became due inside the window counts for the times and the errors,
        // also when its answer comes after the window.
        ++due;
        if (!ok) ++errors;
        latencies.push_back(std::chrono::duration<double, std::milli>(now - c.due).count());
    };
    auto answerIsValue = [](const std::string& in) {
        if (in.rfind("HTTP/1.0 200 OK\r\n", 0) != 0) return false;
        const size_t body = in.find("\r\n\r\n");
        if (body == std::string::npos) return false;
        const std::string text = in.substr(body + 4);
        return !text.empty() && text[0] != '[';
    };

    std::vector<pollfd> fds;
    for (;;) {
        Clock::time_point now = Clock::now();
        if (!measuring && now >= measureFrom) {
            measuring = true;
            readsAtStart = deviceReads();
        }
        if (!ended && now >= end) {
            ended = true;
            readsAtEnd = deviceReads();
        }
        if (ended && connections.empty()) break;
        // Widgets that are due queue for a connection of their phone; free connections open.
        for (size_t pi = 0; pi < all.size(); ++pi) {
            Phone& p = all[pi];
            for (int wi = 0; wi < static_cast<int>(p.widgets.size()); ++wi) {
                Widget& w = p.widgets[static_cast<size_t>(wi)];
                if (w.waiting || w.due > now || now >= end) continue;
                w.waiting = true;
                p.queue.push_back(wi);
            }
            while (p.open < kConnectionsPerPhone && !p.queue.empty()) {
                const int wi = p.queue.front();
                p.queue.pop_front();
                int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
                sockaddr_in a{};
                a.sin_family = AF_INET;
                a.sin_port = htons(port);
                a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
                ++p.open;
                Connection c;
                c.fd = fd;
                c.phone = static_cast<int>(pi);
                c.widget = wi;
                c.due = p.widgets[static_cast<size_t>(wi)].due;
                c.out = "POST " + route + variables[static_cast<size_t>(wi)] +
                        " HTTP/1.0\r\nContent-Length: 0\r\n\r\n";
                connections.push_back(std::move(c));
            }
        }
        fds.clear();
        for (const Connection& c : connections)
            fds.push_back({c.fd, static_cast<short>(c.sent < c.out.size() ? POLLOUT : POLLIN), 0});
        Clock::time_point wake = now + 10ms;
        for (const Phone& p : all)
            for (const Widget& w : p.widgets)
                if (!w.waiting) wake = std::min(wake, w.due);
        const int timeout = static_cast<int>(std::max<long long>(
            0, std::chrono::duration_cast<std::chrono::milliseconds>(wake - now).count()));
        poll(fds.data(), fds.size(), timeout);
        now = Clock::now();
        std::vector<Connection> still;
        char buf[4096];
        for (size_t i = 0; i < connections.size(); ++i) {
            Connection& c = connections[i];
            bool done = false, ok = false;
            if (fds[i].revents & (POLLOUT | POLLERR | POLLHUP) && c.sent < c.out.size()) {
                ssize_t n = send(c.fd, c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL);
                if (n > 0) c.sent += static_cast<size_t>(n);
                else if (errno != EAGAIN && errno != EINPROGRESS) done = true;
            } else if (fds[i].revents & (POLLIN | POLLERR | POLLHUP)) {
                ssize_t n = recv(c.fd, buf, sizeof buf, 0);
                if (n > 0) {
                    c.in.append(buf, static_cast<size_t>(n));
                } else if (n == 0 || errno != EAGAIN) {
                    done = true;
                    ok = n == 0 && answerIsValue(c.in);
                }
            }
            if (!done && now - c.due > kAnswerLimit) done = true;
            if (done) finish(c, ok, now);
            else still.push_back(std::move(c));
        }
        connections.swap(still);
    }
    const uint64_t reads = readsAtEnd - readsAtStart;
    Row row;
    const double seconds = std::chrono::duration<double>(measured).count();
    row.pollsPerSecond = static_cast<double>(polls) / seconds;
    row.deviceReadsPerSecond = static_cast<double>(reads) / seconds;
    row.errorPercent = due ? 100.0 * static_cast<double>(errors) / static_cast<double>(due) : 0;
    std::sort(latencies.begin(), latencies.end());
    if (!latencies.empty()) {
        row.p50Ms = latencies[latencies.size() / 2];
        row.p99Ms = latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)];
    }
    return row;
}

std::string Milliseconds(double ms) {
    char text[32];
    if (ms >= 1000) std::snprintf(text, sizeof text, "%.2f s", ms / 1000);
    else std::snprintf(text, sizeof text, "%.1f ms", ms);
    return text;
}

// One table: every phone count under each maximum age.
// One serve setting and the phone counts it is measured with.
struct Mode {
    const char* maxAge;  // the --max-age given; null: the default
    std::vector<int> phones;
};

void Table(const char* title, const std::string& cli, const std::string& gatewayXml,
           const std::string& route, const std::vector<std::string>& variables,
           const std::vector<Mode>& modes, std::chrono::milliseconds measured,
           const std::function<uint64_t()>& deviceReads) {
    std::printf("\n%s\n\n", title);
    std::printf("| max age | phones | polls/s | p50 | p99 | errors | device reads/s |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    for (const Mode& mode : modes) {
        std::vector<std::string> options;
        if (mode.maxAge) options = {"--max-age", mode.maxAge};
        const std::string label =
            mode.maxAge ? std::string(mode.maxAge) + " ms" : std::string("default (200 ms)");
        Served served(cli, gatewayXml, options);
        const uint16_t port = served.WaitReady();
        if (!port) {
            std::printf("| %s | tessora-cli serve did not start or connect |\n", label.c_str());
            continue;
        }
        for (int phones : mode.phones) {
            const Row r = RunPhones(port, route, variables, phones, measured, deviceReads);
            std::printf("| %s | %d | %.0f | %s | %s | %.1f %% | %.0f |\n", label.c_str(), phones,
                        r.pollsPerSecond,
                        Milliseconds(r.p50Ms).c_str(), Milliseconds(r.p99Ms).c_str(),
                        r.errorPercent, r.deviceReadsPerSecond);
            std::fflush(stdout);
        }
    }
}

// serve --publish in front of a Unity simulator whose 10 words change every 10 ms, 40 phones
// reading them with --max-age 0: the messages mosquitto_sub receives under the prefix per second.
void PublishRate(const std::string& cli, tsr::test::MqttBroker& broker,
                 const std::vector<std::string>& words, std::chrono::milliseconds measured) {
    tsr::sims::UnitySim unity;
    if (!unity.Start()) return;
    std::atomic<bool> moving{true};
    std::thread mover([&] {
        for (uint16_t n = 0; moving; ++n) {
            for (uint16_t w = 0; w < kWidgets; ++w) unity.SetMemoryWord(w, static_cast<uint16_t>(n + w));
            std::this_thread::sleep_for(10ms);
        }
    });
    std::printf("\nserve --publish: 40 phones read 10 Unity words that change every 10 ms "
                "(--max-age 0)\n\n| phones | polls/s | p99 | errors | published/s |\n|---|---|---|---|---|\n");
    {
        Served served(cli, "<unigateway ip=\"127.0.0.1:" + std::to_string(unity.port()) + "\" id=\"uni1\"/>",
                      {"--max-age", "0", "--publish", broker.url() + "/bench"});
        const uint16_t port = served.WaitReady();
        if (port) {
            const int seconds = static_cast<int>(measured.count() / 1000) + 1;
            std::string received;
            std::thread counter([&] { received = broker.Receive("bench/#", 10000000, seconds); });
            std::this_thread::sleep_for(300ms);
            const Row r = RunPhones(port, "/UNI", words, 40, measured, [] { return uint64_t{0}; });
            counter.join();
            const double published = static_cast<double>(std::count(received.begin(), received.end(), '\n')) /
                                     (static_cast<double>(seconds) - 0.3);
            std::printf("| 40 | %.0f | %s | %.1f %% | %.0f |\n", r.pollsPerSecond,
                        Milliseconds(r.p99Ms).c_str(), r.errorPercent, published);
        } else {
            std::printf("| 40 | tessora-cli serve did not start or connect |\n");
        }
    }
    moving = false;
    mover.join();
    unity.Stop();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s TESSORA_CLI [SECONDS_PER_ROW]\n", argv[0]);
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    const std::string cli = argv[1];
    const auto measured = std::chrono::milliseconds(
        static_cast<long long>(1000 * (argc > 2 ? std::atof(argv[2]) : 8.0)));

    tsr::sims::UnitySim unity;
    if (!unity.Start()) {
        std::fprintf(stderr, "the Unity simulator cannot listen\n");
        return 1;
    }
    unity.SetDelay(5ms);  // a real controller's turn-around
    std::vector<std::string> words;
    for (int i = 0; i < kWidgets; ++i) words.push_back("%MW" + std::to_string(i));
    Table("Unity family: our simulator, each answer 5 ms late", cli,
          "<unigateway ip=\"127.0.0.1:" + std::to_string(unity.port()) + "\" id=\"uni1\"/>", "/UNI",
          words, {{"0", {1, 10, 20, 40}}, {nullptr, {1, 10, 20, 40}}, {"250", {1, 40}}}, measured,
          [&] { return unity.RequestCount(); });
    unity.Stop();

    tsr::sims::ModbusSim modbus;
    if (!modbus.Start()) {
        std::fprintf(stderr, "the Modbus TCP simulator cannot listen\n");
        return 1;
    }
    modbus.SetDelay(5ms);
    std::vector<std::string> registers;
    std::string block;
    for (int i = 0; i < kWidgets; ++i) {
        registers.push_back("mb1/hr" + std::to_string(i));
        block += (i ? ";" : "") + registers.back();
    }
    const std::string modbusGateway =
        "<modbusgateway ip=\"127.0.0.1:" + std::to_string(modbus.port()) + "\" unit=\"1\" id=\"mb1\"/>";
    auto modbusReads = [&] { return modbus.RequestCount(); };
    Table("Modbus TCP family: our simulator, each answer 5 ms late; 10 widgets of one register each",
          cli, modbusGateway, "/MB", registers, {{"0", {1, 40}}, {nullptr, {1, 40}}}, measured,
          modbusReads);
    Table("Modbus TCP family: one widget reading 10 adjacent registers in one request", cli,
          modbusGateway, "/MB", {block}, {{"0", {1, 40}}, {nullptr, {1, 40}}}, measured,
          modbusReads);
    modbus.Stop();

    tsr::test::MqttBroker broker;
    if (!broker.Start()) {
        std::printf("\nMQTT family: not measured (%s)\n", broker.error().c_str());
    } else {
        std::vector<std::string> topics;
        for (int i = 0; i < kWidgets; ++i) {
            broker.Publish("bench/t" + std::to_string(i), std::to_string(100 + i), true);
            topics.push_back("mq1/bench/t" + std::to_string(i));
        }
        Table("MQTT family: Debian's mosquitto, 10 retained topics (device reads/s: none, reads answer "
              "from the topics' last payloads)",
              cli, "<mqttgateway url=\"" + broker.url() + "\" id=\"mq1\"/>", "/MQ", topics,
              {{"0", {1, 40}}}, measured, [] { return uint64_t{0}; });
        PublishRate(cli, broker, words, measured);
    }

    const std::string why = tsr::test::Snap7Server::Unavailable();
    if (!why.empty()) {
        std::printf("\nS7 family: not measured (%s)\n", why.c_str());
        return 0;
    }
    tsr::test::Snap7Server snap7;
    if (!snap7.Start()) {
        std::printf("\nS7 family: not measured (%s)\n", snap7.error().c_str());
        return 0;
    }
    std::vector<std::string> s7words;
    for (int i = 0; i < kWidgets; ++i) s7words.push_back("%MW" + std::to_string(10 * i));
    Table("S7 family: the snap7 library's server (no added delay)", cli,
          "<s7ipgateway ip=\"" + snap7.address() + "\" ucpos=\"2\" id=\"s71\"/>", "/S7", s7words,
          {{"0", {1, 40}}, {nullptr, {1, 40}}}, measured, [&]() -> uint64_t {
              const std::string answer = snap7.Command("reads");
              return answer.rfind("ok ", 0) == 0 ? std::stoull(answer.substr(3)) : 0;
          });
    return 0;
}
