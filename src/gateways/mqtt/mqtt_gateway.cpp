#include "gateways/mqtt/mqtt_gateway.h"

#include <condition_variable>
#include <optional>
#include <random>

#include "base/strings.h"
#include "gateways/mqtt/items.h"

namespace tsr {
namespace {

const char kReadError[] = "[err]";

std::string WithArguments(int messageId, const std::string& first, const std::string& second) {
    std::string text = LoadString(messageId);
    if (size_t at = text.find("%s"); at != std::string::npos) {
        text.replace(at, 2, first);
        if (size_t next = text.find("%s", at + first.size()); next != std::string::npos)
            text.replace(next, 2, second);
    }
    return text;
}

// The gateway's own client id, or one made for this run of the program.
std::string ClientIdOf(const GatewaySettings& settings) {
    if (!settings.clientId.empty()) return settings.clientId;
    static const uint64_t seed = [] {
        std::random_device device;
        return (static_cast<uint64_t>(device()) << 32) ^ device();
    }();
    return mqtt::GeneratedClientId(seed ^ std::hash<std::string>()(settings.id));
}

}  // namespace

struct MqttFamily::Gateway {
    std::string key;       // the broker and identity it was made with
    std::string endpoint;  // "host:port"
    bool retain = false;
    std::mutex mutex;  // values
    std::condition_variable arrived;
    // The topics subscribed to, each with its last payload (none before the first message) and
    // when it was first asked for.
    struct Value {
        std::optional<std::string> payload;
        std::chrono::steady_clock::time_point since;
    };
    std::map<std::string, Value, std::less<>> values;
    std::unique_ptr<MqttClient> client;  // last: it stops before the values go

    ~Gateway() {
        if (client) client->Stop();
    }
    void Store(const std::string& topic, std::string_view payload) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            auto it = values.find(topic);
            if (it == values.end()) return;
            it->second.payload.emplace(payload);
        }
        arrived.notify_all();
    }
    // Subscribes to `topic` unless it is already, or the gateway has `limit` topics. False when
    // the limit refused it.
    bool Want(const std::string& topic, size_t limit) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (values.count(topic)) return true;
            if (values.size() >= limit) return false;
            values.emplace(topic, Value{std::nullopt, std::chrono::steady_clock::now()});
        }
        client->Subscribe(topic);
        return true;
    }
};

MqttFamily::MqttFamily(LogSink& log, MqttFamilyOptions options)
    : log_(log), options_(std::move(options)) {}

MqttFamily::~MqttFamily() {
    Disconnect();
}

std::shared_ptr<MqttFamily::Gateway> MqttFamily::Find(std::string_view id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (id.empty()) {
        if (order_.empty()) return nullptr;
        id = order_.front();
    }
    auto it = gateways_.find(std::string(id));
    return it == gateways_.end() ? nullptr : it->second;
}

int MqttFamily::Connect(const GatewaySettings& settings) {
    const std::optional<mqtt::BrokerUrl> broker = mqtt::ParseBrokerUrl(settings.url);
    if (!broker) {
        SetConnectFailure(settings.url + ": not a broker address (mqtt://host:port or mqtts://host:port)");
        Disconnect(settings);
        return -3;
    }
    const std::string clientId = ClientIdOf(settings);
    const std::string key = settings.url + '\n' + clientId + '\n' + settings.username + '\n' +
                            settings.password;
    std::shared_ptr<Gateway> gateway = Find(settings.id);
    bool fresh = false;
    if (!gateway || gateway->key != key) {
        Disconnect(settings);
        gateway = std::make_shared<Gateway>();
        gateway->key = key;
        gateway->endpoint = mqtt::EndpointText(*broker);
        MqttClientSettings client = options_.client;
        client.broker = *broker;
        client.clientId = clientId;
        client.username = settings.username;
        client.password = settings.password;
        Gateway* raw = gateway.get();
        gateway->client = std::make_unique<MqttClient>(
            client, [raw](const std::string& topic, std::string_view payload) { raw->Store(topic, payload); });
        {
            std::lock_guard<std::mutex> lock(mutex_);
            gateways_[settings.id] = gateway;
            order_.push_back(settings.id);
        }
        fresh = true;
    }
    gateway->retain = settings.retain;
    if (fresh && !gateway->client->Start()) {
        SetConnectFailure(gateway->client->Failure());
        return -2;
    }
    const bool connected = fresh ? gateway->client->WaitOutcome(options_.firstConnectWait)
                                 : gateway->client->Connected();
    // Subscribed once connected, so that a page's first read waits for the retained values.
    for (const std::string& topic : settings.topics) {
        if (mqtt::IsPlainTopic(topic)) gateway->Want(topic, options_.maxTopics);
    }
    SetConnectFailure(connected ? std::string() : gateway->client->Failure());
    return connected ? 0 : -2;
}

