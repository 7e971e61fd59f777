#include "cli/simulate.h"

#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "corvane_sim.h"
#include "gateways/corvane/frames.h"
#include "gateways/kx/kx_gateway.h"
#include "gateways/simora/frames.h"
#include "gateways/transport/mqtt_client.h"
#include "gateways/transport/tcp_transport.h"
#include "kx_sim.h"
#include "modbus_sim.h"
#include "moving_values.h"
#include "platform/paths.h"
#include "s7_sim.h"
#include "simora_sim.h"
#include "unity_sim.h"
#include "webserver/server.h"

namespace tsr::cli {

const char kSimulateUsage[] =
    "  simulate unity|s7|kx|corvane|simora|modbus [--port N] [--listen ADDR]\n"
    "                           run a simulator of that device family until Ctrl-C: Unity on\n"
    "                           port 5020, S7 on port 10102 and Modbus TCP on port 5502 unless N\n"
    "                           is given (0: a free port), on 127.0.0.1 unless ADDR is given; it\n"
    "                           prints the gateway's ip and the variables it serves\n"
    "  simulate mqtt [--url mqtt://HOST:PORT[/PREFIX]]\n"
    "                           publish moving values, retained, to an MQTT broker (default\n"
    "                           mqtt://127.0.0.1:1883, topics under tessora/demo) until Ctrl-C\n";

namespace {

constexpr uint16_t kUnityPort = 5020;
constexpr uint16_t kS7Port = 10102;
constexpr uint16_t kModbusPort = 5502;
constexpr long kTickMs = 100;

// One running simulator: started once, moved forward every tick, stopped at the end.
class Simulation {
  public:
    virtual ~Simulation() = default;
    // Starts it; false (with a message on standard error) when it cannot.
    virtual bool Start() = 0;
    // Sets the moving variables to their values `ms` milliseconds after the start.
    virtual void Tick(int64_t ms) = 0;
    virtual void Stop() = 0;
    // The lines that tell the user what to put in the gateway and which variables are served.
    virtual std::string Describe() const = 0;
};

// The address a page's gateway uses for a simulator listening on `listen`:`port`: a wildcard
// address is reached through this machine's own address.
std::string GatewayAddress(const std::string& listen, uint16_t port) {
    const std::string host = listen == "0.0.0.0" || listen == "::" ? HostAddress() : listen;
    return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
           std::to_string(port);
}

// A simulator listening on a TCP address and port: `Sim` has Start(address, port), port() and
// Stop().
template <typename Sim>
class TcpSimulation : public Simulation {
  public:
    TcpSimulation(std::string listen, uint16_t port) : listen_(std::move(listen)), port_(port) {}
    bool Start() override {
        if (sim_.Start(listen_, port_)) return true;
        std::fprintf(stderr, "tessora-cli: cannot listen on %s port %u\n", listen_.c_str(), port_);
        return false;
    }
    void Stop() override { sim_.Stop(); }

  protected:
    std::string listen_;
    uint16_t port_;
    Sim sim_;
};

class UnitySimulation : public TcpSimulation<sims::UnitySim> {
  public:
    using TcpSimulation::TcpSimulation;
    void Tick(int64_t ms) override {
        using namespace sims;
        sim_.SetMemoryWord(0, static_cast<uint16_t>(RampValue(ms)));
        sim_.SetMemoryWord(1, static_cast<uint16_t>(SineWord(ms)));
        sim_.SetMemoryReal(2, static_cast<float>(SineValue(ms)));  // words 2 and 3
        sim_.SetMemoryBit(0, ToggleBit(ms));
        sim_.SetMemoryWord(4, static_cast<uint16_t>(CounterValue(ms)));
    }
    std::string Describe() const override {
        return "Unity / M340 simulator on " + listen_ + " port " + std::to_string(sim_.port()) +
               "\n"
               "gateway ip: " + GatewayAddress(listen_, sim_.port()) + "\n"
               "moving: %MW0 (ramp 0 to 100), %MW1 (sine 0 to 100), %MF2 (the sine, real),\n"
               "        %M0 (bit, toggles every second), %MW4 (counter, seconds)\n"
               "read back: %MW10 (set point), %M10 and %M11 (bits), %MW12 (value)\n";
    }
};

class ModbusSimulation : public TcpSimulation<sims::ModbusSim> {
  public:
    using TcpSimulation::TcpSimulation;
    void Tick(int64_t ms) override {
        using namespace sims;
        sim_.SetHoldingRegister(0, static_cast<uint16_t>(RampValue(ms)));
        sim_.SetHoldingRegister(1, static_cast<uint16_t>(SineWord(ms)));
        sim_.SetHoldingFloat(2, static_cast<float>(SineValue(ms)));  // registers 2 and 3
        sim_.SetCoil(0, ToggleBit(ms));
        sim_.SetHoldingRegister(4, static_cast<uint16_t>(CounterValue(ms)));
        sim_.SetInputRegister(0, static_cast<uint16_t>(RampValue(ms)));
        sim_.SetDiscreteInput(0, ToggleBit(ms));
    }
    std::string Describe() const override {
        return "Modbus TCP simulator on " + listen_ + " port " + std::to_string(sim_.port()) +
               " (every unit)\n"
               "gateway ip: " + GatewayAddress(listen_, sim_.port()) + "\n"
               "moving: hr0 (ramp 0 to 100), hr1 (sine 0 to 100), hr2:f32 (the sine, real),\n"
               "        co0 (bit, toggles every second), hr4 (counter, seconds),\n"
               "        ir0 (the ramp), di0 (the bit)\n"
               "read back: hr10 (set point), co10 and co11 (bits), hr12 (value), hr14.3 (bit)\n";
    }
};

// S7 words and reals are big-endian in the flag area.
std::vector<uint8_t> BigEndian(uint32_t value, size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * (size - 1 - i)));
    return bytes;
}

