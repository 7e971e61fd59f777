#include "gateways/modbus/modbus_gateway.h"

#include <array>
#include <cstring>

#include "gateways/modbus/names.h"

namespace tsr {
namespace {

using Clock = std::chrono::steady_clock;
const char kReadError[] = "[err]";

// The key of the connection of `ip`: its endpoint "host:port", so "10.0.0.5" and
// "10.0.0.5:502" share one connection; the text itself when it is no endpoint (its Connect
// fails).
std::string LinkKey(const std::string& ip) {
    std::optional<Endpoint> e = ParseEndpoint(ip, kModbusDefaultPort);
    if (!e) return ip;
    return e->host + ":" + std::to_string(e->port);
}

}  // namespace

// One TCP connection to one device address, and what the family knows of that device.
struct ModbusFamily::Link {
    std::string ip;    // as the gateway gives it
    std::mutex mutex;  // one exchange at a time on this connection
    TcpConnection tcp;
    std::atomic<bool> connected{false};
    uint16_t transaction = 0;
    bool noMaskWrite = false;  // the device answered function 22 with "illegal function"
    int users = 0;             // the registered gateways that use it (under the family's mutex)

    // Closes the connection: the next retry tick opens it again. The lock is held.
    void Drop() {
        tcp.Close();
        connected.store(false);
    }
};

ModbusFamily::~ModbusFamily() {
    Disconnect();
}

std::string ModbusFamily::Channel(std::string_view item) const {
    return std::string(modbus::SplitItem(item).gateway);
}

ModbusFamily::Target ModbusFamily::Find(std::string_view gateway) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (gateway.empty()) {
        if (order_.empty()) return {};
        gateway = order_.front();
    }
    auto it = gateways_.find(std::string(gateway));
    if (it == gateways_.end()) return {};
    return it->second;
}

int ModbusFamily::Connect(const GatewaySettings& settings) {
    if (settings.unit < 0 || settings.unit > 255) return -3;
    std::shared_ptr<Link> link, left;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::shared_ptr<Link>& slot = links_[LinkKey(settings.ip)];
        if (!slot) {
            slot = std::make_shared<Link>();
            slot->ip = settings.ip;
            slot->transaction = options_.lastTransaction;
        }
        link = slot;
        auto known = gateways_.find(settings.id);
        if (known == gateways_.end()) {
            order_.push_back(settings.id);
            ++link->users;
        } else if (known->second.link != link) {
            // The gateway's ip changed: its old connection is closed when no one else uses it.
            ++link->users;
            if (--known->second.link->users == 0) {
                left = known->second.link;
                std::erase_if(links_, [&](const auto& entry) { return entry.second == left; });
            }
        }
        gateways_[settings.id] = Target{link, static_cast<uint8_t>(settings.unit)};
    }
    if (left) {
        std::lock_guard<std::mutex> lock(left->mutex);
        left->Drop();
    }
    std::lock_guard<std::mutex> lock(link->mutex);
    if (link->connected.load()) {
        // Modbus has no keep-alive of its own: what has arrived unasked is dropped, and a peer
        // that has closed the connection is seen there.
        link->tcp.DiscardPending();
        if (link->tcp.IsOpen()) return 0;
        link->Drop();
    }
    TransportError e = link->tcp.Connect(settings.ip, kModbusDefaultPort, options_.connectTimeout);
    SetConnectFailure(e == TransportError::None
                          ? std::string()
                          : ConnectFailureText(settings.ip, kModbusDefaultPort, e));
    if (e == TransportError::BadAddress || e == TransportError::Resolve) return -3;
    if (e != TransportError::None) return -2;
    link->noMaskWrite = false;  // it may be another device now
    link->connected.store(true);
    return 0;
}

bool ModbusFamily::Disconnect() {
    std::map<std::string, std::shared_ptr<Link>> links;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        links.swap(links_);
        gateways_.clear();
        order_.clear();
    }
    bool wasOpen = false;
    for (auto& [key, link] : links) {
        std::lock_guard<std::mutex> lock(link->mutex);
        wasOpen = wasOpen || link->connected.load();
        link->Drop();
    }
    return wasOpen;
}

