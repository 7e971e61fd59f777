#include "unity_sim.h"

#include <sys/socket.h>

#include <charconv>
#include <cstring>
#include <thread>

#include "gateways/unity/names.h"

namespace tsr::sims {
namespace {

constexpr size_t kMaxFrame = 8192;
constexpr size_t kKeptRequests = 4096;

uint16_t Le16(const UnitySim::Bytes& p, size_t at) {
    return static_cast<uint16_t>(p[at] | (p[at + 1] << 8));
}

void PutLe16(UnitySim::Bytes& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

// Receives exactly `size` bytes; false when the peer closed, failed or the simulator stops.
bool ReceiveExactly(int fd, uint8_t* data, size_t size, const std::atomic<bool>& stopping) {
    size_t got = 0;
    while (got < size) {
        if (!WaitReadable(fd, stopping)) return false;
        ssize_t n = recv(fd, data + got, size - got, 0);
        if (n <= 0) return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

// Sleeps `ms`, in short steps so that a stop is seen promptly.
void Pause(long long ms, const std::atomic<bool>& stopping) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!stopping.load() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

std::optional<long long> Integer(std::string_view text) {
    long long v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return v;
}

}  // namespace

UnitySim::UnitySim()
    : server_([this](int fd, const std::atomic<bool>& stopping) { Serve(fd, stopping); }) {}

bool UnitySim::Start(const std::string& address, uint16_t port) {
    return server_.Start(address, port);
}

void UnitySim::Stop() {
    server_.Stop();
}

// One connection: frames in, frames out, until the peer closes or the simulator stops.
//   request and answer: txn(2, BE) protocol 0(2) length(2, BE) unit 0 | 5A | 0 | payload
void UnitySim::Serve(int fd, const std::atomic<bool>& stopping) {
    for (;;) {
        uint8_t head[6];
        if (!ReceiveExactly(fd, head, sizeof head, stopping)) return;
        const size_t length = static_cast<size_t>((head[4] << 8) | head[5]);
        if (length < 3 || length > kMaxFrame) return;  // not a frame of ours: drop the peer
        Bytes frame(head, head + sizeof head);
        frame.resize(sizeof head + length);
        if (!ReceiveExactly(fd, frame.data() + sizeof head, length, stopping)) return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(frame);
            if (requests_.size() > kKeptRequests) requests_.pop_front();
        }
        requestCount_.fetch_add(1);
        if (closeOnRequest_.exchange(false)) return;
        if (silent_.load()) continue;
        if (frame[7] != 0x5A) return;
        const Bytes payload(frame.begin() + 9, frame.end());
        const Bytes answer = Answer(payload);
        if (long long ms = delayMs_.load(); ms > 0) Pause(ms, stopping);
        uint16_t txn = static_cast<uint16_t>((head[0] << 8) | head[1]);
        if (wrongTransactions_.load() > 0) {
            wrongTransactions_.fetch_sub(1);
            txn = static_cast<uint16_t>(txn == 0xFFFF ? 2 : txn + 1);  // another request's
        }
        Bytes out;
        out.push_back(static_cast<uint8_t>(txn >> 8));  // transaction number of the request
        out.push_back(static_cast<uint8_t>(txn));
        out.push_back(0);  // protocol identifier
        out.push_back(0);
        const size_t rest = answer.size() + 3;
        out.push_back(static_cast<uint8_t>(rest >> 8));  // length of the rest
        out.push_back(static_cast<uint8_t>(rest));
        out.push_back(0);     // unit identifier
        out.push_back(0x5A);  // function code
        out.push_back(0);     // always 0
        out.insert(out.end(), answer.begin(), answer.end());
        if (!SendAllBytes(fd, out.data(), out.size())) return;
    }
}

UnitySim::Bytes UnitySim::Answer(const Bytes& p) {
    if (p.empty() || rejecting_.load()) return Bytes{0xFD, 0x00, 0x80, 0x00};
    switch (p[0]) {
        case 0x01:
            return Bytes{0xFE, 0x00, 0x03, 0x00, 0x01, 0x00};  // session opened
        case 0x02: {                                           // identification
            Bytes a{0xFE};
            const char name[] = "BMX P34 SIM";
            a.insert(a.end(), name, name + sizeof name - 1);
            return a;
        }
        case 0x04: {  // keep-alive: 23 bytes
            Bytes a(23, 0);
            a[0] = 0xFE;
            return a;
        }
        case 0x11:
            return Bytes{0xFE};  // session ended
        case 0x24:
            return AnswerMemoryRead(p);
        case 0x25:
            return AnswerMemoryWrite(p);
        case 0x70:
            return AnswerChannel(p, false);
        case 0x71:
            return AnswerChannel(p, true);
    }
    return Bytes{0xFD, 0x00};
}

// 24 01 00 T nL nH 00 00 C 00: C values of area T from n (T 0 %S, 1 %SW, 2 %M, 3 %MW).
UnitySim::Bytes UnitySim::AnswerMemoryRead(const Bytes& p) {
    if (p.size() < 10 || p[8] == 0 || p[8] > 100) return Bytes{0xFD, 0x00, 0x80, 0x00};
    const uint8_t type = p[3];
    const uint16_t n = Le16(p, 4);
    Bytes a{0xFE, 0x02, 0x00, p[8]};
    std::lock_guard<std::mutex> lock(mutex_);
    for (uint16_t i = 0; i < p[8]; ++i) {
        const uint16_t at = static_cast<uint16_t>(n + i);
        if (type == 0)
            a.push_back(systemBits_[at] ? 1 : 0);
        else if (type == 2)
            a.push_back(memoryBits_[at] ? 1 : 0);
        else if (type == 1)
            PutLe16(a, systemWords_[at]);
        else if (type == 3)
            PutLe16(a, memoryWords_[at]);
        else
            return Bytes{0xFD, 0x00, 0x80, 0x00};
    }
    return a;
}

// 25 01 00 T nL nH 00 00 C 00 values: bits one byte each, words two bytes each.
UnitySim::Bytes UnitySim::AnswerMemoryWrite(const Bytes& p) {
    if (p.size() < 10 || p[8] == 0) return Bytes{0xFD, 0x00, 0x00, 0x00};
    const uint8_t type = p[3];
    const uint16_t n = Le16(p, 4);
    const size_t width = (type == 0 || type == 2) ? 1 : 2;
    if (type > 3 || p.size() < 10 + width * p[8]) return Bytes{0xFD, 0x00, 0x00, 0x00};
    std::lock_guard<std::mutex> lock(mutex_);
    for (uint16_t i = 0; i < p[8]; ++i) {
        const uint16_t at = static_cast<uint16_t>(n + i);
        const size_t v = 10 + width * i;
        if (type == 0) systemBits_[at] = p[v] & 1;
        if (type == 2) memoryBits_[at] = p[v] & 1;
        if (type == 1) systemWords_[at] = Le16(p, v);
        if (type == 3) memoryWords_[at] = Le16(p, v);
    }
    return Bytes{0xFE, 0x00, 0x00, 0x00};
}

// 70/71 04 00 rL rH mL mH 01 20 K 01 00 cL cH S 00 00 00 [value]: 16-byte answer, the value at 9.
UnitySim::Bytes UnitySim::AnswerChannel(const Bytes& p, bool write) {
    if (p.size() < 18 || p[9] < 1 || p[9] > 4) return Bytes{0xFD, 0x00};
    const auto key = std::make_tuple(p[9], Le16(p, 3), Le16(p, 5), Le16(p, 12));
    const bool bit = p[14] == 0x01;
    Bytes a(16, 0);
    a[0] = 0xFE;
    std::lock_guard<std::mutex> lock(mutex_);
    if (write) {
        if (p.size() < (bit ? 19u : 20u)) return Bytes{0xFD, 0x00};
        channels_[key] = bit ? (p[18] & 1) : Le16(p, 18);
        return a;
    }
    const uint16_t v = channels_[key];
    a[9] = static_cast<uint8_t>(v & 0xFF);
    a[10] = static_cast<uint8_t>(v >> 8);
    return a;
}

void UnitySim::SetMemoryWord(uint16_t n, uint16_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    memoryWords_[n] = value;
}

uint16_t UnitySim::MemoryWord(uint16_t n) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = memoryWords_.find(n);
    return it == memoryWords_.end() ? 0 : it->second;
}

void UnitySim::SetSystemWord(uint16_t n, uint16_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    systemWords_[n] = value;
}

uint16_t UnitySim::SystemWord(uint16_t n) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = systemWords_.find(n);
    return it == systemWords_.end() ? 0 : it->second;
}

void UnitySim::SetMemoryBit(uint16_t n, bool value) {
    std::lock_guard<std::mutex> lock(mutex_);
    memoryBits_[n] = value;
}

bool UnitySim::MemoryBit(uint16_t n) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = memoryBits_.find(n);
    return it != memoryBits_.end() && it->second;
}

