// Variable names of the Modbus TCP family ("hr0", "ir12:f32", "co3", "hr7.15") parsed into a
// small value: which table, the 0-based protocol address, and how its registers are read.
//
//   coN  coil               read: function 1   write: function 5
//   diN  discrete input     read: function 2   (not written)
//   hrN  holding register   read: function 3   write: function 6, or 16 for 32-bit forms
//   irN  input register     read: function 4   (not written)
//   hrN.B   bit B (0 to 15) of a holding register: read with function 3, written with 22
//   :u16 (default) :s16 :u32 :s32 :f32  (two registers, high word first)
//   :u32le :s32le :f32le                 (two registers, low word first)
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tsr::modbus {

enum class Table { Coil, DiscreteInput, HoldingRegister, InputRegister };

// How the value is taken from the table.
enum class Form {
    Bit,  // a coil or a discrete input
    U16,  // one register, unsigned
    S16,  // one register, signed
    U32,  // two registers, high word first
    S32,
    F32,    // an IEEE single
    U32Le,  // two registers, low word first
    S32Le,
    F32Le,
    RegisterBit,  // bit `bit` of one holding register
};

struct Variable {
    Table table = Table::HoldingRegister;
    uint16_t address = 0;  // the 0-based protocol address of the first bit or register
    Form form = Form::U16;
    uint8_t bit = 0;  // RegisterBit only: 0 to 15
};

// Parses `name` (any case, no blanks): a table prefix, a decimal address 0 to 65535, then for
// registers either ":type" or (holding registers only) ".B". Empty for anything else, and for a
// two-register form at address 65535.
std::optional<Variable> ParseName(std::string_view name);

// True for coils and discrete inputs (read with functions 1 and 2).
bool IsBitTable(Table table);
// True for the tables a page may write: coils and holding registers.
bool IsWritable(Table table);
// The number of bits or registers the variable takes: 2 for the 32-bit forms, else 1.
uint16_t Width(const Variable& v);

// An item of a page's request: the gateway id it names, then the variable, "mb1/hr0:f32".
// The part before the last '/' is the gateway (empty when there is no '/'), the rest the
// variable, with "=value" kept for a write.
struct ItemParts {
    std::string_view gateway;
    std::string_view variable;
};
ItemParts SplitItem(std::string_view item);

}  // namespace tsr::modbus
