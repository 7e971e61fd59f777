#include "gateways/modbus/frames.h"

#include "base/number_text.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdio>

namespace tsr::modbus {
namespace {

constexpr uint16_t kCoilOn = 0xFF00;  // function 5: the value of a coil switched on

void put_be16(Bytes& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v & 0xFF));
}

uint16_t get_be16(std::span<const uint8_t> in, size_t at) {
    return static_cast<uint16_t>((in[at] << 8) | in[at + 1]);
}

bool IsLowWordFirst(Form form) {
    return form == Form::U32Le || form == Form::S32Le || form == Form::F32Le;
}

bool IsReal(Form form) {
    return form == Form::F32 || form == Form::F32Le;
}

// The 32 bits of two registers in the word order of `form`.
uint32_t Join(Form form, uint16_t first, uint16_t second) {
    if (IsLowWordFirst(form)) return (static_cast<uint32_t>(second) << 16) | first;
    return (static_cast<uint32_t>(first) << 16) | second;
}

std::vector<uint16_t> Split(Form form, uint32_t v) {
    const auto high = static_cast<uint16_t>(v >> 16);
    const auto low = static_cast<uint16_t>(v & 0xFFFF);
    if (IsLowWordFirst(form)) return {low, high};
    return {high, low};
}

std::string Real(float f) {
    char text[64];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(f));
    return text;
}

// The answer data size a read of `count` items of function `function` has: the byte count
// byte's value.
size_t ReadDataSize(uint8_t function, uint16_t count) {
    if (function == kReadCoils || function == kReadDiscreteInputs) return (count + 7u) / 8u;
    return 2u * count;
}

Answer Refused(AnswerStatus status) {
    Answer a;
    a.status = status;
    return a;
}

// The answer to a read: function, byte count, data.
Answer ParseReadAnswer(std::span<const uint8_t> pdu, std::span<const uint8_t> request) {
    const uint8_t function = request[0];
    const uint16_t count = get_be16(request, 3);
    const size_t size = ReadDataSize(function, count);
    if (pdu.size() < 2 || pdu[1] != size || pdu.size() != 2 + size)
        return Refused(AnswerStatus::Malformed);
    Answer a;
    a.status = AnswerStatus::Ok;
    if (function == kReadCoils || function == kReadDiscreteInputs) {
        a.bits.reserve(count);
        for (uint16_t i = 0; i < count; ++i) a.bits.push_back((pdu[2 + i / 8] >> (i % 8)) & 1);
        return a;
    }
    a.registers.reserve(count);
    for (uint16_t i = 0; i < count; ++i) a.registers.push_back(get_be16(pdu, 2 + 2u * i));
    return a;
}

// The answer to a write echoes the request: its address and value (5, 6), address and count
// (16), or address and both masks (22).
Answer ParseWriteAnswer(std::span<const uint8_t> pdu, std::span<const uint8_t> request) {
    const size_t echo = request[0] == kMaskWriteRegister ? 7 : 5;
    if (pdu.size() != echo || !std::equal(pdu.begin(), pdu.end(), request.begin()))
        return Refused(AnswerStatus::Malformed);
    Answer a;
    a.status = AnswerStatus::Ok;
    return a;
}

// The smallest request PDU of each function the family sends.
size_t RequestSize(uint8_t function) {
    switch (function) {
        case kReadCoils:
        case kReadDiscreteInputs:
        case kReadHoldingRegisters:
        case kReadInputRegisters:
        case kWriteSingleCoil:
        case kWriteSingleRegister:
            return 5;
        case kWriteMultipleRegisters:
            return 6;
        case kMaskWriteRegister:
            return 7;
        default:
            return 0;
    }
}

}  // namespace

uint16_t NextTransaction(uint16_t current) {
    return current == 0xFFFF ? 1 : static_cast<uint16_t>(current + 1);
}

Bytes BuildFrame(uint16_t transaction, uint8_t unit, std::span<const uint8_t> pdu) {
    Bytes f;
    f.reserve(kHeaderSize + pdu.size());
    put_be16(f, transaction);                            // transaction number
    put_be16(f, 0);                                      // protocol identifier: always 0
    put_be16(f, static_cast<uint16_t>(pdu.size() + 1));  // length: the unit and the PDU
    f.push_back(unit);                                   // unit identifier
    f.insert(f.end(), pdu.begin(), pdu.end());           // function code and data
    return f;
}