bool ModbusFamily::Disconnect(const GatewaySettings& settings) {
    std::shared_ptr<Link> link;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = gateways_.find(settings.id);
        if (it == gateways_.end()) return false;
        link = it->second.link;
        gateways_.erase(it);
        std::erase(order_, settings.id);
        if (--link->users > 0) return false;  // another gateway still uses the connection
        std::erase_if(links_, [&](const auto& entry) { return entry.second == link; });
    }
    std::lock_guard<std::mutex> lock(link->mutex);
    const bool wasOpen = link->connected.load();
    link->Drop();
    return wasOpen;
}

bool ModbusFamily::IsConnected() const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [key, link] : links_)
        if (link->connected.load()) return true;
    return false;
}

bool ModbusFamily::IsConnected(const std::string& ip) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = links_.find(LinkKey(ip));
    return it != links_.end() && it->second->connected.load();
}

// One exchange:
//   send the frame (within sendTimeout), then take frames until the one that carries our
//   transaction number, unit and function (within answerTimeout in all); frames of other
//   transactions are dropped. A time-out, a failed connection or bytes that are no Modbus TCP
//   frame close the connection.
ModbusFamily::Outcome ModbusFamily::Exchange(Link& link, uint8_t unit, const modbus::Bytes& pdu,
                                             modbus::Answer* answer) {
    if (!link.connected.load() || !link.tcp.IsOpen()) return Outcome::Failed;
    link.transaction = modbus::NextTransaction(link.transaction);
    const uint16_t transaction = link.transaction;
    const modbus::Bytes frame = modbus::BuildFrame(transaction, unit, pdu);
    // A late answer to an earlier request must not be taken for this one.
    link.tcp.DiscardPending();
    if (!link.tcp.IsOpen() ||
        link.tcp.SendAll(frame, options_.sendTimeout) != TransportError::None) {
        link.Drop();
        return Outcome::Failed;
    }
    // One frame is at most kMaxFrame bytes, so a frame that needs more always has room here.
    std::array<uint8_t, modbus::kMaxFrame> buffer;
    size_t filled = 0;
    const auto deadline = Clock::now() + options_.answerTimeout;
    for (;;) {
        const modbus::Frame f = modbus::ParseFrame(std::span<const uint8_t>(buffer.data(), filled));
        if (f.status == modbus::FrameStatus::Malformed) {
            link.Drop();  // the stream cannot be followed any more
            return Outcome::Failed;
        }
        if (f.status == modbus::FrameStatus::Done) {
            modbus::Answer a = modbus::ParseAnswer(f, transaction, unit, pdu);
            if (a.status == modbus::AnswerStatus::NotOurs) {
                std::memmove(buffer.data(), buffer.data() + f.consumed, filled - f.consumed);
                filled -= f.consumed;
                continue;
            }
            if (a.status == modbus::AnswerStatus::Malformed) return Outcome::Failed;
            *answer = std::move(a);
            return answer->status == modbus::AnswerStatus::Ok ? Outcome::Ok : Outcome::Exception;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || filled >= buffer.size()) {
            link.Drop();
            return Outcome::Failed;
        }
        size_t received = 0;
        TransportError e = link.tcp.ReceiveSome(
            std::span<uint8_t>(buffer.data() + filled, buffer.size() - filled), &received, left);
        if (e != TransportError::None) {
            link.Drop();  // a time-out, or the connection is gone
            return Outcome::Failed;
        }
        filled += received;
    }
}

ModbusFamily::Outcome ModbusFamily::ReadBlock(Link& link, uint8_t unit,
                                              const modbus::ReadBlock& block,
                                              std::span<const modbus::Variable> vars,
                                              std::span<std::string*> texts) {
    const modbus::Bytes pdu =
        modbus::ReadPdu(modbus::ReadFunctionOf(block.table), block.address, block.count);
    modbus::Answer answer;
    const Outcome outcome = Exchange(link, unit, pdu, &answer);
    if (outcome != Outcome::Ok) return outcome;
    std::vector<uint16_t> values;
    if (modbus::IsBitTable(block.table)) {
        values.assign(answer.bits.begin(), answer.bits.end());
    } else {
        values = std::move(answer.registers);
    }
    for (size_t m : block.members) {
        const size_t offset = vars[m].address - block.address;
        if (offset + modbus::Width(vars[m]) > values.size()) continue;  // stays "[err]"
        std::span<const uint16_t> own(values.data() + offset, modbus::Width(vars[m]));
        *texts[m] = modbus::FormatValue(vars[m], own).value_or(kReadError);
    }
    return Outcome::Ok;
}

