#include "gateways/kx/values.h"

#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <limits>

#include "base/text.h"
#include "gateways/kx/block.h"

namespace tsr::kx {
namespace {

// The decimal number at the start of `text` as the C atof reads it (leading blanks, a sign, then
// the longest number); 0 when there is none. Independent of the locale.
double ReadDecimal(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) return 0;  // a second sign
    double v = 0;
    const char* first = text.data() + i;
    const std::from_chars_result r = std::from_chars(first, text.data() + text.size(), v);
    if (r.ec == std::errc::result_out_of_range) {
        // Beyond a double's range: as strtod, zero for a negative exponent, else infinity.
        const std::string_view number(first, static_cast<size_t>(r.ptr - first));
        const size_t e = number.find_first_of("eE");
        const bool tiny =
            e != std::string_view::npos && e + 1 < number.size() && number[e + 1] == '-';
        v = tiny ? 0.0 : HUGE_VAL;
    } else if (r.ec != std::errc()) {
        v = 0;
    }
    return negative ? -v : v;
}

// `v` rounded to a single as IEEE rounding does, without the undefined conversion of a value
// beyond the single's range: beyond the largest single by half a unit or more is infinity.
float ToSingle(double v) {
    if (!(std::fabs(v) > FLT_MAX)) return static_cast<float>(v);  // in range, or NaN
    const double halfUnit = std::ldexp(1.0, 103);                 // half a unit at FLT_MAX
    const float magnitude =
        std::fabs(v) >= FLT_MAX + halfUnit ? std::numeric_limits<float>::infinity() : FLT_MAX;
    return std::signbit(v) ? -magnitude : magnitude;
}

// "%g" of `v`: six significant digits, the shorter of fixed and exponent form, as printf writes
// it in the C locale.
std::string FormatG(double v) {
    char buf[64];
    const std::to_chars_result r =
        std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 6);
    return std::string(buf, r.ptr);
}

}  // namespace

std::string KxName(std::string_view item) {
    std::string name(item);
    const size_t last = name.rfind('$');
    if (last != std::string::npos) name[last] = '#';
    return name;
}

WriteParts SplitWriteItem(std::string_view item) {
    const size_t eq = item.find('=');
    if (eq == std::string_view::npos) return {item, {}};
    return {item.substr(0, eq), item.substr(eq + 1)};
}

ValueHalves EncodeValue(uint16_t type, std::string_view text) {
    if (type == kTypeSingle) {
        return {std::bit_cast<uint32_t>(ToSingle(ReadDecimal(text))), 0};
    }
    if (type == kTypeDouble) {
        const uint64_t bits = std::bit_cast<uint64_t>(ReadDecimal(text));
        return {static_cast<uint32_t>(bits), static_cast<uint32_t>(bits >> 32)};
    }
    const int v = AtoI(text);
    return {static_cast<uint32_t>(v), v < 0 ? 0xFFFFFFFFu : 0u};
}

std::string FormatValue(uint16_t type, ValueHalves value) {
    if (type == kTypeSingle) return FormatG(std::bit_cast<float>(value.low));
    if (type == kTypeDouble) {
        return FormatG(std::bit_cast<double>(static_cast<uint64_t>(value.high) << 32 | value.low));
    }
    return std::to_string(static_cast<int32_t>(value.low));
}

}  // namespace tsr::kx
