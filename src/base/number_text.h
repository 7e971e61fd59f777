// Numbers as the pages and the users write them: a value text of a write item, a port.
#pragma once

#include <bit>
#include <charconv>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tsr {

// `s` without the blanks and tabs around it.
inline std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// A whole decimal integer ("+" or "-" allowed, blanks around) within [low, high]; nullopt for
// anything else.
inline std::optional<int64_t> ParseInteger(std::string_view text, int64_t low, int64_t high) {
    text = TrimBlanks(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    int64_t v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    if (v < low || v > high) return std::nullopt;
    return v;
}

// A whole decimal number taken as an IEEE single: its 32 bits; nullopt when it is no number.
inline std::optional<uint32_t> ParseSingleBits(std::string_view text) {
    text = TrimBlanks(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    float f = 0;
    auto [end, ec] =
        std::from_chars(text.data(), text.data() + text.size(), f, std::chars_format::general);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return std::bit_cast<uint32_t>(f);
}

}  // namespace tsr