void ModbusFamily::ReadGroup(const Target& target, std::span<const modbus::Variable> vars,
                             std::span<std::string*> texts) {
    Link& link = *target.link;
    if (!link.connected.load()) return;  // not connected: "[err]" at once, nothing waits
    std::lock_guard<std::mutex> lock(link.mutex);
    for (const modbus::ReadBlock& block : modbus::PlanReads(vars)) {
        if (!link.connected.load()) return;  // an earlier block lost the connection
        const Outcome outcome = ReadBlock(link, target.unit, block, vars, texts);
        if (outcome != Outcome::Exception || block.members.size() == 1) continue;
        // Refused as a whole: each member on its own, so that only bad addresses fail.
        for (size_t m : block.members) {
            if (!link.connected.load()) return;
            modbus::ReadBlock alone;
            alone.table = vars[m].table;
            alone.address = vars[m].address;
            alone.count = modbus::Width(vars[m]);
            alone.members = {m};
            ReadBlock(link, target.unit, alone, vars, texts);
        }
    }
}

std::vector<std::string> ModbusFamily::ReadItems(std::span<const std::string_view> items) {
    std::vector<std::string> texts(items.size(), kReadError);
    // The items by their gateway's connection and unit, in the order they come.
    struct Group {
        Target target;
        std::vector<modbus::Variable> vars;
        std::vector<std::string*> texts;
    };
    std::vector<Group> groups;
    for (size_t i = 0; i < items.size(); ++i) {
        const modbus::ItemParts parts = modbus::SplitItem(items[i]);
        std::optional<modbus::Variable> v = modbus::ParseName(parts.variable);
        if (!v) continue;
        Target target = Find(parts.gateway);
        if (!target.link) continue;
        Group* group = nullptr;
        for (Group& g : groups)
            if (g.target.link == target.link && g.target.unit == target.unit) group = &g;
        if (!group) {
            groups.push_back(Group{std::move(target), {}, {}});
            group = &groups.back();
        }
        group->vars.push_back(*v);
        group->texts.push_back(&texts[i]);
    }
    for (Group& g : groups) ReadGroup(g.target, g.vars, g.texts);
    return texts;
}

std::string ModbusFamily::ReadItem(std::string_view item) {
    return ReadItems(std::span<const std::string_view>(&item, 1)).front();
}

void ModbusFamily::WriteBitByReadBack(Link& link, uint8_t unit, const modbus::Variable& v,
                                      bool on) {
    modbus::Answer answer;
    if (Exchange(link, unit, modbus::ReadPdu(modbus::kReadHoldingRegisters, v.address, 1),
                 &answer) != Outcome::Ok ||
        answer.registers.size() != 1)
        return;
    const auto mask = static_cast<uint16_t>(1u << v.bit);
    const uint16_t value = on ? static_cast<uint16_t>(answer.registers[0] | mask)
                              : static_cast<uint16_t>(answer.registers[0] & ~mask);
    Exchange(link, unit, modbus::WriteRegisterPdu(v.address, value), &answer);
}

void ModbusFamily::WriteItem(std::string_view item) {
    const modbus::ItemParts parts = modbus::SplitItem(item);
    const size_t eq = parts.variable.find('=');
    if (eq == std::string_view::npos) return;
    std::optional<modbus::Variable> v = modbus::ParseName(parts.variable.substr(0, eq));
    if (!v || !modbus::IsWritable(v->table)) return;
    std::optional<std::vector<uint16_t>> values =
        modbus::EncodeValue(*v, parts.variable.substr(eq + 1));
    if (!values) return;
    std::optional<modbus::Bytes> pdu = modbus::WritePdu(*v, *values);
    if (!pdu) return;
    const Target target = Find(parts.gateway);
    if (!target.link || !target.link->connected.load()) return;
    Link& link = *target.link;
    std::lock_guard<std::mutex> lock(link.mutex);
    const bool bit = v->form == modbus::Form::RegisterBit;
    if (bit && link.noMaskWrite) {
        WriteBitByReadBack(link, target.unit, *v, (*values)[0] != 0);
        return;
    }
    modbus::Answer answer;
    if (Exchange(link, target.unit, *pdu, &answer) != Outcome::Exception || !bit) return;
    if (answer.exception != modbus::kIllegalFunction) return;
    link.noMaskWrite = true;
    WriteBitByReadBack(link, target.unit, *v, (*values)[0] != 0);
}

std::unique_ptr<ModbusFamily> MakeModbusFamily(LogSink&) {
    return std::make_unique<ModbusFamily>();
}

}  // namespace tsr
