// Variable names of the Unity / M340 family ("%MW10", "%I 0.1.2", "%MW10.3", ...) parsed into a
// small value: which area, and its numbers.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tsr::unity {

enum class Area {
    InputBit,       // %I rack.module.channel
    OutputBit,      // %Q rack.module.channel
    InputWord,      // %IW rack.module.channel
    OutputWord,     // %QW rack.module.channel
    MemoryBit,      // %M n
    SystemBit,      // %S n
    MemoryWord,     // %MW n
    SystemWord,     // %SW n
    MemoryWordBit,  // %MW n.b: read only
    MemoryDouble,   // %MD n
    MemoryReal,     // %MF n
    NotServed,      // %X, %KW, %KD, %KF, %TM, %KW n.b, %SW n.b, a bare number: recognised only
};

struct Variable {
    Area area = Area::NotServed;
    uint16_t number = 0;  // n, for the memory and system forms
    uint16_t rack = 0;    // the I/O forms
    uint16_t module = 0;
    uint16_t channel = 0;
    uint8_t bit = 0;  // b of %MW n.b, 0 to 15
};

// Parses `name` (any case; blanks around the numbers skipped; characters after the last number
// ignored). Empty when the name has none of the forms, or a number does not fit 16 bits (a bit
// number 0 to 15).
std::optional<Variable> ParseName(std::string_view name);

// True for the I/O forms %I, %Q, %IW, %QW.
bool IsInputOutput(Area area);

}  // namespace tsr::unity
