// A panel server that shares what it reads: every value read from a device family is published,
// retained, to a broker under PREFIX/FAMILY/ITEM ("site1/uni/%MW10") when it changes, so that
// other panel servers show it through MQTT links without asking the controller again.
//
// The publisher only publishes: it subscribes to nothing, so nothing arriving through the broker
// ever reaches a controller. Values read through MQTT links are not published again.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/log_sink.h"
#include "gateways/families.h"
#include "gateways/transport/mqtt_client.h"

namespace tsr {

class SitePublisher {
  public:
    // The distinct topics remembered with their last value; past this the memory starts over
    // (every value is published again at its next read).
    static constexpr size_t kMaxTopics = 100000;

    // `url` is "mqtt://host:port/PREFIX" or "mqtts://host:port/PREFIX"; nullptr, with `error`
    // saying why, when it is not.
    static std::unique_ptr<SitePublisher> Make(std::string_view url, LogSink& log,
                                               std::string* error);
    ~SitePublisher();

    // Connects, waiting at most `wait` for the outcome, and logs it; the client keeps
    // reconnecting by itself after that.
    void Start(std::chrono::milliseconds wait = std::chrono::milliseconds(2000));

    // The same routes, with each device family's reads reported to this publisher. The wrappers
    // live as long as the publisher.
    GatewayRoutes Wrap(const GatewayRoutes& routes);

    // A value read: published when it differs from the one last published for its topic.
    void Observe(std::string_view family, std::string_view item, std::string_view text);

    // Messages published so far, and values seen unchanged.
    uint64_t published() const { return published_.load(); }
    uint64_t unchanged() const { return unchanged_.load(); }
    bool Connected() const { return client_->Connected(); }

  private:
    class Observed;
    SitePublisher(mqtt::BrokerUrl url, LogSink& log);
    DeviceFamily* WrapOne(DeviceFamily* family, const char* name);

    LogSink& log_;
    std::string prefix_;
    std::unique_ptr<MqttClient> client_;
    std::mutex mutex_;  // the fields below
    std::unordered_map<std::string, std::string> last_;  // by topic
    uint64_t connections_ = 0;  // the client's connections when `last_` was started
    std::vector<std::unique_ptr<Observed>> wrappers_;
    std::atomic<uint64_t> published_{0}, unchanged_{0};
};

}  // namespace tsr
