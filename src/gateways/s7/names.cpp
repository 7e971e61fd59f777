#include "gateways/s7/names.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "gateways/s7/byte_order.h"
#include "gateways/s7/s7_frames.h"

namespace tsr::s7 {

namespace {

struct NameRow {
    std::string_view letters;
    uint8_t area;
    S7Form form;
};

constexpr NameRow kRows[] = {
    {"%Q", kAreaOutputs, S7Form::Bit},  {"%QW", kAreaOutputs, S7Form::Word},
    {"%QD", kAreaOutputs, S7Form::DoubleWord},
    {"%I", kAreaInputs, S7Form::Bit},   {"%IW", kAreaInputs, S7Form::Word},
    {"%ID", kAreaInputs, S7Form::DoubleWord},
    {"%M", kAreaFlags, S7Form::Bit},    {"%MW", kAreaFlags, S7Form::Word},
    {"%MD", kAreaFlags, S7Form::DoubleWord}, {"%MF", kAreaFlags, S7Form::Real},
};

// The letters before the first number are at most this long.
constexpr size_t kMaxLetters = 9;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

void SkipBlanks(std::string_view text, size_t* at) {
    while (*at < text.size() && IsBlank(text[*at])) ++*at;
}

std::string_view TrimTrailingBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    return TrimTrailingBlanks(text);
}

// Reads the decimal number at `*at` (at least one digit, at most `limit`), moving past it.
bool ReadNumber(std::string_view text, size_t* at, uint32_t limit, uint32_t* value) {
    const char* first = text.data() + *at;
    const char* last = text.data() + text.size();
    if (first == last || !IsDigit(*first)) return false;
    uint64_t v = 0;
    auto [end, ec] = std::from_chars(first, last, v);
    if (ec != std::errc() || v > limit) return false;
    *at += static_cast<size_t>(end - first);
    *value = static_cast<uint32_t>(v);
    return true;
}

const NameRow* FindRow(std::string_view letters) {
    for (const NameRow& row : kRows) {
        if (row.letters == letters) return &row;
    }
    return nullptr;
}

std::string Decimal(long long value) { return std::to_string(value); }

}  // namespace

std::optional<S7Variable> ParseS7Name(std::string_view name) {
    size_t at = 0;
    while (at < name.size() && !IsDigit(name[at])) ++at;
    const std::string_view letters = TrimTrailingBlanks(name.substr(0, at));
    if (letters.size() > kMaxLetters) return std::nullopt;
    const NameRow* row = FindRow(letters);
    if (!row) return std::nullopt;
    S7Variable v;
    v.area = row->area;
    v.form = row->form;
    if (!ReadNumber(name, &at, kMaxByteNumber, &v.byte)) return std::nullopt;
    SkipBlanks(name, &at);
    if (v.form == S7Form::Bit) {
        if (at >= name.size() || name[at] != '.') return std::nullopt;
        ++at;
        SkipBlanks(name, &at);
        if (!ReadNumber(name, &at, kMaxBitNumber, &v.bit)) return std::nullopt;
        SkipBlanks(name, &at);
    }
    if (at != name.size()) return std::nullopt;
    return v;
}

std::string FormatS7Value(const S7Variable& variable, std::span<const uint8_t, 4> bytes) {
    switch (variable.form) {
        case S7Form::Bit: return (get_le32(bytes, 0) >> variable.bit) & 1 ? "1" : "0";
        case S7Form::Word: return Decimal(get_be16(bytes, 0));
        case S7Form::DoubleWord: return Decimal(static_cast<int32_t>(get_be32(bytes, 0)));
        case S7Form::Real: {
            char text[32];
            std::snprintf(text, sizeof text, "%g",
                          static_cast<double>(std::bit_cast<float>(get_be32(bytes, 0))));
            return text;
        }
    }
    return {};
}

std::optional<uint32_t> ParseS7WriteValue(const S7Variable& variable, std::string_view text) {
    text = TrimBlanks(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    const char* last = text.data() + text.size();
    if (variable.form == S7Form::Real) {
        float f = 0;
        auto [end, ec] = std::from_chars(text.data(), last, f);
        if (ec != std::errc() || end != last || !std::isfinite(f)) return std::nullopt;
        return std::bit_cast<uint32_t>(f);
    }
    long long v = 0;
    auto [end, ec] = std::from_chars(text.data(), last, v);
    if (ec != std::errc() || end != last) return std::nullopt;
    if (v < -2147483648LL || v > 4294967295LL) return std::nullopt;
    return static_cast<uint32_t>(v);
}

std::vector<uint8_t> S7WriteBytes(const S7Variable& variable, uint32_t value) {
    std::vector<uint8_t> out;
    if (variable.form == S7Form::Word) put_be16(out, static_cast<uint16_t>(value));
    if (variable.form == S7Form::DoubleWord || variable.form == S7Form::Real) put_be32(out, value);
    return out;
}

uint32_t BitWriteByte(const S7Variable& variable) { return variable.byte + variable.bit / 8; }

std::optional<uint8_t> ChangeBit(uint8_t current, uint32_t bit, uint32_t value) {
    const uint8_t mask = static_cast<uint8_t>(1u << (bit & 7));
    switch (value) {
        case 0: return static_cast<uint8_t>(current & ~mask);
        case 1: return static_cast<uint8_t>(current | mask);
        case 2: return static_cast<uint8_t>(current ^ mask);
        default: return std::nullopt;
    }
}

}  // namespace tsr::s7
