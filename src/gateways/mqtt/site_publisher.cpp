#include "gateways/mqtt/site_publisher.h"

#include <random>

#include "base/strings.h"
#include "gateways/mqtt/items.h"

namespace tsr {

// A device family whose reads are reported to the publisher; everything else goes through.
class SitePublisher::Observed : public DeviceFamily {
  public:
    Observed(DeviceFamily& inner, const char* name, SitePublisher& publisher)
        : inner_(inner), name_(name), publisher_(publisher) {}
    DeviceFamily* inner() const { return &inner_; }

    std::string ReadItem(std::string_view item) override {
        std::string text = inner_.ReadItem(item);
        publisher_.Observe(name_, item, text);
        return text;
    }
    std::vector<std::string> ReadItems(std::span<const std::string_view> items) override {
        std::vector<std::string> texts = inner_.ReadItems(items);
        for (size_t i = 0; i < items.size() && i < texts.size(); ++i)
            publisher_.Observe(name_, items[i], texts[i]);
        return texts;
    }
    void WriteItem(std::string_view item) override { inner_.WriteItem(item); }
    std::string Channel(std::string_view item) const override { return inner_.Channel(item); }

  private:
    DeviceFamily& inner_;
    const char* name_;
    SitePublisher& publisher_;
};

std::unique_ptr<SitePublisher> SitePublisher::Make(std::string_view url, LogSink& log,
                                                   std::string* error) {
    std::optional<mqtt::BrokerUrl> broker = mqtt::ParseBrokerUrl(url);
    if (!broker || broker->prefix.empty()) {
        if (error)
            *error = "\"" + std::string(url) +
                     "\" is not a broker address with a topic prefix (mqtt://host:port/PREFIX)";
        return nullptr;
    }
    return std::unique_ptr<SitePublisher>(new SitePublisher(std::move(*broker), log));
}

SitePublisher::SitePublisher(mqtt::BrokerUrl url, LogSink& log) : log_(log), prefix_(url.prefix) {
    MqttClientSettings settings;
    settings.broker = std::move(url);
    std::random_device device;
    settings.clientId =
        mqtt::GeneratedClientId((static_cast<uint64_t>(device()) << 32) ^ device()) + "-publish";
    client_ = std::make_unique<MqttClient>(settings, nullptr);
}

SitePublisher::~SitePublisher() {
    client_->Stop();
}

void SitePublisher::Start(std::chrono::milliseconds wait) {
    const bool connected = client_->Start() && client_->WaitOutcome(wait);
    std::string line = LoadString(connected ? kMsgMqttConnected : kMsgMqttCannotConnect);
    if (size_t at = line.find("%s"); at != std::string::npos) line.replace(at, 2, client_->Endpoint());
    if (!connected && !client_->Failure().empty()) line += " (" + client_->Failure() + ")";
    log_.LogText(line, connected ? kLogGreen : kLogRed);
}

DeviceFamily* SitePublisher::WrapOne(DeviceFamily* family, const char* name) {
    if (!family) return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& w : wrappers_)
        if (w->inner() == family) return w.get();
    wrappers_.push_back(std::make_unique<Observed>(*family, name, *this));
    return wrappers_.back().get();
}

GatewayRoutes SitePublisher::Wrap(const GatewayRoutes& routes) {
    GatewayRoutes wrapped = routes;
    wrapped.corvane = WrapOne(routes.corvane, "cvn");
    wrapped.simora = WrapOne(routes.simora, "sm");
    wrapped.unity = WrapOne(routes.unity, "uni");
    wrapped.kx = WrapOne(routes.kx, "kx");
    wrapped.s7 = WrapOne(routes.s7, "s7");
    wrapped.modbus = WrapOne(routes.modbus, "mb");
    return wrapped;  // the MQTT route as it is: its values came from a broker
}

void SitePublisher::Observe(std::string_view family, std::string_view item, std::string_view text) {
    std::string topic = mqtt::PublishedTopic(prefix_, family, item);
    std::lock_guard<std::mutex> lock(mutex_);
    if (!client_->Connected()) return;
    if (const uint64_t connections = client_->connections(); connections != connections_) {
        // What the broker holds may be older than what was published before the connection
        // dropped: publish everything again on each new connection.
        last_.clear();
        connections_ = connections;
    }
    auto it = last_.find(topic);
    if (it != last_.end() && it->second == text) {
        ++unchanged_;
        return;
    }
    if (!client_->Publish(topic, text, 1, true)) return;
    ++published_;
    if (it != last_.end()) {
        it->second.assign(text);
        return;
    }
    if (last_.size() >= kMaxTopics) last_.clear();
    last_.emplace(std::move(topic), std::string(text));
}

}  // namespace tsr