bool MqttFamily::Disconnect() {
    std::map<std::string, std::shared_ptr<Gateway>> gone;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        gone.swap(gateways_);
        order_.clear();
    }
    bool wasConnected = false;
    for (auto& [id, gateway] : gone) {
        wasConnected = gateway->client->Connected() || wasConnected;
        gateway->client->Stop();
    }
    return wasConnected;
}

bool MqttFamily::Disconnect(const GatewaySettings& settings) {
    std::shared_ptr<Gateway> gateway;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = gateways_.find(settings.id);
        if (it == gateways_.end()) return false;
        gateway = std::move(it->second);
        gateways_.erase(it);
        std::erase(order_, settings.id);
    }
    const bool wasConnected = gateway->client->Connected();
    gateway->client->Stop();
    return wasConnected;
}

bool MqttFamily::IsConnected() const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [id, gateway] : gateways_)
        if (gateway->client->Connected()) return true;
    return false;
}

std::string MqttFamily::EndpointOf(const std::string& id) const {
    if (std::shared_ptr<Gateway> gateway = Find(id)) return gateway->endpoint;
    return {};
}

std::string MqttFamily::Channel(std::string_view item) const {
    const size_t slash = item.find('/');
    return slash == std::string_view::npos ? std::string() : std::string(item.substr(0, slash));
}

std::string MqttFamily::ReadItem(std::string_view item) {
    const std::optional<mqtt::ReadItem> read = mqtt::ParseReadItem(mqtt::UndoBrowserEscapes(item));
    if (!read) return kReadError;
    std::shared_ptr<Gateway> gateway = Find(read->gateway);
    if (!gateway || !gateway->client->Connected()) return kReadError;
    if (!gateway->Want(read->topic, options_.maxTopics)) return kReadError;
    std::unique_lock<std::mutex> lock(gateway->mutex);
    auto it = gateway->values.find(read->topic);
    if (it == gateway->values.end()) return kReadError;
    if (!it->second.payload) {
        // Just subscribed: the broker sends a retained value within a round trip.
        const auto until = it->second.since + options_.firstReadWait;
        gateway->arrived.wait_until(lock, until, [&] {
            auto at = gateway->values.find(read->topic);
            return at == gateway->values.end() || at->second.payload.has_value();
        });
        it = gateway->values.find(read->topic);
        if (it == gateway->values.end() || !it->second.payload) return kReadError;
    }
    return mqtt::PayloadText(*it->second.payload, read->field).value_or(kReadError);
}

void MqttFamily::WriteItem(std::string_view item) {
    const std::optional<mqtt::WriteItem> write = mqtt::ParseWriteItem(mqtt::UndoBrowserEscapes(item));
    if (!write) return;
    std::shared_ptr<Gateway> gateway = Find(write->gateway);
    if (!gateway) return;
    if (!gateway->client->Publish(write->topic, write->value, 1, gateway->retain))
        log_.LogText(WithArguments(kMsgMqttWriteDropped, write->topic, gateway->endpoint), kLogRed);
}

std::unique_ptr<MqttFamily> MakeMqttFamily(LogSink& log) {
    return std::make_unique<MqttFamily>(log);
}

}  // namespace tsr
