// `tessora-cli simulate FAMILY` as a user runs it beside `tessora-cli serve`: for every family the
// server's gateway reaches the simulator, a moving variable changes between two reads, a written
// variable reads back, and the simulator ends promptly on SIGTERM.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <regex>
#include <thread>

#include "mqtt_broker_support.h"
#include "serve_support.h"
#include "socket_support.h"
#include "test_support.h"

namespace tsr {
namespace {

using namespace std::chrono_literals;

// `tessora-cli simulate ARGS...` with its standard output and error in files.
class SimulateProcess {
  public:
    SimulateProcess(std::vector<std::string> args, std::vector<std::string> env,
                    const std::string& out)
        : out_(out) {
        args.insert(args.begin(), {TESSORA_CLI, "simulate"});
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (std::string& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, (out + ".err").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (posix_spawn(&pid_, TESSORA_CLI, &actions, nullptr, argv.data(), envp.data()) != 0)
            pid_ = 0;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~SimulateProcess() {
        if (pid_ != 0) Terminate(nullptr);
    }

    // Waits until it says how it is stopped (it is serving then); false when it ended first.
    bool WaitReady() {
        for (int i = 0; pid_ != 0 && i < 100; ++i) {
            if (Output().find("Ctrl-C or SIGTERM stops it.\n") != std::string::npos) return true;
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) pid_ = 0;
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }

    // SIGTERM and the wait for its end; the exit status (-1 when it did not exit normally) and,
    // in `took`, how long it took to end.
    int Terminate(std::chrono::milliseconds* took) {
        const auto start = std::chrono::steady_clock::now();
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = 0;
        if (took != nullptr)
            *took = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Waits for its end on its own; the exit status.
    int Wait() {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string Output() const { return test::ReadAll(out_) + test::ReadAll(out_ + ".err"); }

  private:
    std::string out_;
    pid_t pid_ = 0;
};

std::string Post(uint16_t port, const std::string& path) {
    return test::AnswerBody(test::HttpExchange(port, "POST " + path + " HTTP/1.0\r\n\r\n"));
}

struct FamilyCase {
    const char* family;
    const char* gateway;    // the gateway element, "IP" where the printed ip goes
    const char* route;      // the request's route word
    const char* moving;     // a variable that moves by itself
    const char* readBack;   // a variable that is written and read back
    const char* connected;  // the gateway's connection line in the server's log
};

const FamilyCase kFamilies[] = {
    {"unity", R"(<unigateway ip="IP" id="uni1" />)", "/UNI", "%MW0", "%MW10",
     "Connected to Unity simulator or M340"},
    {"s7", R"(<s7ipgateway ip="IP" ucpos="0" id="s71" />)", "/S7", "%MW0", "%MW40", "Connected to S7 IP"},
    {"kx", R"(<kxgateway id="kx1" />)", "/KX", "ramp@SIM$1", "setpoint@SIM$1", "Connected to KX"},
    {"corvane", R"(<corvanegateway id="cvn1" />)", "/CVN", "m0", "m10", "Connected to CORVANE"},
    {"simora", R"(<smgateway id="sm1" />)", "/SM", "ramp", "setpoint", "Connected to SIMORA"},
    // The route word with the gateway the items name; an item without one goes to it too.
    {"modbus", R"(<modbusgateway ip="IP" unit="1" id="mb1" />)", "/MBmb1/", "hr0", "hr10",
     "Connected to Modbus TCP device 127.0.0.1:"},
};

TEST(Simulate, EachFamilyAnswersItsGatewayThroughServeAndStopsOnSigterm) {
    for (const FamilyCase& c : kFamilies) {
        SCOPED_TRACE(c.family);
        test::ScratchDir dir;
        const std::vector<std::string> env = {
            "TMPDIR=" + dir.path(), "XDG_RUNTIME_DIR=" + dir.path(), "LC_ALL=C",
            "TESSORA_KX_SHM_PREFIX=tsrsim" + std::to_string(getpid()) + "_"};
        std::vector<std::string> args = {c.family};
        const bool network = std::string(c.gateway).find("IP") != std::string::npos;
        if (network) args.insert(args.end(), {"--port", "0"});
        SimulateProcess sim(args, env, dir / "sim.out");
        ASSERT_TRUE(sim.WaitReady()) << sim.Output();
        const std::string printed = sim.Output();
        // The names as printed: a page's request writes KX's "#" as "$".
        for (std::string name : {c.moving, c.readBack}) {
            std::replace(name.begin(), name.end(), '$', '#');
            EXPECT_NE(printed.find(name), std::string::npos) << printed;
        }

        std::string gateway = c.gateway;
        if (network) {
            std::smatch m;
            ASSERT_TRUE(std::regex_search(printed, m, std::regex("gateway ip: (127\\.0\\.0\\.1:[0-9]+)\n")))
                << printed;
            gateway.replace(gateway.find("IP"), 2, m[1].str());
        }
        const std::string project = dir / "panel.tsr";
        ASSERT_TRUE(WriteFile(project, "<?xml version=\"1.0\"?>\n<tsr><project>" + gateway +
                                                 "</project></tsr>\n"));
        test::ServeProcess serve(project, {}, env);
        ASSERT_NE(serve.port(), 0) << serve.log();
        EXPECT_NE(serve.log().find(c.connected), std::string::npos) << serve.log();

        // A moving variable: a number now and another one a little later.
        const std::regex number("-?[0-9]+(\\.[0-9]+)?");
        const std::string first = Post(serve.port(), std::string(c.route) + c.moving);
        std::this_thread::sleep_for(450ms);
        const std::string second = Post(serve.port(), std::string(c.route) + c.moving);
        EXPECT_TRUE(std::regex_match(first, number)) << first;
        EXPECT_TRUE(std::regex_match(second, number)) << second;
        EXPECT_NE(first, second);

        // A written variable reads back, in the same request and in the next.
        const std::string write = std::string(c.route) + c.readBack + "=42;" + c.readBack;
        EXPECT_EQ(Post(serve.port(), write), "42");
        EXPECT_EQ(Post(serve.port(), std::string(c.route) + c.readBack), "42");

        std::chrono::milliseconds took{0};
        EXPECT_EQ(sim.Terminate(&took), 0);
        EXPECT_LT(took, 1000ms);
        EXPECT_NE(sim.Output().find("Simulator stopped"), std::string::npos);
        EXPECT_EQ(serve.Stop(), 0);
    }
}

TEST(Simulate, BadArgumentsAreRefused) {
    struct Case {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{}, "usage:"},
        {{"plc5"}, "usage:"},
        {{"unity", "--port", "70000"}, "usage:"},
        {{"unity", "--port"}, "usage:"},
        {{"kx", "--port", "5020"}, "takes no --port"},
        {{"simora", "--listen", "0.0.0.0"}, "takes no --port"},
        {{"mqtt", "--port", "1883"}, "takes --url, not --port"},
        {{"mqtt", "--url", "http://127.0.0.1:1883"}, "is not a broker address"},
    };
    for (const Case& c : cases) {
        test::ScratchDir dir;
        SimulateProcess sim(c.args, {"TMPDIR=" + dir.path(), "XDG_RUNTIME_DIR=" + dir.path()},
                            dir / "sim.out");
        EXPECT_EQ(sim.Wait(), 2) << c.message;
        EXPECT_NE(sim.Output().find(c.message), std::string::npos) << sim.Output();
    }
}

// The MQTT simulator publishes to a broker given by --url; a panel server reads its topics and
// a JSON field, and a retained write reads back.
TEST(Simulate, MqttPublishesMovingValuesToTheBroker) {
    test::MqttBroker broker;
    ASSERT_TRUE(broker.Start()) << broker.error();
    test::ScratchDir dir;
    const std::vector<std::string> env = {"TMPDIR=" + dir.path(), "LC_ALL=C"};
    {
        // Without a broker it says so and how to start one.
        SimulateProcess sim({"mqtt", "--url", "mqtt://127.0.0.1:" + std::to_string(test::UnusedLoopbackPort())},
                            env, dir / "none.out");
        EXPECT_EQ(sim.Wait(), 1);
        EXPECT_NE(sim.Output().find("cannot connect to the MQTT broker"), std::string::npos) << sim.Output();
        EXPECT_NE(sim.Output().find("mosquitto -p"), std::string::npos) << sim.Output();
    }
    SimulateProcess sim({"mqtt", "--url", broker.url()}, env, dir / "sim.out");
    ASSERT_TRUE(sim.WaitReady()) << sim.Output();
    EXPECT_NE(sim.Output().find("tessora/demo/json|status.counter"), std::string::npos) << sim.Output();
    const std::string project = dir / "panel.tsr";
    ASSERT_TRUE(WriteFile(project, "<?xml version=\"1.0\"?>\n<tsr><project><mqttgateway url=\"" +
                                       broker.url() + "\" retain=\"1\" id=\"mq1\" /></project></tsr>\n"));
    test::ServeProcess serve(project, {}, env);
    ASSERT_NE(serve.port(), 0) << serve.log();
    const std::regex number("-?[0-9]+(\\.[0-9]+)?");
    const std::string first = Post(serve.port(), "/MQmq1/tessora/demo/ramp");
    std::this_thread::sleep_for(450ms);
    const std::string second = Post(serve.port(), "/MQmq1/tessora/demo/ramp");
    EXPECT_TRUE(std::regex_match(first, number)) << first;
    EXPECT_TRUE(std::regex_match(second, number)) << second;
    EXPECT_NE(first, second);
    EXPECT_TRUE(std::regex_match(Post(serve.port(), "/MQmq1/tessora/demo/json|status.counter"), number));
    EXPECT_EQ(Post(serve.port(), "/MQmq1/tessora/demo/json|status.nothing"), "[err]");
    EXPECT_EQ(Post(serve.port(), "/MQmq1/tessora/demo/setpoint=42"), "");
    EXPECT_EQ(Post(serve.port(), "/MQmq1/tessora/demo/setpoint"), "42");
    std::chrono::milliseconds took{0};
    EXPECT_EQ(sim.Terminate(&took), 0);
    EXPECT_LT(took, 1000ms);
    EXPECT_EQ(serve.Stop(), 0);
}

}  // namespace
}  // namespace tsr
