// The 18-byte record passed to the runtime library's OrvoEntryPoint: nine little-endian 16-bit
// words, cleared before each call. Builders for each request and readers for the answer; pure.
//
//   word:   0        1    2    3          4      5              6           7  8
//   in:     command  2    0    type/0x0100 index  type|bits24-31 value low   0  0
//   out:    status             var status|bit     value low      value high
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "gateways/corvane/items.h"

namespace tsr::corvane {

constexpr size_t kBlockSize = 18;
using BlockBytes = std::array<uint8_t, kBlockSize>;

// Commands in word 0.
enum Command : uint16_t {
    kDirectStart = 0x0B00,   // start a direct read or write (or the status request)
    kDirectResult = 0x0B01,  // ask for the direct read's or write's result
    kListBegin = 0x0D00,     // begin the list of watched variables
    kListAdd = 0x0E00,       // add one variable to the list
    kListExecute = 0x1300,   // execute the list
    kListFetch = 0x0F00,     // fetch the next result of the executed list
};

// Status in word 0 of an answer.
constexpr uint16_t kStatusDone = 0x0000;
constexpr uint16_t kStatusNotReady = 0xFFFF;
// The status a direct read or write ends with when no result came in time.
constexpr uint16_t kStatusTimedOut = 0xFFFE;

struct RuntimeBlock {
    std::array<uint16_t, 9> words{};
    bool operator==(const RuntimeBlock&) const = default;
};

// The words as the 18 bytes the entry point gets, each word little-endian.
BlockBytes EncodeBlock(const RuntimeBlock& block);
// The 18 bytes after the call, read back into words.
RuntimeBlock DecodeBlock(const BlockBytes& bytes);

// A block with `command`, word 1 = 2 and every other word 0.
RuntimeBlock CommandBlock(uint16_t command);
// The status request used as connection test: 0x0B00 with words 3..6 = 0, FFFF, FFFF, FFFF.
RuntimeBlock StatusRequestBlock();
// The start of a direct read: 0x0B00, word 3 the type code, word 4 the index.
RuntimeBlock DirectReadBlock(Variable variable);
// The start of a direct write: 0x0B00, word 3 = 0x0100, word 4 the index, word 5 the type code,
// and by type: bits: the bit command in word 5's high byte (5 for the toggle value -1); T C M:
// word 6 the low 16 bits; F L: word 6 the low 16 bits, word 3's low byte bits 16..23, word 5's
// high byte bits 24..31.
RuntimeBlock DirectWriteBlock(Variable variable, int32_t value);
// One variable for the watched list: 0x0E00, word 3 the type code with its top bit cleared,
// word 4 the index.
RuntimeBlock ListAddBlock(Variable variable);

// The status of an answer (word 0).
inline uint16_t AnswerStatus(const RuntimeBlock& answer) {
    return answer.words[0];
}
// The variable's status in an answer (high byte of word 3).
inline uint8_t VariableStatus(const RuntimeBlock& answer) {
    return answer.words[3] >> 8;
}
// An answer's value as 32 bits: bits 1 when word 3's low byte is 0, else 0; C and M word 5;
// T F L (and unknown types) word 6 x 65536 + word 5.
uint32_t DecodeValue(uint16_t type, const RuntimeBlock& answer);

}  // namespace tsr::corvane
