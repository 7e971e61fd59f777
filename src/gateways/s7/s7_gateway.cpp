#include "gateways/s7/s7_gateway.h"

#include "gateways/s7/packets.h"
#include "gateways/s7/s7_frames.h"
#include "gateways/s7/tpkt.h"

namespace tsr {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr const char* kErrorText = "[err]";

// The time left until `deadline`, at least 0.
milliseconds Remaining(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? left : milliseconds(0);
}

}  // namespace

int S7Family::Connect(const GatewaySettings& settings) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (connected_) {
        if (KeepAlive()) return 0;
        CloseLocked();
        return -1;
    }
    const TransportError e = connection_.Connect(settings.ip, kDefaultPort, kConnectTimeout);
    if (e != TransportError::None) {
        SetConnectFailure(ConnectFailureText(settings.ip, kDefaultPort, e));
        return -1;
    }
    if (!SetUp(settings.ucpos)) {
        CloseLocked();
        SetConnectFailure(EndpointText(settings.ip, kDefaultPort) +
                          ": no S7 answer to the connection set-up");
        return -1;
    }
    SetConnectFailure({});
    connected_ = true;
    return 0;
}

bool S7Family::Disconnect() {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool was = connected_;
    CloseLocked();
    return was;
}

std::string S7Family::ReadItem(std::string_view item) {
    std::optional<s7::S7Variable> variable = s7::ParseS7Name(item);
    if (!variable) return kErrorText;
    std::lock_guard<std::mutex> lock(mutex_);
    std::array<uint8_t, 4> bytes{};
    if (!ReadVariableBytes(*variable, &bytes)) return kErrorText;
    return s7::FormatS7Value(*variable, bytes);
}

void S7Family::WriteItem(std::string_view item) {
    const size_t equals = item.find('=');
    if (equals == std::string_view::npos) return;
    std::optional<s7::S7Variable> variable = s7::ParseS7Name(item.substr(0, equals));
    if (!variable) return;
    std::optional<uint32_t> value = s7::ParseS7WriteValue(*variable, item.substr(equals + 1));
    if (!value) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (variable->form != s7::S7Form::Bit) {
        const std::vector<uint8_t> data = s7::S7WriteBytes(*variable, *value);
        WriteBytes(variable->area, variable->byte, data);
        return;
    }
    // A bit: the byte holding it is read (past the cache), changed and written back.
    const uint32_t byte = s7::BitWriteByte(*variable);
    uint8_t current = 0;
    if (!ReadBytes(variable->area, byte * 8, std::span<uint8_t>(&current, 1))) return;
    std::optional<uint8_t> changed = s7::ChangeBit(current, variable->bit % 8, *value);
    if (!changed) return;
    WriteBytes(variable->area, byte, std::span<const uint8_t>(&*changed, 1));
}

S7Statistics S7Family::Statistics() const {
    return {cacheHits_.load(), cacheMisses_.load(), requests_.load()};
}

// The connection request and the setup communication of the form chosen by `ucpos`.
bool S7Family::SetUp(int ucpos) {
    cache_ = {};
    reference_ = s7::kDefaultJobReference;
    if (!Exchange(s7::ConnectionRequestPacket(ucpos), [](std::span<const uint8_t> packet) {
            return s7::IsConnectionConfirmPacket(packet);
        })) {
        return false;
    }
    const std::vector<uint8_t> setup = s7::BuildSetupCommunication(ucpos != 0);
    return Exchange(s7::DataPacket(setup), [](std::span<const uint8_t> packet) {
        std::span<const uint8_t> pdu;
        return s7::PduOfPacket(packet, &pdu) && s7::ParseSetupAnswer(pdu) == s7::S7Error::None;
    });
}

// The CPU state request; any packet in answer shows the controller is there.
bool S7Family::KeepAlive() {
    ++requests_;
    const std::vector<uint8_t> request = s7::BuildCpuStateRequest();
    return Exchange(s7::DataPacket(request), [](std::span<const uint8_t>) { return true; });
}

void S7Family::CloseLocked() {
    connection_.Close();
    connected_ = false;
}

