#include "gateways/lifecycle.h"

#include <cstdlib>
#include <string_view>

#include "base/strings.h"
#include "gateways/corvane/corvane_gateway.h"
#include "gateways/kx/kx_gateway.h"
#include "gateways/s7/s7_gateway.h"
#include "gateways/simora/simora_gateway.h"
#include "gateways/trust.h"
#include "gateways/unity/unity_gateway.h"
#include "model/catalogue.h"
#include "platform/fs.h"

namespace tsr {
namespace {

// Messages of each family: connect failure, connected, disconnected.
struct Messages {
    int failed, connected, disconnected;
};

Messages MessagesOf(int type) {
    switch (type) {
        case kTypeCorvaneGateway: return {108, 109, 112};
        case kTypeSqlGateway: return {110, 111, 113};
        case kTypePrintGateway: return {114, 115, 116};
        case kTypeDllGateway: return {117, 118, 119};
        case kTypeSimoraGateway: return {120, 121, 122};
        case kTypeUnityGateway: return {123, 124, 125};
        case kTypeS7Gateway: return {126, 127, 128};
        case kTypeKxGateway: return {131, 132, 133};
        case kTypeModbusGateway:
            return {kMsgModbusCannotConnect, kMsgModbusConnected, kMsgModbusDisconnected};
        case kTypeMqttGateway:
            return {kMsgMqttCannotConnect, kMsgMqttConnected, kMsgMqttDisconnected};
        default: return {0, 0, 0};
    }
}

// The printer as the request protocol sees it.
class PrinterRoute : public PrinterService {
public:
    explicit PrinterRoute(PrinterModule& printer) : printer_(printer) {}
    bool IsOpen() const override { return printer_.IsOpen(); }
    void Print(std::string_view text) override { printer_.Print(text); }

private:
    PrinterModule& printer_;
};

}  // namespace

Gateways::Gateways(LogSink& log, const WorkingDirectory& wd)
    : log_(log),
      wd_(wd),
      printer_(log),
      printerService_(std::make_unique<PrinterRoute>(printer_)),
      corvane_(MakeCorvaneFamily(log)),
      simora_(MakeSimoraFamily(log)),
      unity_(MakeUnityFamily(log)),
      s7_(MakeS7Family(log)),
      kx_(MakeKxFamily(log)),
      modbus_(MakeModbusFamily(log)),
      mqtt_(MakeMqttFamily(log)) {}

Gateways::~Gateways() = default;

GatewayRoutes Gateways::Routes() {
    return {corvane_.get(), simora_.get(),         unity_.get(), kx_.get(),    s7_.get(),
            &sql_,          printerService_.get(), &dll_,        modbus_.get(), mqtt_.get()};
}

void Gateways::Report(const std::string& source, int messageId, unsigned colour) {
    log_.LogState(source, LoadString(messageId), colour);
}

namespace {

// The settings of a modbusgateway object: its id, ip and unit (a unit that is no number in 0 to
// 255 is refused by the family's connect).
GatewaySettings ModbusSettingsOf(pugi::xml_node gateway) {
    GatewaySettings settings;
    settings.ip = GetPropertyOr(gateway, "ip", "127.0.0.1");
    settings.id = GetPropertyOr(gateway, "id", "");
    const std::string unit = GetPropertyOr(gateway, "unit", "1");
    char* end = nullptr;
    const long value = std::strtol(unit.c_str(), &end, 10);
    settings.unit =
        unit.empty() || *end != '\0' || value < 0 || value > 255 ? -1 : static_cast<int>(value);
    return settings;
}

// The settings of an mqttgateway object, with the topics of the links that name it.
GatewaySettings MqttSettingsOf(pugi::xml_node gateway) {
    GatewaySettings settings;
    settings.id = GetPropertyOr(gateway, "id", "");
    settings.url = GetPropertyOr(gateway, "url", "mqtt://127.0.0.1:1883");
    settings.clientId = GetPropertyOr(gateway, "clientid", "");
    settings.username = GetPropertyOr(gateway, "username", "");
    settings.password = GetPropertyOr(gateway, "password", "");
    settings.retain = GetPropertyOr(gateway, "retain", "0") == "1";
    for (const pugi::xpath_node& found : gateway.root().select_nodes("//mqttlink")) {
        const pugi::xml_node link = found.node();
        if (GetPropertyOr(link, "gatewayid", "") != settings.id) continue;
        const std::string variable = GetPropertyOr(link, "variable", "");
        settings.topics.push_back(variable.substr(0, variable.find('|')));
    }
    return settings;
}

// A line of a family with several devices (Modbus TCP, MQTT): the text of `messageId` with the
// device's address in place of its %s.
std::string DeviceLine(int messageId, const std::string& ip) {
    std::string text = LoadString(messageId);
    const size_t at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, ip);
    return text;
}

// A failure line followed by where and why, in parentheses, when the family told it.
std::string WithReason(std::string line, const std::string& reason) {
    if (!reason.empty()) line += " (" + reason + ")";
    return line;
}

}  // namespace

