// One connection to an MQTT broker, through Debian's libmosquitto: the library handle and the
// thread that drives it belong to this object, and nothing else touches them.
//
// The thread connects, reconnects after a loss with a back-off (0.5 s, doubling up to 10 s,
// back to 0.5 s after a connection), subscribes again to every topic asked for after each
// connection, and hands every message to the owner's callback. The caller's threads never wait
// on the broker: Subscribe and Publish only queue a packet for the thread, and WaitOutcome
// waits at most the time it is given.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>

#include "gateways/mqtt/items.h"

struct mosquitto;
struct mosquitto_message;

namespace tsr {

struct MqttClientSettings {
    mqtt::BrokerUrl broker;
    std::string clientId;  // must not be empty
    std::string username;  // none when empty
    std::string password;
    // The broker drops a client that says nothing for 1.5 times this; an attempt that has not
    // connected after `connectTimeout` is given up and tried again after the back-off.
    std::chrono::seconds keepAlive{15};
    std::chrono::milliseconds connectTimeout{5000};
    std::chrono::milliseconds firstBackoff{500};
    std::chrono::milliseconds longestBackoff{10000};
    // QoS 1 messages sent and not yet acknowledged, at most; a publish beyond is dropped.
    int maxOutstanding = 1000;
};

class MqttClient {
  public:
    // Called on the client's thread for every message of a subscribed topic whose payload is at
    // most mqtt::kMaxPayload bytes.
    using OnMessage = std::function<void(const std::string& topic, std::string_view payload)>;

    MqttClient(MqttClientSettings settings, OnMessage onMessage);
    ~MqttClient();
    MqttClient(const MqttClient&) = delete;
    MqttClient& operator=(const MqttClient&) = delete;

    // Starts the thread, which connects at once. False when the library refused the settings
    // (Failure() says why); the client then stays disconnected.
    bool Start();
    // Disconnects and ends the thread.
    void Stop();

    // Waits until the attempt in progress has an outcome (connected or failed), at most `wait`.
    // True when connected.
    bool WaitOutcome(std::chrono::milliseconds wait);
    bool Connected() const { return connected_.load(); }
    // Where and why the last attempt failed ("127.0.0.1:1883: connection refused"); empty
    // while connected or before the first outcome.
    std::string Failure() const;
    // "host:port", for log lines.
    std::string Endpoint() const { return mqtt::EndpointText(settings_.broker); }

    // Subscribes (QoS 1) now when connected, and after every connection. A topic is subscribed
    // once however often it is asked for.
    void Subscribe(const std::string& topic);
    // Publishes when connected; false (nothing sent or queued) when not, or when too many
    // messages wait for their acknowledgement.
    bool Publish(const std::string& topic, std::string_view payload, int qos, bool retain);

    // Connections made so far, and messages dropped for their size.
    uint64_t connections() const { return connections_.load(); }
    uint64_t oversized() const { return oversized_.load(); }

  private:
    static void HandleConnect(mosquitto*, void* self, int rc);
    static void HandleMessage(mosquitto*, void* self, const mosquitto_message* message);
    static void HandlePublish(mosquitto*, void* self, int mid);
    void Run();
    // Records a failed attempt and wakes WaitOutcome.
    void Fail(std::string reason);
    // Waits for the back-off or Stop; false when stopping.
    bool Pause(std::chrono::milliseconds wait);

    const MqttClientSettings settings_;
    const OnMessage onMessage_;
    mosquitto* handle_ = nullptr;
    std::thread thread_;

    mutable std::mutex mutex_;  // the fields below
    std::condition_variable changed_;
    std::set<std::string> topics_;
    std::string failure_;
    bool outcome_ = false;  // the attempt in progress has ended, one way or the other
    bool stopping_ = false;

    bool attemptFailed_ = false;  // the client's thread only: this attempt's failure is recorded
    std::atomic<bool> connected_{false};
    std::atomic<int> outstanding_{0};
    std::atomic<uint64_t> connections_{0};
    std::atomic<uint64_t> oversized_{0};
};

}  // namespace tsr