Bytes ReadPdu(uint8_t function, uint16_t address, uint16_t count) {
    Bytes p;
    p.push_back(function);  // 1, 2, 3 or 4
    put_be16(p, address);   // first address
    put_be16(p, count);     // number of bits or registers
    return p;
}

Bytes WriteCoilPdu(uint16_t address, bool on) {
    Bytes p;
    p.push_back(kWriteSingleCoil);
    put_be16(p, address);
    put_be16(p, on ? kCoilOn : 0x0000);  // FF00 on, 0000 off
    return p;
}

Bytes WriteRegisterPdu(uint16_t address, uint16_t value) {
    Bytes p;
    p.push_back(kWriteSingleRegister);
    put_be16(p, address);
    put_be16(p, value);
    return p;
}

Bytes WriteRegistersPdu(uint16_t address, std::span<const uint16_t> values) {
    Bytes p;
    p.push_back(kWriteMultipleRegisters);
    put_be16(p, address);
    put_be16(p, static_cast<uint16_t>(values.size()));     // number of registers
    p.push_back(static_cast<uint8_t>(values.size() * 2));  // byte count
    for (uint16_t v : values) put_be16(p, v);
    return p;
}

Bytes MaskWritePdu(uint16_t address, uint16_t andMask, uint16_t orMask) {
    Bytes p;
    p.push_back(kMaskWriteRegister);
    put_be16(p, address);
    put_be16(p, andMask);  // the bits kept
    put_be16(p, orMask);   // the bits set among those not kept
    return p;
}

uint8_t ReadFunctionOf(Table table) {
    switch (table) {
        case Table::Coil:
            return kReadCoils;
        case Table::DiscreteInput:
            return kReadDiscreteInputs;
        case Table::HoldingRegister:
            return kReadHoldingRegisters;
        case Table::InputRegister:
            return kReadInputRegisters;
    }
    return kReadHoldingRegisters;
}

const char* FrameErrorText(FrameError error) {
    switch (error) {
        case FrameError::None:
            return "ok";
        case FrameError::BadProtocol:
            return "protocol identifier not 0";
        case FrameError::BadLength:
            return "length field out of range";
    }
    return "unknown";
}

Frame ParseFrame(std::span<const uint8_t> received) {
    Frame f;
    if (received.size() < 6) return f;  // NeedMore: not even the length field
    if (get_be16(received, 2) != 0) {
        f.status = FrameStatus::Malformed;
        f.error = FrameError::BadProtocol;
        return f;
    }
    const uint16_t length = get_be16(received, 4);  // the unit and the PDU
    if (length < 2 || length > kMaxPdu + 1) {
        f.status = FrameStatus::Malformed;
        f.error = FrameError::BadLength;
        return f;
    }
    const size_t total = 6 + static_cast<size_t>(length);
    if (received.size() < total) return f;  // NeedMore
    f.status = FrameStatus::Done;
    f.consumed = total;
    f.transaction = get_be16(received, 0);
    f.unit = received[6];
    f.pdu = received.subspan(kHeaderSize, total - kHeaderSize);
    return f;
}

Answer ParseAnswer(const Frame& frame, uint16_t transaction, uint8_t unit,
                   std::span<const uint8_t> request) {
    if (frame.status != FrameStatus::Done || frame.pdu.empty() || request.empty())
        return Refused(AnswerStatus::Malformed);
    const uint8_t function = request[0];
    if (RequestSize(function) == 0 || request.size() < RequestSize(function))
        return Refused(AnswerStatus::Malformed);
    if (frame.transaction != transaction || frame.unit != unit)
        return Refused(AnswerStatus::NotOurs);
    const std::span<const uint8_t> pdu = frame.pdu;
    if (pdu[0] == (function | 0x80)) {
        if (pdu.size() != 2) return Refused(AnswerStatus::Malformed);
        Answer a;
        a.status = AnswerStatus::Exception;
        a.exception = pdu[1];
        return a;
    }
    if (pdu[0] != function) return Refused(AnswerStatus::NotOurs);
    if (function <= kReadInputRegisters) return ParseReadAnswer(pdu, request);
    return ParseWriteAnswer(pdu, request);
}