std::string Gateways::ResourcePath(const std::string& name) const {
    return GatewayResourcePath(wd_.path(), name);
}

// The gateway types, each one family.
constexpr int kFamilies[] = {kTypeCorvaneGateway, kTypeSqlGateway, kTypePrintGateway, kTypeDllGateway, kTypeSimoraGateway, kTypeUnityGateway, kTypeS7Gateway, kTypeKxGateway, kTypeModbusGateway, kTypeMqttGateway};

std::string Gateways::FamilyKey(const ProjectDocument& doc, int type) const {
    std::string key;
    doc.ForEachObject([&](pugi::xml_node n, int) {
        if (ObjectTypeOf(n) != type) return true;
        key += '<';
        for (pugi::xml_attribute a : n.attributes()) {
            key += a.name();
            key += '=';
            key += std::to_string(std::string_view(a.value()).size()) + ':' + a.value();
        }
        return true;
    });
    if (key.empty()) return key;
    return (trusted_ ? "trusted" : "untrusted") + key;
}

void Gateways::StartGateways(const ProjectDocument& doc) {
    doc.ForEachObject([&](pugi::xml_node n, int) {
        Visit(Walk::Start, n, ObjectTypeOf(n));
        return true;
    });
    for (int type : kFamilies) {
        std::string key = FamilyKey(doc, type);
        if (!key.empty()) opened_[type] = std::move(key);
    }
}

void Gateways::SyncGateways(const ProjectDocument& doc) {
    for (int type : kFamilies) {
        std::string key = FamilyKey(doc, type);
        auto it = opened_.find(type);
        if (it != opened_.end() && it->second == key) continue;  // unchanged: kept as it is
        if (it != opened_.end()) {
            StopFamily(type);
            opened_.erase(it);
        }
        if (key.empty()) continue;
        doc.ForEachObject([&](pugi::xml_node n, int) {
            if (ObjectTypeOf(n) == type) Visit(Walk::Start, n, type);
            return true;
        });
        opened_[type] = std::move(key);
    }
}

void Gateways::StopFamily(int type) {
    if (type == kTypeMqttGateway) {
        for (const GatewaySettings& settings : openedMqtt_) {
            const std::string endpoint = mqtt_->EndpointOf(settings.id);
            if (mqtt_->Disconnect(settings))
                log_.LogState(std::to_string(kTypeMqttGateway) + " " + settings.id,
                              DeviceLine(kMsgMqttDisconnected, endpoint), kLogBlue);
        }
        openedMqtt_.clear();
        return;
    }
    if (type != kTypeModbusGateway) {
        Visit(Walk::Stop, pugi::xml_node(), type);
        return;
    }
    for (const GatewaySettings& settings : openedModbus_) {
        if (modbus_->Disconnect(settings))
            log_.LogState(std::to_string(kTypeModbusGateway) + " " + settings.ip,
                          DeviceLine(kMsgModbusDisconnected, settings.ip), kLogBlue);
    }
    openedModbus_.clear();
}

void Gateways::RetryGateways(const ProjectDocument& doc) {
    doc.ForEachObject([&](pugi::xml_node n, int) {
        Visit(Walk::Retry, n, ObjectTypeOf(n));
        return true;
    });
}

void Gateways::StopGateways(const ProjectDocument& doc) {
    // Families opened for gateways that the project no longer has are closed first, and each
    // Modbus TCP device as it was opened (its gateway may name another one now).
    for (const auto& [type, key] : opened_) {
        if (type != kTypeModbusGateway && type != kTypeMqttGateway && FamilyKey(doc, type).empty())
            StopFamily(type);
    }
    StopFamily(kTypeModbusGateway);
    StopFamily(kTypeMqttGateway);
    opened_.clear();
    doc.ForEachObject([&](pugi::xml_node n, int) {
        Visit(Walk::Stop, n, ObjectTypeOf(n));
        return true;
    });
}