class S7Simulation : public TcpSimulation<sims::S7Sim> {
  public:
    using TcpSimulation::TcpSimulation;
    void Tick(int64_t ms) override {
        using namespace sims;
        constexpr uint8_t kFlags = 0x83;
        sim_.SetBytes(kFlags, 0, BigEndian(static_cast<uint32_t>(RampValue(ms)), 2));
        sim_.SetBytes(kFlags, 2, BigEndian(static_cast<uint32_t>(SineWord(ms)), 2));
        sim_.SetBytes(kFlags, 4,
                      BigEndian(std::bit_cast<uint32_t>(static_cast<float>(SineValue(ms))), 4));
        sim_.SetBytes(kFlags, 10, BigEndian(static_cast<uint32_t>(CounterValue(ms)), 2));
        sim_.SetBytes(kFlags, 21, {static_cast<uint8_t>(ToggleBit(ms) ? 1 : 0)});  // %M20.8
    }
    std::string Describe() const override {
        return "S7 simulator on " + listen_ + " port " + std::to_string(sim_.port()) +
               "\n"
               "gateway ip: " + GatewayAddress(listen_, sim_.port()) + "\n"
               "moving: %MW0 (ramp 0 to 100), %MW2 (sine 0 to 100), %MF4 (the sine, real),\n"
               "        %M20.8 (bit, toggles every second), %MW10 (counter, seconds)\n"
               "read back: %MW40 (set point), %M30.8 and %M30.9 (bits), %MW42 (value)\n";
    }
};

class KxSimulation : public Simulation {
  public:
    KxSimulation() : prefix_(KxPrefixFromEnvironment()), sim_(prefix_) {}
    bool Start() override {
        if (!sim_.Start()) {
            std::fprintf(stderr, "tessora-cli: cannot create the KX shared-memory blocks\n");
            return false;
        }
        for (const char* name : {"setpoint@SIM#1", "switch@SIM#1", "check@SIM#1", "value@SIM#1"})
            sim_.SetInteger(name, 0);
        return true;
    }
    void Tick(int64_t ms) override {
        using namespace sims;
        sim_.SetInteger("ramp@SIM#1", RampValue(ms));
        sim_.SetSingle("sine@SIM#1", static_cast<float>(SineValue(ms)));
        sim_.SetInteger("bit@SIM#1", ToggleBit(ms) ? 1 : 0);
        sim_.SetInteger("counter@SIM#1", CounterValue(ms));
    }
    void Stop() override { sim_.Stop(); }
    std::string Describe() const override {
        return "KX gateway program simulator: the shared-memory blocks " + KxBlockName(prefix_, 1) +
               " to " + KxBlockName(prefix_, 8) +
               "\n"
               "gateway ip: none (the KX gateway finds the blocks by itself)\n"
               "moving: ramp@SIM#1 (ramp 0 to 100), sine@SIM#1 (sine 0 to 100, real),\n"
               "        bit@SIM#1 (toggles every second), counter@SIM#1 (counter, seconds)\n"
               "read back: setpoint@SIM#1, switch@SIM#1, check@SIM#1, value@SIM#1\n"
               "(in a page's request, # is written $)\n";
    }

  private:
    std::string prefix_;
    sims::KxSim sim_;
};

