#include "gateways/unity/names.h"

#include <array>
#include <cctype>
#include <string>

namespace tsr::unity {
namespace {

// One prefix of the grammar, in the order in which they are tried.
struct Form {
    const char* prefix;
    int numbers;  // 3: rack.module.channel, 2: n.b, 1: n
    Area area;
};

constexpr std::array<Form, 18> kForms = {{
    {"%I", 3, Area::InputBit},
    {"%Q", 3, Area::OutputBit},
    {"%M", 1, Area::MemoryBit},
    {"%S", 1, Area::SystemBit},
    {"%X", 1, Area::NotServed},
    {"%MW", 2, Area::MemoryWordBit},
    {"%KW", 2, Area::NotServed},
    {"%SW", 2, Area::NotServed},
    {"%MW", 1, Area::MemoryWord},
    {"%KW", 1, Area::NotServed},
    {"%SW", 1, Area::SystemWord},
    {"%IW", 3, Area::InputWord},
    {"%QW", 3, Area::OutputWord},
    {"%TM", 1, Area::NotServed},
    {"%MD", 1, Area::MemoryDouble},
    {"%KD", 1, Area::NotServed},
    {"%MF", 1, Area::MemoryReal},
    {"%KF", 1, Area::NotServed},
}};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Reads one decimal number at `at`, blanks before and after it skipped. False when no digit
// is there or the number passes 65535.
bool ReadNumber(std::string_view text, size_t& at, uint16_t& value) {
    while (at < text.size() && IsBlank(text[at])) ++at;
    if (at >= text.size() || !std::isdigit(static_cast<unsigned char>(text[at]))) return false;
    uint32_t v = 0;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) {
        v = v * 10 + static_cast<uint32_t>(text[at] - '0');
        if (v > 0xFFFF) return false;
        ++at;
    }
    while (at < text.size() && IsBlank(text[at])) ++at;
    value = static_cast<uint16_t>(v);
    return true;
}

// Reads `count` numbers separated by "." from `at`.
bool ReadNumbers(std::string_view text, size_t at, int count, uint16_t out[3]) {
    for (int i = 0; i < count; ++i) {
        if (i > 0) {
            if (at >= text.size() || text[at] != '.') return false;
            ++at;
        }
        if (!ReadNumber(text, at, out[i])) return false;
    }
    return true;
}

std::optional<Variable> Take(const Form& form, const uint16_t numbers[3]) {
    Variable v;
    v.area = form.area;
    if (form.numbers == 3) {
        v.rack = numbers[0];
        v.module = numbers[1];
        v.channel = numbers[2];
        return v;
    }
    v.number = numbers[0];
    if (form.numbers == 2) {
        if (numbers[1] > 15) return std::nullopt;  // a word has bits 0 to 15
        v.bit = static_cast<uint8_t>(numbers[1]);
    }
    return v;
}

}  // namespace

std::optional<Variable> ParseName(std::string_view name) {
    std::string upper(name);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const Form& form : kForms) {
        const std::string_view prefix(form.prefix);
        if (upper.compare(0, prefix.size(), prefix) != 0) continue;
        uint16_t numbers[3] = {0, 0, 0};
        if (!ReadNumbers(upper, prefix.size(), form.numbers, numbers)) continue;
        return Take(form, numbers);
    }
    size_t at = 0;
    uint16_t bare = 0;
    if (ReadNumber(upper, at, bare)) return Variable{};  // a bare number: recognised only
    return std::nullopt;
}

bool IsInputOutput(Area area) {
    return area == Area::InputBit || area == Area::OutputBit || area == Area::InputWord ||
           area == Area::OutputWord;
}

}  // namespace tsr::unity
