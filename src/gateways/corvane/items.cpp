#include "gateways/corvane/items.h"

#include <locale.h>

#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "base/text.h"

namespace tsr::corvane {
namespace {

constexpr std::string_view kFlags = "-+ #0";

int LetterType(char letter) {
    switch (std::toupper(static_cast<unsigned char>(letter))) {
        case 'I':
            return kInput;
        case 'O':
            return kOutput;
        case 'B':
        case 'U':
            return kBit;
        case 'T':
            return kTimer;
        case 'C':
            return kCounter;
        case 'M':
            return kWord;
        case 'F':
            return kFloat;
        case 'L':
            return kLong;
        default:
            return -1;
    }
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads at most two decimal digits at `text[*at]`; -1 when there are more than two.
int ReadSmallNumber(std::string_view text, size_t* at) {
    int value = 0;
    int digits = 0;
    while (*at < text.size() && IsDigit(text[*at])) {
        if (++digits > 2) return -1;
        value = value * 10 + (text[*at] - '0');
        ++*at;
    }
    return value;
}

bool FitsConversion(char conversion, bool floating) {
    const std::string_view allowed = floating ? "feEgG" : "diuxXo";
    return allowed.find(conversion) != std::string_view::npos;
}

bool FlagsFitConversion(const std::string& flags, char conversion) {
    const bool alternate = flags.find('#') != std::string::npos;
    if (alternate && (conversion == 'd' || conversion == 'i' || conversion == 'u')) return false;
    const bool isUnsigned =
        conversion == 'u' || conversion == 'x' || conversion == 'X' || conversion == 'o';
    if (isUnsigned &&
        (flags.find('+') != std::string::npos || flags.find(' ') != std::string::npos))
        return false;
    return true;
}

// Parses the conversion (flags, width, precision, letter) after a "%" at `text[*at]`.
bool ParseConversion(std::string_view text, size_t* at, bool floating, ValueFormat* format) {
    while (*at < text.size() && kFlags.find(text[*at]) != std::string_view::npos) {
        if (format->flags.find(text[*at]) != std::string::npos) return false;
        format->flags += text[(*at)++];
    }
    if (*at < text.size() && IsDigit(text[*at])) {
        format->width = ReadSmallNumber(text, at);
        if (format->width < 0 || format->width > kMaxWidth) return false;
    }
    if (*at < text.size() && text[*at] == '.') {
        ++*at;
        format->precision = ReadSmallNumber(text, at);
        if (format->precision < 0 || format->precision > kMaxPrecision) return false;
    }
    if (*at >= text.size()) return false;
    format->conversion = text[(*at)++];
    return FitsConversion(format->conversion, floating) &&
           FlagsFitConversion(format->flags, format->conversion);
}

// The C locale for printing, whatever locale the program runs in, so "%f" always writes ".".
locale_t CLocale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return c;
}

// The printf conversion rebuilt from the checked fields, never copied from the page's text.
std::string ConversionText(const ValueFormat& format) {
    std::string text = "%" + format.flags;
    if (format.width >= 0) text += std::to_string(format.width);
    if (format.precision >= 0) text += "." + std::to_string(format.precision);
    text += format.conversion;
    return text;
}

template <typename T>
std::string Print(const ValueFormat& format, T value) {
    const std::string conversion = ConversionText(format);
    // Widest output: a width of 64, or a float up to 3.4e38 with 32 decimals: far below 256.
    char buffer[256];
    const locale_t previous = CLocale() ? uselocale(CLocale()) : static_cast<locale_t>(0);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    const int n = std::snprintf(buffer, sizeof(buffer), conversion.c_str(), value);
#pragma GCC diagnostic pop
    if (previous) uselocale(previous);
    if (n < 0) return format.prefix + format.suffix;
    const size_t length =
        static_cast<size_t>(n) < sizeof(buffer) ? static_cast<size_t>(n) : sizeof(buffer) - 1;
    return format.prefix + std::string(buffer, length) + format.suffix;
}

std::string BadSyntax(std::string_view text) {
    return "[error : bad syntax : " + std::string(text) + "]";
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
}

// The decimal number at the start of `text` as a float, as the C atof reads it; 0 when there is
// none.
float ReadFloat(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    if (i < text.size() && text[i] == '+' && !(i + 1 < text.size() && text[i + 1] == '-')) ++i;
    float value = 0;
    const auto [end, error] = std::from_chars(text.data() + i, text.data() + text.size(), value);
    (void)end;
    return error == std::errc() ? value : 0.0f;
}

}  // namespace

bool IsBitType(uint16_t type) {
    return type == kInput || type == kOutput || type == kBit;
}

std::optional<Variable> ParseVariableName(std::string_view name) {
    if (name.size() < 2) return std::nullopt;
    const int type = LetterType(name[0]);
    if (type < 0) return std::nullopt;
    int index = 0;
    for (size_t i = 1; i < name.size(); ++i) {
        if (!IsDigit(name[i])) return std::nullopt;
        index = index * 10 + (name[i] - '0');
        if (index > kMaxIndex) return std::nullopt;
    }
    return Variable{static_cast<uint16_t>(type), static_cast<uint16_t>(index)};
}

std::string VariableName(char letter, int index) {
    return std::string(1, letter) + std::to_string(index);
}

std::optional<ValueFormat> ParseValueFormat(std::string_view text, bool floating) {
    if (text.size() > kMaxFormatLength) return std::nullopt;
    ValueFormat format;
    bool converted = false;
    std::string* literal = &format.prefix;
    size_t at = 0;
    while (at < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        if (c < 0x20 || c == 0x7F) return std::nullopt;
        if (c != '%') {
            literal->push_back(static_cast<char>(c));
            ++at;
            continue;
        }
        if (at + 1 < text.size() && text[at + 1] == '%') {
            literal->push_back('%');
            at += 2;
            continue;
        }
        if (converted) return std::nullopt;
        converted = true;
        ++at;
        if (!ParseConversion(text, &at, floating, &format)) return std::nullopt;
        literal = &format.suffix;
    }
    if (!converted) return std::nullopt;
    return format;
}

std::string FormatInteger(const ValueFormat& format, int32_t value) {
    const char c = format.conversion;
    if (c == 'd' || c == 'i') return Print(format, static_cast<int>(value));
    return Print(format, static_cast<unsigned>(static_cast<uint32_t>(value)));
}

std::string FormatFloat(const ValueFormat& format, double value) {
    return Print(format, value);
}

ReadItemParts SplitReadItem(std::string_view item) {
    ReadItemParts parts;
    parts.name = item;
    const size_t open = item.find('(');
    if (open != std::string_view::npos) {
        const size_t close = item.find(')', open + 1);
        if (close != std::string_view::npos) {
            parts.hasFormat = true;
            parts.format = item.substr(open + 1, close - open - 1);
            parts.name = item.substr(0, open);
        }
    }
    const size_t bracket = parts.name.find('[');
    if (bracket != std::string_view::npos) {
        const size_t end = parts.name.find(']', bracket + 1);
        if (end != std::string_view::npos) {
            parts.hasCount = true;
            parts.countText = parts.name.substr(bracket + 1, end - bracket - 1);
            parts.name = parts.name.substr(0, bracket);
        }
    }
    return parts;
}

std::optional<int> ParseCount(std::string_view text) {
    if (text.empty() || text.size() > 3) return std::nullopt;
    int count = 0;
    for (char c : text) {
        if (!IsDigit(c)) return std::nullopt;
        count = count * 10 + (c - '0');
    }
    if (count < 1 || count > kMaxCount) return std::nullopt;
    return count;
}

ReadItemResult ParseReadItem(std::string_view item) {
    const ReadItemParts parts = SplitReadItem(item);
    const std::optional<Variable> variable = ParseVariableName(parts.name);
    if (!variable) return {std::nullopt, BadSyntax(parts.name)};
    ReadRequest request;
    request.first = *variable;
    request.letter = parts.name[0];
    if (parts.hasCount) {
        const std::optional<int> count = ParseCount(parts.countText);
        if (!count || variable->index + *count - 1 > kMaxIndex)
            return {std::nullopt, BadSyntax(item)};
        request.count = *count;
    }
    if (parts.hasFormat) {
        request.format = ParseValueFormat(parts.format, variable->type == kFloat);
        if (!request.format) return {std::nullopt, BadSyntax(item)};
    }
    return {request, {}};
}

std::string FormatValue(uint16_t type, uint32_t value, const std::optional<ValueFormat>& format) {
    if (type == kFloat) {
        const uint32_t swapped = (value << 16) | (value >> 16);
        float f;
        std::memcpy(&f, &swapped, sizeof(f));
        static const ValueFormat kDefault{"", "", "", -1, -1, 'f'};
        return FormatFloat(format ? *format : kDefault, f);
    }
    static const ValueFormat kDefault{"", "", "", -1, -1, 'd'};
    int32_t number = static_cast<int32_t>(value);
    if (type == kCounter || type == kWord) number = static_cast<int16_t>(value & 0xFFFF);
    return FormatInteger(format ? *format : kDefault, number);
}

std::optional<WriteRequest> ParseWriteItem(std::string_view item) {
    const size_t equals = item.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    const std::optional<Variable> variable = ParseVariableName(item.substr(0, equals));
    if (!variable) return std::nullopt;
    const std::string_view text = item.substr(equals + 1);
    WriteRequest request{*variable, 0};
    if (variable->type == kFloat) {
        const float f = ReadFloat(text);
        uint32_t bits;
        std::memcpy(&bits, &f, sizeof(bits));
        request.value = static_cast<int32_t>(bits);
        return request;
    }
    if (!IsBitType(variable->type)) {
        request.value = AtoI(text);
        return request;
    }
    if (text.starts_with("/"))
        request.value = -1;
    else if (StartsWithNoCase(text, "F0"))
        request.value = 2;
    else if (StartsWithNoCase(text, "F1"))
        request.value = 3;
    else if (StartsWithNoCase(text, "UF"))
        request.value = 4;
    else
        request.value = AtoI(text);
    return request;
}

}  // namespace tsr::corvane
