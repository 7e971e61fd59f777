// Fuzzes the reading of what a Modbus TCP device sends back: the first two input bytes choose
// the request that was sent (its function and count), the rest is what arrived on the
// connection. The bytes are walked frame by frame as the family does. Every frame the parser
// accepts must lie inside the input and agree with its own length field; every prefix of it must
// need more; an answer accepted for a read must carry exactly the values asked for, and their
// texts must be made without fault.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "gateways/modbus/frames.h"

namespace {

using namespace tsr::modbus;

void Check(bool condition) {
    if (!condition) abort();
}

// The request PDUs the family sends, one chosen by `selector`, for `count` values.
Bytes RequestOf(uint8_t selector, uint8_t count) {
    const uint16_t n = static_cast<uint16_t>(1 + count % kMaxReadRegisters);
    switch (selector % 8) {
        case 0:
            return ReadPdu(kReadCoils, 0, n);
        case 1:
            return ReadPdu(kReadDiscreteInputs, 10, static_cast<uint16_t>(n * 16));
        case 2:
            return ReadPdu(kReadHoldingRegisters, 0, n);
        case 3:
            return ReadPdu(kReadInputRegisters, 65535 - n + 1, n);
        case 4:
            return WriteCoilPdu(3, true);
        case 5:
            return WriteRegisterPdu(3, 0x1234);
        case 6:
            return WriteRegistersPdu(3, std::vector<uint16_t>{1, 2});
        default:
            return MaskWritePdu(3, 0xFFFE, 0x0001);
    }
}

void CheckAnswer(const Frame& f, const Bytes& request) {
    const Answer a = ParseAnswer(f, f.transaction, f.unit, request);
    // The same frame as another transaction's or unit's answer is never taken.
    Check(ParseAnswer(f, static_cast<uint16_t>(f.transaction + 1), f.unit, request).status ==
          AnswerStatus::NotOurs);
    Check(ParseAnswer(f, f.transaction, static_cast<uint8_t>(f.unit + 1), request).status ==
          AnswerStatus::NotOurs);
    if (a.status != AnswerStatus::Ok) {
        Check(a.registers.empty() && a.bits.empty());
        return;
    }
    const uint16_t count = static_cast<uint16_t>((request[3] << 8) | request[4]);
    if (request[0] == kReadCoils || request[0] == kReadDiscreteInputs) {
        Check(a.bits.size() == count);
        return;
    }
    if (request[0] != kReadHoldingRegisters && request[0] != kReadInputRegisters) {
        Check(a.registers.empty() && a.bits.empty());
        return;
    }
    Check(a.registers.size() == count);
    for (const char* name :
         {"hr0", "hr0:s16", "hr0:u32", "hr0:s32le", "hr0:f32", "hr0:f32le", "hr0.15"}) {
        const std::optional<Variable> v = ParseName(name);
        Check(v.has_value());
        const std::optional<std::string> text = FormatValue(*v, a.registers);
        Check(text.has_value() == (a.registers.size() >= Width(*v)));
        if (text) Check(!text->empty() && text->size() < 48);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const Bytes request = RequestOf(data[0], data[1]);
    // The received bytes in an allocation of their own size: a read past them is caught.
    const size_t received = size - 2;
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[received ? received : 1]);
    if (received) std::memcpy(bytes.get(), data + 2, received);
    std::span<const uint8_t> rest(bytes.get(), received);
    for (int frames = 0; frames < 64; ++frames) {
        const Frame f = ParseFrame(rest);
        if (f.status != FrameStatus::Done) {
            Check(f.pdu.empty() && f.consumed == 0);
            Check((f.status == FrameStatus::Malformed) == (f.error != FrameError::None));
            return 0;
        }
        Check(f.consumed >= kHeaderSize + 1 && f.consumed <= rest.size() &&
              f.consumed <= kMaxFrame);
        Check(f.consumed == 6u + ((rest[4] << 8) | rest[5]));
        Check(f.pdu.data() == rest.data() + kHeaderSize &&
              f.pdu.size() == f.consumed - kHeaderSize);
        for (size_t n = 0; n < f.consumed; n += 7)
            Check(ParseFrame(rest.first(n)).status == FrameStatus::NeedMore);
        CheckAnswer(f, request);
        rest = rest.subspan(f.consumed);
    }
    return 0;
}