std::optional<std::string> FormatValue(const Variable& v, std::span<const uint16_t> values) {
    if (values.size() < Width(v)) return std::nullopt;
    switch (v.form) {
        case Form::Bit:
            return values[0] ? "1" : "0";
        case Form::RegisterBit:
            return ((values[0] >> v.bit) & 1) ? "1" : "0";
        case Form::U16:
            return std::to_string(values[0]);
        case Form::S16:
            return std::to_string(static_cast<int16_t>(values[0]));
        case Form::U32:
        case Form::U32Le:
            return std::to_string(Join(v.form, values[0], values[1]));
        case Form::S32:
        case Form::S32Le:
            return std::to_string(static_cast<int32_t>(Join(v.form, values[0], values[1])));
        case Form::F32:
        case Form::F32Le:
            return Real(std::bit_cast<float>(Join(v.form, values[0], values[1])));
    }
    return std::nullopt;
}

std::optional<std::vector<uint16_t>> EncodeValue(const Variable& v, std::string_view text) {
    if (!IsWritable(v.table)) return std::nullopt;
    if (v.form == Form::Bit || v.form == Form::RegisterBit) {
        std::optional<int64_t> n = ParseInteger(text, INT64_MIN, INT64_MAX);
        if (!n) return std::nullopt;
        return std::vector<uint16_t>{static_cast<uint16_t>(*n != 0 ? 1 : 0)};
    }
    if (IsReal(v.form)) {
        std::optional<uint32_t> bits = ParseSingleBits(text);
        if (!bits) return std::nullopt;
        return Split(v.form, *bits);
    }
    if (Width(v) == 2) {
        std::optional<int64_t> n = ParseInteger(text, INT32_MIN, UINT32_MAX);
        if (!n) return std::nullopt;
        return Split(v.form, static_cast<uint32_t>(*n));
    }
    std::optional<int64_t> n = ParseInteger(text, INT16_MIN, UINT16_MAX);
    if (!n) return std::nullopt;
    return std::vector<uint16_t>{static_cast<uint16_t>(*n)};
}

std::optional<Bytes> WritePdu(const Variable& v, std::span<const uint16_t> values) {
    if (!IsWritable(v.table) || values.size() < Width(v)) return std::nullopt;
    switch (v.form) {
        case Form::Bit:
            return WriteCoilPdu(v.address, values[0] != 0);
        case Form::RegisterBit: {
            const auto mask = static_cast<uint16_t>(1u << v.bit);
            return MaskWritePdu(v.address, static_cast<uint16_t>(~mask), values[0] != 0 ? mask : 0);
        }
        case Form::U16:
        case Form::S16:
            return WriteRegisterPdu(v.address, values[0]);
        default:
            return WriteRegistersPdu(v.address, values.first(2));
    }
}

std::vector<ReadBlock> PlanReads(std::span<const Variable> variables) {
    std::vector<size_t> order(variables.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    // By table, then address: the members of a block follow one another.
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        if (variables[a].table != variables[b].table)
            return variables[a].table < variables[b].table;
        return variables[a].address < variables[b].address;
    });
    std::vector<ReadBlock> blocks;
    uint32_t end = 0;  // one past the last address the current block reads
    for (size_t i : order) {
        const Variable& v = variables[i];
        const uint32_t first = v.address;
        const uint32_t last = first + Width(v);  // one past
        const uint32_t limit = IsBitTable(v.table) ? kMaxReadBits : kMaxReadRegisters;
        if (!blocks.empty()) {
            ReadBlock& b = blocks.back();
            const uint32_t newEnd = std::max(end, last);
            if (b.table == v.table && first <= end && newEnd - b.address <= limit) {
                end = newEnd;
                b.count = static_cast<uint16_t>(end - b.address);
                b.members.push_back(i);
                continue;
            }
        }
        ReadBlock b;
        b.table = v.table;
        b.address = v.address;
        b.count = static_cast<uint16_t>(last - first);
        b.members.push_back(i);
        blocks.push_back(std::move(b));
        end = last;
    }
    return blocks;
}

}  // namespace tsr::modbus