class CorvaneSimulation : public Simulation {
  public:
    CorvaneSimulation() : directory_(ProgramDirectory() + "/orvo8"), sim_(directory_) {}
    bool Start() override {
        struct stat st {};
        const std::string library = directory_ + "/" + std::string(corvane::kLibraryName);
        if (stat(library.c_str(), &st) != 0) {
            std::fprintf(stderr, "tessora-cli: the runtime library %s is missing\n",
                         library.c_str());
            return false;
        }
        if (sim_.Start()) return true;
        std::fprintf(stderr, "tessora-cli: cannot listen on the Corvane runtime socket %s\n",
                     RuntimeSocketPath(corvane::kRuntimeSocketName).c_str());
        return false;
    }
    // The values move inside the runtime library, which the gateway loads into its own process.
    void Tick(int64_t) override {}
    void Stop() override { sim_.Stop(); }
    std::string Describe() const override {
        return "Corvane runtime simulator on " + RuntimeSocketPath(corvane::kRuntimeSocketName) +
               "\n"
               "gateway ip: none (the gateway loads " + directory_ + "/" +
               std::string(corvane::kLibraryName) + ")\n"
               "moving: m0 (ramp 0 to 100), m1 (sine 0 to 100), f0 (the sine, real),\n"
               "        b0 (bit, toggles every second), m2 (counter, seconds)\n"
               "read back: m10 (set point), b10 and b11 (bits), m12 (value)\n";
    }

  private:
    std::string directory_;
    sims::CorvaneRuntimeSim sim_;
};

class SimoraSimulation : public Simulation {
  public:
    bool Start() override {
        if (!sim_.Start()) {
            std::fprintf(stderr, "tessora-cli: cannot listen on the Simora socket %s\n",
                         RuntimeSocketPath(simora::kSimoraSocketName).c_str());
            return false;
        }
        for (const char* name : {"setpoint", "switch", "check", "value"}) sim_.SetBehavior(name, 0);
        return true;
    }
    void Tick(int64_t ms) override {
        using namespace sims;
        sim_.SetBehavior("ramp", static_cast<float>(RampValue(ms)));
        sim_.SetBehavior("sine", static_cast<float>(SineValue(ms)));
        sim_.SetBehavior("bit", ToggleBit(ms) ? 1.0f : 0.0f);
        sim_.SetBehavior("counter", static_cast<float>(CounterValue(ms)));
    }
    void Stop() override { sim_.Stop(); }
    std::string Describe() const override {
        return "Simora simulator on " + RuntimeSocketPath(simora::kSimoraSocketName) +
               "\n"
               "gateway ip: none (the gateway finds the simulator by itself)\n"
               "moving: ramp (ramp 0 to 100), sine (sine 0 to 100), bit (toggles every second),\n"
               "        counter (counter, seconds)\n"
               "read back: setpoint, switch, check, value\n";
    }

  private:
    sims::SimoraSim sim_;
};

// Devices that publish to a broker: the moving values under PREFIX, retained, each time they
// change. PREFIX itself carries the ramp, so that a link left on its default topic moves.
class MqttSimulation : public Simulation {
  public:
    explicit MqttSimulation(mqtt::BrokerUrl broker) : prefix_(broker.prefix), port_(broker.port) {
        MqttClientSettings settings;
        settings.broker = std::move(broker);
        settings.clientId = "tessora-simulate-" + std::to_string(getpid());
        client_ = std::make_unique<MqttClient>(settings, nullptr);
    }
    bool Start() override {
        if (client_->Start() && client_->WaitOutcome(std::chrono::seconds(3))) return true;
        std::fprintf(stderr,
                     "tessora-cli: cannot connect to the MQTT broker (%s)\n"
                     "Start one first, for example: mosquitto -p %d\n",
                     client_->Failure().c_str(), port_);
        return false;
    }
    void Tick(int64_t ms) override {
        using namespace sims;
        char sine[32];
        std::snprintf(sine, sizeof sine, "%.2f", SineValue(ms));
        const std::string ramp = std::to_string(RampValue(ms)), bit = ToggleBit(ms) ? "1" : "0",
                          counter = std::to_string(CounterValue(ms));
        Send(prefix_, ramp);
        Send(prefix_ + "/ramp", ramp);
        Send(prefix_ + "/sine", sine);
        Send(prefix_ + "/bit", bit);
        Send(prefix_ + "/counter", counter);
        Send(prefix_ + "/json", std::string("{\"ramp\":") + ramp + ",\"sine\":" + sine +
                                    ",\"bit\":" + (bit == "1" ? "true" : "false") +
                                    ",\"status\":{\"counter\":" + counter + ",\"text\":\"" +
                                    (bit == "1" ? "running" : "waiting") + "\"}}");
    }
    void Stop() override { client_->Stop(); }
    std::string Describe() const override {
        return "MQTT devices publishing to " + client_->Endpoint() + " (retained)\n"
               "gateway url: mqtt://" + client_->Endpoint() + "\n"
               "moving: " + prefix_ + " and " + prefix_ + "/ramp (ramp 0 to 100), " + prefix_ +
               "/sine (sine 0 to 100),\n"
               "        " + prefix_ + "/bit (toggles every second), " + prefix_ +
               "/counter (counter, seconds),\n"
               "        " + prefix_ + "/json (a JSON object: " + prefix_ + "/json|ramp, " +
               prefix_ + "/json|status.counter, " + prefix_ + "/json|status.text)\n";
    }

