// Small conversions shared by the model and the generator.
#pragma once

#include <climits>
#include <cstdint>
#include <string>
#include <string_view>

namespace tsr {

// Reads an int the way the C `atoi` does: optional leading white space, an optional sign, then
// decimal digits up to the first other character. Empty or non-numeric text reads as 0; values
// beyond the int range saturate instead of overflowing.
inline int AtoI(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    long long v = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        v = v * 10 + (s[i] - '0');
        if (v > static_cast<long long>(INT_MAX) + 1) {
            v = static_cast<long long>(INT_MAX) + 1;
            break;
        }
    }
    if (negative) return static_cast<int>(-v);
    return v > INT_MAX ? INT_MAX : static_cast<int>(v);
}

// Decimal text of an unsigned value ("%u").
inline std::string UToA(unsigned v) { return std::to_string(v); }

}  // namespace tsr
