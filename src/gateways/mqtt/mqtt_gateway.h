// The MQTT family: topics of any broker as device variables, one broker connection per
// mqttgateway object (its `id` names it in every item, as the Modbus TCP gateways do).
//
// Reads never ask the broker: each gateway subscribes to the topics its links read when it
// connects, and to any other topic the first time a page asks for it, and keeps the last payload
// of each. A read answers that payload (or one field of its JSON), and "[err]" while nothing has
// arrived, while the broker is not connected, for a field the payload lacks or a payload that is
// not JSON. The first read of a topic not subscribed yet waits a moment (at most
// `firstReadWait`) for the broker's retained value. A write publishes with QoS 1.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/log_sink.h"
#include "gateways/families.h"
#include "gateways/transport/mqtt_client.h"

namespace tsr {

struct MqttFamilyOptions {
    std::chrono::milliseconds firstConnectWait{2000};  // Connect of a new gateway, at most
    std::chrono::milliseconds firstReadWait{300};
    size_t maxTopics = 4096;  // per gateway; reads of further topics answer "[err]"
    MqttClientSettings client;  // time-outs and back-off; the broker and identity are the gateway's
};

class MqttFamily : public ConnectedFamily {
  public:
    explicit MqttFamily(LogSink& log, MqttFamilyOptions options = {});
    ~MqttFamily() override;

    // Registers the gateway `settings.id` with its broker and subscribes to `settings.topics`.
    // A gateway seen before with the same broker and identity keeps its connection (the client
    // reconnects by itself); one whose settings changed gets a new connection. A new connection
    // waits at most `firstConnectWait` for its outcome. 0 when connected; -2 not connected (yet);
    // -3 the url is not a broker address.
    int Connect(const GatewaySettings& settings) override;
    // Ends every connection and forgets every gateway; true when one was connected.
    bool Disconnect() override;
    // Ends the connection of gateway `settings.id`; true when it was connected.
    bool Disconnect(const GatewaySettings& settings);
    bool IsConnected() const override;

    std::string ReadItem(std::string_view item) override;
    // Publishes "topic=value" with QoS 1 (retained when the gateway says so). A write while the
    // broker is not connected is dropped and logged.
    void WriteItem(std::string_view item) override;
    // The gateway id an item names: each broker's requests have a worker of their own.
    std::string Channel(std::string_view item) const override;

    // The "host:port" of gateway `id`'s broker (its url as given when that is no broker address).
    std::string EndpointOf(const std::string& id) const;

  private:
    struct Gateway;
    std::shared_ptr<Gateway> Find(std::string_view id) const;

    LogSink& log_;
    MqttFamilyOptions options_;
    mutable std::mutex mutex_;  // the map and the order; never held while waiting
    std::map<std::string, std::shared_ptr<Gateway>> gateways_;
    std::vector<std::string> order_;  // gateway ids, first registered first
};

std::unique_ptr<MqttFamily> MakeMqttFamily(LogSink& log);

}  // namespace tsr
