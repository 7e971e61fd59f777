#include "gateways/unity/frames.h"

#include "base/number_text.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <limits>

namespace tsr::unity {
namespace {

void put_be16(Bytes& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v & 0xFF));
}

void put_le16(Bytes& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void put_le32(Bytes& out, uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

uint16_t get_be16(std::span<const uint8_t> in, size_t at) {
    return static_cast<uint16_t>((in[at] << 8) | in[at + 1]);
}

uint16_t get_le16(std::span<const uint8_t> in, size_t at) {
    return static_cast<uint16_t>(in[at] | (in[at + 1] << 8));
}

uint32_t get_le32(std::span<const uint8_t> in, size_t at) {
    return static_cast<uint32_t>(in[at]) | (static_cast<uint32_t>(in[at + 1]) << 8) |
           (static_cast<uint32_t>(in[at + 2]) << 16) | (static_cast<uint32_t>(in[at + 3]) << 24);
}

bool IsBitArea(Area a) {
    return a == Area::InputBit || a == Area::OutputBit || a == Area::MemoryBit ||
           a == Area::SystemBit;
}

bool IsDoubleArea(Area a) {
    return a == Area::MemoryDouble || a == Area::MemoryReal;
}

// The I/O request head: 70 (read) or 71 (write) 04 00 rL rH mL mH 01 20 K 01 00 cL cH S 00 00 00.
Bytes InputOutputPayload(uint8_t code, const Variable& v) {
    Bytes p;
    p.push_back(code);  // 0x70 read, 0x71 write
    p.push_back(0x04);
    p.push_back(0x00);
    put_le16(p, v.rack);
    put_le16(p, v.module);
    p.push_back(0x01);
    p.push_back(0x20);
    uint8_t kind = 1;  // K: 1 %I, 2 %Q, 3 %IW, 4 %QW
    if (v.area == Area::OutputBit) kind = 2;
    if (v.area == Area::InputWord) kind = 3;
    if (v.area == Area::OutputWord) kind = 4;
    p.push_back(kind);
    p.push_back(0x01);
    p.push_back(0x00);
    put_le16(p, v.channel);
    p.push_back(IsBitArea(v.area) ? 0x01 : 0x02);  // size of the value: 1 bit, 2 word
    p.push_back(0x00);
    p.push_back(0x00);
    p.push_back(0x00);
    return p;
}

// The memory request head: 24 (read) or 25 (write) 01 00 T nL nH 00 00 C 00, T the area, C the
// count of words (1, or 2 for the 32-bit forms).
Bytes MemoryPayload(uint8_t code, const Variable& v) {
    uint8_t type = 0x03;  // %MW, %MD, %MF, %MW n.b
    if (v.area == Area::MemoryBit) type = 0x02;
    if (v.area == Area::SystemBit) type = 0x00;
    if (v.area == Area::SystemWord) type = 0x01;
    Bytes p;
    p.push_back(code);  // 0x24 read, 0x25 write
    p.push_back(0x01);
    p.push_back(0x00);
    p.push_back(type);
    put_le16(p, v.number);
    p.push_back(0x00);
    p.push_back(0x00);
    p.push_back(IsDoubleArea(v.area) ? 0x02 : 0x01);
    p.push_back(0x00);
    return p;
}

std::string Decimal(long long v) {
    return std::to_string(v);
}

}  // namespace

Bytes OpenPayload() {
    return {0x01, 0x00};
}
Bytes IdentifyPayload() {
    return {0x02};
}
Bytes KeepAlivePayload() {
    return {0x04};
}
Bytes EndPayload() {
    return {0x11};
}

uint16_t NextTransaction(uint16_t current) {
    return current == 0xFFFF ? 1 : static_cast<uint16_t>(current + 1);
}

Bytes BuildFrame(uint16_t transaction, std::span<const uint8_t> payload) {
    Bytes f;
    f.reserve(kHeaderSize + payload.size());
    put_be16(f, transaction);                                // transaction number
    put_be16(f, 0);                                          // protocol identifier, 0
    put_be16(f, static_cast<uint16_t>(payload.size() + 3));  // length of the rest
    f.push_back(0x00);                                       // unit identifier, 0
    f.push_back(kFunctionCode);                              // function code 0x5A
    f.push_back(0x00);                                       // always 0
    f.insert(f.end(), payload.begin(), payload.end());       // payload
    return f;
}

const char* AnswerErrorText(AnswerError error) {
    switch (error) {
        case AnswerError::None:
            return "ok";
        case AnswerError::TooShort:
            return "answer too short";
        case AnswerError::BadLength:
            return "bad length field";
        case AnswerError::OtherTransaction:
            return "answer of another transaction";
    }
    return "unknown";
}

Answer ParseAnswer(std::span<const uint8_t> received, uint16_t transaction, size_t expected) {
    Answer a;
    if (received.size() <= 5) {
        a.error = AnswerError::TooShort;
        return a;
    }
    const uint16_t length = get_be16(received, 4);  // unit, function, 0 and the payload
    if (length <= 2) {
        a.error = AnswerError::BadLength;
        return a;
    }
    if (get_be16(received, 0) != transaction) {
        a.error = AnswerError::OtherTransaction;
        return a;
    }
    // The payload is what the length field counts after its three header bytes, cut to what
    // was received and to what the request expects.
    size_t size = static_cast<size_t>(length) - 3;
    const size_t there = received.size() > kHeaderSize ? received.size() - kHeaderSize : 0;
    if (size > there) size = there;
    if (size > expected) size = expected;
    a.payload.assign(received.begin() + kHeaderSize, received.begin() + kHeaderSize + size);
    return a;
}

std::optional<Bytes> ReadPayload(const Variable& v) {
    if (v.area == Area::NotServed) return std::nullopt;
    if (IsInputOutput(v.area)) return InputOutputPayload(0x70, v);
    return MemoryPayload(0x24, v);
}

size_t ReadAnswerSize(const Variable& v) {
    if (IsInputOutput(v.area)) return 16;
    if (v.area == Area::MemoryBit || v.area == Area::SystemBit) return 5;
    if (IsDoubleArea(v.area)) return 8;
    return 6;
}

std::optional<std::string> DecodeRead(const Variable& v, std::span<const uint8_t> payload) {
    const size_t expected = ReadAnswerSize(v);
    if (v.area == Area::NotServed || payload.size() < expected) return std::nullopt;
    if (payload[0] != kAccepted) return std::nullopt;
    // The 6- and 8-byte answers flag an error in bit 7 of byte 2.
    if ((expected == 6 || expected == 8) && (payload[2] & 0x80)) return std::nullopt;
    switch (v.area) {
        case Area::InputBit:
        case Area::OutputBit:
            return Decimal(payload[9] & 1);
        case Area::InputWord:
        case Area::OutputWord:
            return Decimal(get_le16(payload, 9));
        case Area::MemoryBit:
        case Area::SystemBit:
            return Decimal(payload[4] & 1);
        case Area::MemoryWord:
        case Area::SystemWord:
            return Decimal(get_le16(payload, 4));
        case Area::MemoryWordBit:
            return Decimal((get_le16(payload, 4) >> v.bit) & 1);
        case Area::MemoryDouble:
            return Decimal(static_cast<int32_t>(get_le32(payload, 4)));
        case Area::MemoryReal: {
            const uint32_t bits = get_le32(payload, 4);
            float f = 0;
            std::memcpy(&f, &bits, sizeof f);
            char text[64];
            std::snprintf(text, sizeof text, "%g", static_cast<double>(f));
            return std::string(text);
        }
        case Area::NotServed:
            break;
    }
    return std::nullopt;
}

std::optional<Bytes> WritePayload(const Variable& v, std::string_view value) {
    if (v.area == Area::NotServed || v.area == Area::MemoryWordBit) return std::nullopt;
    const bool io = IsInputOutput(v.area);
    Bytes p = io ? InputOutputPayload(0x71, v) : MemoryPayload(0x25, v);
    if (v.area == Area::MemoryReal) {
        auto bits = ParseSingleBits(value);
        if (!bits) return std::nullopt;
        put_le32(p, *bits);  // V0 to V3
        return p;
    }
    if (v.area == Area::MemoryDouble) {
        auto n = ParseInteger(value, std::numeric_limits<int32_t>::min(),
                              std::numeric_limits<uint32_t>::max());
        if (!n) return std::nullopt;
        put_le32(p, static_cast<uint32_t>(*n));  // V0 to V3
        return p;
    }
    if (IsBitArea(v.area)) {
        auto n = ParseInteger(value, -128, 255);
        if (!n) return std::nullopt;
        p.push_back(static_cast<uint8_t>(*n));  // V, the low byte
        return p;
    }
    auto n = ParseInteger(value, -32768, 65535);
    if (!n) return std::nullopt;
    put_le16(p, static_cast<uint16_t>(*n));  // VL VH
    return p;
}

size_t WriteAnswerSize(const Variable& v) {
    return IsInputOutput(v.area) ? 16 : 4;
}

bool WriteAccepted(std::span<const uint8_t> payload) {
    return !payload.empty() && payload[0] == kAccepted;
}

}  // namespace tsr::unity