  private:
    // Publishes a value when it differs from the one last sent for its topic (all again after a
    // new connection, since the broker may have lost them).
    void Send(const std::string& topic, const std::string& value) {
        if (client_->connections() != connections_) {
            last_.clear();
            connections_ = client_->connections();
        }
        std::string& last = last_[topic];
        if (last == value) return;
        if (client_->Publish(topic, value, 1, true)) last = value;
    }

    std::string prefix_;
    int port_;
    std::unique_ptr<MqttClient> client_;
    std::map<std::string, std::string> last_;
    uint64_t connections_ = 0;
};

int Usage() {
    std::fprintf(stderr, "usage: tessora-cli simulate unity|s7|kx|corvane|simora|modbus "
                         "[--port N] [--listen ADDR]\n"
                         "       tessora-cli simulate mqtt [--url mqtt://HOST:PORT[/PREFIX]]\n");
    return 2;
}

}  // namespace

int CommandSimulate(const std::vector<std::string>& args) {
    if (args.empty()) return Usage();
    const std::string family = args[0];
    std::string listen = "127.0.0.1";
    std::string url;
    long port = -1;
    for (size_t i = 1; i < args.size(); ++i) {
        if (i + 1 >= args.size()) return Usage();
        const std::string& value = args[++i];
        if (args[i - 1] == "--port") {
            char* end = nullptr;
            port = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || port < 0 || port > 65535) return Usage();
        } else if (args[i - 1] == "--listen" && !value.empty()) {
            listen = value;
        } else if (args[i - 1] == "--url" && family == "mqtt") {
            url = value;
        } else {
            return Usage();
        }
    }
    const bool network = family == "unity" || family == "s7" || family == "modbus";
    if (!network && (port >= 0 || listen != "127.0.0.1")) {
        if (family == "mqtt") {
            std::fprintf(stderr, "tessora-cli: the mqtt simulator takes --url, not --port or --listen\n");
            return 2;
        }
        std::fprintf(stderr, "tessora-cli: the %s simulator takes no --port or --listen\n",
                     family.c_str());
        return 2;
    }
    std::unique_ptr<Simulation> simulation;
    if (family == "unity") {
        simulation = std::make_unique<UnitySimulation>(
            listen, static_cast<uint16_t>(port < 0 ? kUnityPort : port));
    } else if (family == "s7") {
        simulation =
            std::make_unique<S7Simulation>(listen, static_cast<uint16_t>(port < 0 ? kS7Port : port));
    } else if (family == "modbus") {
        simulation = std::make_unique<ModbusSimulation>(
            listen, static_cast<uint16_t>(port < 0 ? kModbusPort : port));
    } else if (family == "mqtt") {
        std::optional<mqtt::BrokerUrl> broker =
            mqtt::ParseBrokerUrl(url.empty() ? "mqtt://127.0.0.1:1883" : url);
        if (!broker) {
            std::fprintf(stderr, "tessora-cli: --url %s is not a broker address "
                                 "(mqtt://HOST:PORT or mqtts://HOST:PORT, then /PREFIX)\n", url.c_str());
            return 2;
        }
        if (broker->prefix.empty()) broker->prefix = "tessora/demo";
        simulation = std::make_unique<MqttSimulation>(std::move(*broker));
    } else if (family == "kx") {
        simulation = std::make_unique<KxSimulation>();
    } else if (family == "corvane") {
        simulation = std::make_unique<CorvaneSimulation>();
    } else if (family == "simora") {
        simulation = std::make_unique<SimoraSimulation>();
    } else {
        return Usage();
    }

    // Ctrl-C and SIGTERM are taken by the loop below; the simulator's threads inherit the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    const auto start = std::chrono::steady_clock::now();
    simulation->Tick(0);  // the variables hold values before the first request
    if (!simulation->Start()) return 1;
    std::printf("%sCtrl-C or SIGTERM stops it.\n", simulation->Describe().c_str());
    std::fflush(stdout);
    for (;;) {
        const timespec tick{0, kTickMs * 1000000};
        const int sig = sigtimedwait(&stopSignals, nullptr, &tick);
        if (sig == SIGINT || sig == SIGTERM) break;
        simulation->Tick(std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count());
    }
    simulation->Stop();
    std::printf("Simulator stopped\n");
    std::fflush(stdout);
    return 0;
}

}  // namespace tsr::cli