void Gateways::Visit(Walk walk, pugi::xml_node gateway, int type) {
    const Messages m = MessagesOf(type);
    if (m.failed == 0) return;  // not a gateway
    if (type == kTypeModbusGateway) {
        VisitModbus(walk, gateway);
        return;
    }
    if (type == kTypeMqttGateway) {
        VisitMqtt(walk, gateway);
        return;
    }
    // Every line of a family is a line of its state: a sink folds a retry's repeat into the
    // line before, while a disconnect or a failure is a change.
    const std::string source = std::to_string(type);
    if (walk == Walk::Stop) {
        bool wasOpen = false;
        switch (type) {
            case kTypeSqlGateway: wasOpen = sql_.Close(); break;
            case kTypePrintGateway: wasOpen = printer_.IsOpen(); printer_.Close(); break;
            case kTypeDllGateway: dll_.Unload(); wasOpen = true; break;  // reported in any case
            case kTypeCorvaneGateway: wasOpen = corvane_->Disconnect(); break;
            case kTypeSimoraGateway: wasOpen = simora_->Disconnect(); break;
            case kTypeUnityGateway: wasOpen = unity_->Disconnect(); break;
            case kTypeS7Gateway: wasOpen = s7_->Disconnect(); break;
            case kTypeKxGateway: wasOpen = kx_->Disconnect(); break;
        }
        // A closed connection is a change of state, not a success: the informational colour.
        if (wasOpen) Report(source, m.disconnected, kLogBlue);
        return;
    }
    const bool retried = type == kTypeCorvaneGateway || type == kTypeSimoraGateway || type == kTypeUnityGateway || type == kTypeS7Gateway ||
                         type == kTypeKxGateway;
    if (walk == Walk::Retry && !retried) return;
    if (!trusted_) {
        if (std::optional<OutsideReach> reach = ReachOf(gateway, type, wd_.path())) {
            std::string text = LoadString(kTextTrustNotStarted);
            text.replace(text.find("%s"), 2, DescribeReach(*reach));
            log_.LogState(source, text, kLogRed);
            return;
        }
    }
    bool ok = false;
    ConnectedFamily* tells = nullptr;  // the family that says where and why it failed
    switch (type) {
        case kTypeSqlGateway: ok = sql_.Open(ResourcePath(GetPropertyOr(gateway, "sqlfilename", ""))); break;
        case kTypePrintGateway: ok = printer_.Open(GatewayPrinterDestination(wd_.path(), GetPropertyOr(gateway, "printername", ""))); break;
        case kTypeDllGateway: ok = dll_.Load(ResourcePath(GetPropertyOr(gateway, "dllfilename", ""))); break;
        case kTypeCorvaneGateway: ok = corvane_->Connect(GatewaySettings{}) >= 0; break;
        case kTypeSimoraGateway: ok = simora_->Connect(GatewaySettings{}) >= 0; break;
        case kTypeUnityGateway: {
            GatewaySettings settings;
            settings.ip = GetPropertyOr(gateway, "ip", "127.0.0.1");
            ok = unity_->Connect(settings) >= 0;
            tells = unity_.get();
            break;
        }
        case kTypeS7Gateway: {
            GatewaySettings settings;
            settings.ip = GetPropertyOr(gateway, "ip", "127.0.0.1");
            settings.ucpos = std::atoi(GetPropertyOr(gateway, "ucpos", "0").c_str());
            ok = s7_->Connect(settings) >= 0;
            tells = s7_.get();
            break;
        }
        case kTypeKxGateway: ok = kx_->Connect(GatewaySettings{}) >= 0; break;
    }
    if (ok || !tells) {
        Report(source, ok ? m.connected : m.failed, ok ? kLogGreen : kLogRed);
        return;
    }
    log_.LogState(source, WithReason(LoadString(m.failed), tells->ConnectFailure()), kLogRed);
}

// A Modbus TCP gateway: the family keeps one connection per ip, and each line names the ip. It
// reaches nothing on this computer, so an untrusted project starts it as the other devices.
void Gateways::VisitModbus(Walk walk, pugi::xml_node gateway) {
    const GatewaySettings settings = ModbusSettingsOf(gateway);
    const std::string source = std::to_string(kTypeModbusGateway) + " " + settings.ip;
    if (walk == Walk::Stop) {
        if (modbus_->Disconnect(settings))
            log_.LogState(source, DeviceLine(kMsgModbusDisconnected, settings.ip), kLogBlue);
        return;
    }
    const bool ok = modbus_->Connect(settings) >= 0;
    if (walk == Walk::Start) openedModbus_.push_back(settings);
    if (ok) {
        log_.LogState(source, DeviceLine(kMsgModbusConnected, settings.ip), kLogGreen);
        return;
    }
    log_.LogState(source,
                  WithReason(DeviceLine(kMsgModbusCannotConnect, settings.ip), modbus_->ConnectFailure()),
                  kLogRed);
}

// An MQTT gateway: one broker connection per gateway id, each line naming the broker. Its
// client reconnects by itself; the retry tick logs the state it finds. It reaches nothing on
// this computer, so an untrusted project starts it as the other devices.
void Gateways::VisitMqtt(Walk walk, pugi::xml_node gateway) {
    const GatewaySettings settings = MqttSettingsOf(gateway);
    const std::string source = std::to_string(kTypeMqttGateway) + " " + settings.id;
    if (walk == Walk::Stop) {
        const std::string endpoint = mqtt_->EndpointOf(settings.id);
        if (mqtt_->Disconnect(settings))
            log_.LogState(source, DeviceLine(kMsgMqttDisconnected, endpoint), kLogBlue);
        return;
    }
    const bool ok = mqtt_->Connect(settings) >= 0;
    if (walk == Walk::Start) openedMqtt_.push_back(settings);
    std::string endpoint = mqtt_->EndpointOf(settings.id);
    if (endpoint.empty()) endpoint = settings.url;
    if (ok) {
        log_.LogState(source, DeviceLine(kMsgMqttConnected, endpoint), kLogGreen);
        return;
    }
    log_.LogState(source,
                  WithReason(DeviceLine(kMsgMqttCannotConnect, endpoint), mqtt_->ConnectFailure()),
                  kLogRed);
}

}  // namespace tsr
