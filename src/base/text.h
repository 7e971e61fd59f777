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

// The value of a hexadecimal digit, or -1.
inline int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Decimal text of an unsigned value ("%u").
inline std::string UToA(unsigned v) { return std::to_string(v); }

// `text` with the bytes a terminal or a log line would act on written out as "\xNN": the C0
// controls (line breaks, ESC, BEL...), DEL, and the C1 controls in their UTF-8 form (as
// "\u00NN"). Network bytes go through it before they reach the operator's terminal or log pane,
// so a client can neither retitle or clear the terminal nor fake a line.
inline std::string EscapeControls(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else if (c == 0xC2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            const unsigned char c1 = static_cast<unsigned char>(text[++i]);
            out += "\\u00";
            out += kHex[c1 >> 4];
            out += kHex[c1 & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace tsr
