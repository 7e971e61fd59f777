// The S7 variable names of the /S7 route ("%MW10", "%I0.3", "%MF20", ...), the values the page
// gets for the 4 bytes read at a variable, and the bytes a write item puts there.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tsr::s7 {

enum class S7Form {
    Bit,         // %I, %Q, %M byte.bit: one bit, "1" or "0"
    Word,        // %IW, %QW, %MW: 16 bits big-endian, unsigned
    DoubleWord,  // %ID, %QD, %MD: 32 bits big-endian, signed
    Real,        // %MF: IEEE single, big-endian
};

// The highest byte number a name may give: the bit address (byte x 8) travels in 24 bits.
constexpr uint32_t kMaxByteNumber = 65535;
// The highest bit number of a bit form: the bits of the 4 bytes read (0..7 in the addressed byte).
constexpr uint32_t kMaxBitNumber = 31;

struct S7Variable {
    uint8_t area = 0;       // kAreaInputs, kAreaOutputs or kAreaFlags
    S7Form form = S7Form::Word;
    uint32_t byte = 0;      // byte number
    uint32_t bit = 0;       // bit forms: bit number in the 4 bytes from `byte`
    // The address field of a read at the variable's byte: byte number x 8.
    uint32_t BitAddress() const { return byte * 8; }
};

// Parses a variable name: "%" and the form's letters exactly as in the table (case-sensitive),
// the byte number, for the bit forms "." and the bit number; blanks are allowed around the
// numbers, nothing may follow the last. Empty for anything else (unknown letters, no number, a
// byte or bit number out of range, trailing text).
std::optional<S7Variable> ParseS7Name(std::string_view name);

// The text the page gets for `variable` from the 4 bytes read at its byte: bit forms "1"/"0" (the
// bytes taken as a little-endian number), W and D forms "%d", %MF "%g".
std::string FormatS7Value(const S7Variable& variable, std::span<const uint8_t, 4> bytes);

// The value of a write item's text: for %MF the single-precision bits of the decimal number, for
// the others the decimal integer (-2^31 .. 2^32-1) as 32 bits. Empty when the text is not such a
// number (blanks around it allowed).
std::optional<uint32_t> ParseS7WriteValue(const S7Variable& variable, std::string_view text);

// The bytes a W, D or F write puts at the variable's byte: the low 16 bits, or the 32 bits,
// big-endian. Empty for the bit forms (they go through ChangeBit).
std::vector<uint8_t> S7WriteBytes(const S7Variable& variable, uint32_t value);

// The byte a bit form reads and writes back: the variable's byte plus the whole bytes of the
// bit number; the bit within it is `bit % 8`.
uint32_t BitWriteByte(const S7Variable& variable);

// `current` with bit `bit` (0..7) cleared for value 0, set for 1, inverted for 2; empty for any
// other value (nothing is to be written).
std::optional<uint8_t> ChangeBit(uint8_t current, uint32_t bit, uint32_t value);

}  // namespace tsr::s7