void UnitySim::SetSystemBit(uint16_t n, bool value) {
    std::lock_guard<std::mutex> lock(mutex_);
    systemBits_[n] = value;
}

bool UnitySim::SystemBit(uint16_t n) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = systemBits_.find(n);
    return it != systemBits_.end() && it->second;
}

void UnitySim::SetMemoryDouble(uint16_t n, uint32_t value) {
    SetMemoryWord(n, static_cast<uint16_t>(value & 0xFFFF));
    SetMemoryWord(static_cast<uint16_t>(n + 1), static_cast<uint16_t>(value >> 16));
}

uint32_t UnitySim::MemoryDouble(uint16_t n) const {
    return MemoryWord(n) | (static_cast<uint32_t>(MemoryWord(static_cast<uint16_t>(n + 1))) << 16);
}

void UnitySim::SetMemoryReal(uint16_t n, float value) {
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    SetMemoryDouble(n, bits);
}

float UnitySim::MemoryReal(uint16_t n) const {
    const uint32_t bits = MemoryDouble(n);
    float f = 0;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

void UnitySim::SetChannel(uint8_t kind, uint16_t rack, uint16_t module, uint16_t channel,
                          uint16_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    channels_[std::make_tuple(kind, rack, module, channel)] = value;
}

uint16_t UnitySim::Channel(uint8_t kind, uint16_t rack, uint16_t module, uint16_t channel) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = channels_.find(std::make_tuple(kind, rack, module, channel));
    return it == channels_.end() ? 0 : it->second;
}

