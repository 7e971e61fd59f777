// The KX family's items as the pages send them and the values as the block carries them: the
// variable name in the KX program's own syntax, and a value's two 32-bit halves by type. Pure
// functions, no block access.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tsr::kx {

// A value as a record carries it: the low and the high 32 bits.
struct ValueHalves {
    uint32_t low = 0;
    uint32_t high = 0;
};

// A write item "name=value" cut at its first "=".
struct WriteParts {
    std::string_view name;
    std::string_view value;
};

// The name the KX program gets: the last "$" of `item` becomes "#" (a "#" cannot travel in the
// page's address). A name without "$" is returned unchanged; an empty one stays empty.
std::string KxName(std::string_view item);

// Cuts `item` at its first "="; without one, the whole item is the name and the value is empty.
WriteParts SplitWriteItem(std::string_view item);

// The value text converted for a variable of `type`: 4 the single-precision bits of the decimal
// number (high half 0), 6 the double-precision bits, any other type the decimal integer (as the
// C atoi reads it) with its sign extension in the high half. Text that is not a number is 0.
ValueHalves EncodeValue(uint16_t type, std::string_view text);

// The text a page gets for a value of `type`: 4 the low half as a single and 6 both halves as a
// double, both printed as "%g" does, any other type the low half as a signed "%d".
std::string FormatValue(uint16_t type, ValueHalves value);

}  // namespace tsr::kx