bool S7Family::ReadVariableBytes(const s7::S7Variable& variable, std::array<uint8_t, 4>* bytes) {
    const Clock::time_point now = now_();
    const uint32_t bitAddress = variable.BitAddress();
    CacheEntry* same = nullptr;
    for (CacheEntry& e : cache_) {
        if (e.used && e.area == variable.area && e.bitAddress == bitAddress) same = &e;
    }
    if (same && now - same->time <= kCacheAge) {
        ++cacheHits_;
        *bytes = same->bytes;
        return true;
    }
    ++cacheMisses_;
    if (!ReadBytes(variable.area, bitAddress, *bytes)) return false;
    // The entry of the same address, else the first empty one, else the oldest (first of equals).
    CacheEntry* slot = same;
    for (size_t i = 0; !slot && i < cache_.size(); ++i) {
        if (!cache_[i].used) slot = &cache_[i];
    }
    if (!slot) {
        slot = &cache_[0];
        for (CacheEntry& e : cache_) {
            if (e.time < slot->time) slot = &e;
        }
    }
    *slot = {true, variable.area, bitAddress, now, *bytes};
    return true;
}

bool S7Family::ReadBytes(uint8_t area, uint32_t bitAddress, std::span<uint8_t> out) {
    if (!connected_) return false;
    ++requests_;
    const uint16_t reference = NextReference();
    s7::ReadRequest request;
    request.area = area;
    request.bitAddress = bitAddress;
    request.count = static_cast<uint16_t>(out.size());
    request.reference = reference;
    s7::S7Error result = s7::S7Error::Truncated;
    const bool answered = Exchange(
        s7::DataPacket(s7::BuildReadRequest(request)), [&](std::span<const uint8_t> packet) {
            std::span<const uint8_t> pdu;
            if (!s7::PduOfPacket(packet, &pdu) || s7::PduReference(pdu) != reference) return false;
            result = s7::ParseReadAnswer(pdu, out);
            return true;
        });
    return answered && result == s7::S7Error::None;
}

bool S7Family::WriteBytes(uint8_t area, uint32_t byte, std::span<const uint8_t> data) {
    if (!connected_ || data.empty()) return false;
    ForgetCached(area, byte, data.size());
    ++requests_;
    const uint16_t reference = NextReference();
    s7::WriteRequest request;
    request.area = area;
    request.bitAddress = byte * 8;
    request.data = data;
    request.reference = reference;
    // The answer is awaited so that it cannot linger, but its content is not used.
    return Exchange(s7::DataPacket(s7::BuildWriteRequest(request)),
                    [&](std::span<const uint8_t> packet) {
                        std::span<const uint8_t> pdu;
                        return s7::PduOfPacket(packet, &pdu) && s7::PduReference(pdu) == reference;
                    });
}

// Drops the cached reads whose 4 bytes overlap the `count` bytes written from `byte`, so that a
// read right after a write shows the written value.
void S7Family::ForgetCached(uint8_t area, uint32_t byte, size_t count) {
    for (CacheEntry& e : cache_) {
        const uint32_t first = e.bitAddress / 8;
        if (e.used && e.area == area && first < byte + count && byte < first + e.bytes.size()) {
            e.used = false;
        }
    }
}

// Drops what arrived before, sends `packet` and receives packets until `isAnswer` takes one,
// all within the answer time-out.
bool S7Family::Exchange(std::span<const uint8_t> packet, const AnswerTest& isAnswer) {
    if (packet.empty() || !connection_.IsOpen()) return false;
    connection_.DiscardPending();
    if (connection_.SendAll(packet, kSendTimeout) != TransportError::None) return false;
    const Clock::time_point deadline = Clock::now() + kAnswerTimeout;
    std::span<uint8_t> answer;
    while (ReceivePacket(deadline, &answer)) {
        if (isAnswer(answer)) return true;
    }
    return false;
}

// One whole packet, cut from the stream by its TPKT length, into packet_.
bool S7Family::ReceivePacket(Clock::time_point deadline, std::span<uint8_t>* packet) {
    std::span<uint8_t> header(packet_.data(), s7::kTpktHeaderSize);
    if (connection_.ReceiveExact(header, Remaining(deadline)) != TransportError::None) {
        return false;
    }
    size_t length = 0;
    if (s7::ParseTpktHeader(header, &length) != s7::TpktError::None) return false;
    if (length > packet_.size()) return false;
    std::span<uint8_t> rest(packet_.data() + s7::kTpktHeaderSize, length - s7::kTpktHeaderSize);
    if (connection_.ReceiveExact(rest, Remaining(deadline)) != TransportError::None) return false;
    *packet = std::span<uint8_t>(packet_.data(), length);
    return true;
}

uint16_t S7Family::NextReference() { return reference_++; }

std::unique_ptr<ConnectedFamily> MakeS7Family(LogSink&) { return std::make_unique<S7Family>(); }

}  // namespace tsr