bool UnitySim::Set(std::string_view name, std::string_view value) {
    using unity::Area;
    auto v = unity::ParseName(name);
    if (!v) return false;
    if (v->area == Area::MemoryReal) {
        float f = 0;
        auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), f);
        if (value.empty() || ec != std::errc() || end != value.data() + value.size()) return false;
        SetMemoryReal(v->number, f);
        return true;
    }
    auto n = Integer(value);
    if (!n) return false;
    const auto word = static_cast<uint16_t>(*n);
    switch (v->area) {
        case Area::InputBit:
            SetChannel(1, v->rack, v->module, v->channel, *n & 1);
            return true;
        case Area::OutputBit:
            SetChannel(2, v->rack, v->module, v->channel, *n & 1);
            return true;
        case Area::InputWord:
            SetChannel(3, v->rack, v->module, v->channel, word);
            return true;
        case Area::OutputWord:
            SetChannel(4, v->rack, v->module, v->channel, word);
            return true;
        case Area::MemoryBit:
            SetMemoryBit(v->number, *n & 1);
            return true;
        case Area::SystemBit:
            SetSystemBit(v->number, *n & 1);
            return true;
        case Area::MemoryWord:
            SetMemoryWord(v->number, word);
            return true;
        case Area::SystemWord:
            SetSystemWord(v->number, word);
            return true;
        case Area::MemoryDouble:
            SetMemoryDouble(v->number, static_cast<uint32_t>(*n));
            return true;
        default:
            return false;
    }
}

std::optional<std::string> UnitySim::Get(std::string_view name) const {
    using unity::Area;
    auto v = unity::ParseName(name);
    if (!v) return std::nullopt;
    switch (v->area) {
        case Area::InputBit:
            return std::to_string(Channel(1, v->rack, v->module, v->channel));
        case Area::OutputBit:
            return std::to_string(Channel(2, v->rack, v->module, v->channel));
        case Area::InputWord:
            return std::to_string(Channel(3, v->rack, v->module, v->channel));
        case Area::OutputWord:
            return std::to_string(Channel(4, v->rack, v->module, v->channel));
        case Area::MemoryBit:
            return std::to_string(MemoryBit(v->number) ? 1 : 0);
        case Area::SystemBit:
            return std::to_string(SystemBit(v->number) ? 1 : 0);
        case Area::MemoryWord:
            return std::to_string(MemoryWord(v->number));
        case Area::SystemWord:
            return std::to_string(SystemWord(v->number));
        case Area::MemoryWordBit:
            return std::to_string((MemoryWord(v->number) >> v->bit) & 1);
        case Area::MemoryDouble:
            return std::to_string(static_cast<int32_t>(MemoryDouble(v->number)));
        case Area::MemoryReal: {
            char text[64];
            std::snprintf(text, sizeof text, "%g", static_cast<double>(MemoryReal(v->number)));
            return std::string(text);
        }
        default:
            return std::nullopt;
    }
}

std::vector<UnitySim::Bytes> UnitySim::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return {requests_.begin(), requests_.end()};
}

void UnitySim::ClearRequests() {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.clear();
}

}  // namespace tsr::sims
