#include "gateways/modbus/names.h"

#include <array>
#include <cctype>

namespace tsr::modbus {
namespace {

struct Prefix {
    const char* text;
    Table table;
};

constexpr std::array<Prefix, 4> kPrefixes = {{
    {"co", Table::Coil},
    {"di", Table::DiscreteInput},
    {"hr", Table::HoldingRegister},
    {"ir", Table::InputRegister},
}};

struct TypeName {
    const char* text;
    Form form;
};

constexpr std::array<TypeName, 8> kTypes = {{
    {"u16", Form::U16},
    {"s16", Form::S16},
    {"u32", Form::U32},
    {"s32", Form::S32},
    {"f32", Form::F32},
    {"u32le", Form::U32Le},
    {"s32le", Form::S32Le},
    {"f32le", Form::F32Le},
}};

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads the decimal number at `at` (at least one digit) that does not pass `limit`; `at` ends
// after its last digit. False when there is no digit or the number passes the limit.
bool ReadNumber(std::string_view text, size_t& at, uint32_t limit, uint32_t& value) {
    if (at >= text.size() || !IsDigit(text[at])) return false;
    uint32_t v = 0;
    while (at < text.size() && IsDigit(text[at])) {
        v = v * 10 + static_cast<uint32_t>(text[at] - '0');
        if (v > limit) return false;
        ++at;
    }
    value = v;
    return true;
}

std::optional<Form> ParseType(std::string_view text) {
    for (const TypeName& t : kTypes)
        if (EqualNoCase(text, t.text)) return t.form;
    return std::nullopt;
}

}  // namespace

bool IsBitTable(Table table) {
    return table == Table::Coil || table == Table::DiscreteInput;
}

bool IsWritable(Table table) {
    return table == Table::Coil || table == Table::HoldingRegister;
}

uint16_t Width(const Variable& v) {
    switch (v.form) {
        case Form::U32:
        case Form::S32:
        case Form::F32:
        case Form::U32Le:
        case Form::S32Le:
        case Form::F32Le:
            return 2;
        default:
            return 1;
    }
}

std::optional<Variable> ParseName(std::string_view name) {
    if (name.size() < 3) return std::nullopt;
    Variable v;
    bool known = false;
    for (const Prefix& p : kPrefixes) {
        if (!EqualNoCase(name.substr(0, 2), p.text)) continue;
        v.table = p.table;
        known = true;
        break;
    }
    if (!known) return std::nullopt;
    size_t at = 2;
    uint32_t address = 0;
    if (!ReadNumber(name, at, 0xFFFF, address)) return std::nullopt;
    v.address = static_cast<uint16_t>(address);
    v.form = IsBitTable(v.table) ? Form::Bit : Form::U16;
    if (at == name.size()) return v;
    if (IsBitTable(v.table)) return std::nullopt;  // a bit has no type and no bit number
    if (name[at] == '.') {
        if (v.table != Table::HoldingRegister) return std::nullopt;
        ++at;
        uint32_t bit = 0;
        if (!ReadNumber(name, at, 15, bit) || at != name.size()) return std::nullopt;
        v.form = Form::RegisterBit;
        v.bit = static_cast<uint8_t>(bit);
        return v;
    }
    if (name[at] != ':') return std::nullopt;
    std::optional<Form> form = ParseType(name.substr(at + 1));
    if (!form) return std::nullopt;
    v.form = *form;
    if (Width(v) == 2 && v.address == 0xFFFF) return std::nullopt;  // its second register
    return v;
}

ItemParts SplitItem(std::string_view item) {
    // A write's value may hold any character: the gateway is looked for before the '='.
    const size_t eq = item.find('=');
    const std::string_view name = item.substr(0, eq);
    const size_t slash = name.rfind('/');
    if (slash == std::string_view::npos) return {{}, item};
    return {item.substr(0, slash), item.substr(slash + 1)};
}

}  // namespace tsr::modbus
