// The Corvane read and write items as the pages send them: variable names (a letter and an index),
// the count and the print format of a read item, the written values, and the printing of a value.
// Pure functions; the format that comes from the page is checked here before any use.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tsr::corvane {

// Type codes of the runtime, by the letter of the variable name.
enum TypeCode : uint16_t {
    kInput = 0,    // I: bit
    kOutput = 1,   // O: bit
    kBit = 2,      // B or U: bit
    kTimer = 3,    // T: 32 bits read, 16 bits written
    kCounter = 4,  // C: 16 bits, signed
    kWord = 5,     // M: 16 bits, signed
    kFloat = 6,    // F: 32-bit IEEE single
    kLong = 7,     // L: 32 bits
};

constexpr int kMaxIndex = 9999;
// The most variables one read item may ask for ("m0[500]").
constexpr int kMaxCount = 500;

struct Variable {
    uint16_t type = 0;
    uint16_t index = 0;
    bool operator==(const Variable&) const = default;
};

// True for the bit types I, O, B and U.
bool IsBitType(uint16_t type);

// Parses a variable name: one letter of "IOBUTCMFL" (either case), then the decimal index 0 to
// 9999 and nothing after it. Empty for anything else (empty text included).
std::optional<Variable> ParseVariableName(std::string_view name);

// The name of a variable as it is printed in error texts: `letter` and the decimal index.
std::string VariableName(char letter, int index);

// A checked print format for one number: literal text around exactly one conversion. Only the
// fields below reach the C formatter, rebuilt by FormatNumber, never the page's text itself.
struct ValueFormat {
    std::string prefix;  // literal text before the conversion ("%%" already made "%")
    std::string suffix;  // literal text after it
    std::string flags;   // each of "-+ #0" at most once
    int width = -1;      // -1: none; else 0..kMaxWidth
    int precision = -1;  // -1: none; else 0..kMaxPrecision
    char conversion = 'd';
};

constexpr int kMaxWidth = 64;
constexpr int kMaxPrecision = 32;
constexpr size_t kMaxFormatLength = 32;

// Checks a format from a page. `floating` selects the conversions that fit a float (f e E g G)
// instead of an integer (d i u x X o). Accepted: at most kMaxFormatLength bytes of printable
// text with "%%" for a percent sign and exactly one conversion "%[flags][width][.precision]c";
// width and precision decimal within their bounds. Refused (empty): no conversion or a second
// one, "*", a length modifier (h l L q j z t), any other conversion (n s c p a ...), a flag that
// does not fit the conversion ("#" with d i u, "+" or " " with an unsigned one), control bytes.
std::optional<ValueFormat> ParseValueFormat(std::string_view text, bool floating);

// Prints a signed integer (d, i) or its unsigned 32-bit form (u x X o) with an integer format.
std::string FormatInteger(const ValueFormat& format, int32_t value);
// Prints a float with a floating format.
std::string FormatFloat(const ValueFormat& format, double value);

// A read item cut into its parts: "m200[3](%04X)" gives name "m200", count 3, format "%04X".
struct ReadItemParts {
    std::string_view name;
    std::string_view countText;  // the text between "[" and "]", when there is one
    bool hasCount = false;
    std::string_view format;  // the text between "(" and ")", when there is one
    bool hasFormat = false;
};

// Cuts a read item: when it holds "(" and after it ")", the text between them is the format and
// the name ends at the "(" (what follows ")" is ignored); then, when the name holds "[" and after
// it "]", the text between them is the count and the name ends at the "[".
ReadItemParts SplitReadItem(std::string_view item);

// The count of a read item: decimal digits only, 1..kMaxCount. Empty otherwise.
std::optional<int> ParseCount(std::string_view text);

// A read item ready to be carried out, or the text that answers it.
struct ReadRequest {
    Variable first;
    char letter = 'm';  // the name's letter as written, for error texts
    int count = 1;
    std::optional<ValueFormat> format;  // empty: the type's own ("%f" for F, else "%d")
};

struct ReadItemResult {
    std::optional<ReadRequest> request;
    std::string error;  // "[error : bad syntax : ...]" when `request` is empty
};

// Parses a whole read item (not empty). A bad name answers "[error : bad syntax : NAME]" with the
// name left after the cuts; a bad count or format, or a count that runs past index 9999,
// answers the same with the item text.
ReadItemResult ParseReadItem(std::string_view item);

// Prints a decoded 32-bit value of `type`: F swaps the two 16-bit halves and prints the result as
// an IEEE single ("%f" by default); C and M print the low 16 bits signed; the others the 32-bit
// value ("%d" by default).
std::string FormatValue(uint16_t type, uint32_t value, const std::optional<ValueFormat>& format);

// A write item "name=value" cut at its first "=".
struct WriteRequest {
    Variable variable;
    int32_t value = 0;  // F: the single's bits; bits: 0, 1, 2 F0, 3 F1, 4 UF, -1 toggle ("/")
};

// Parses a write item; empty when the name is bad or there is no "=". The value: F the decimal
// number as a single's bits; T C M L a decimal integer (as the C atoi reads it); bits: "/" gives
// -1, "F0" "F1" "UF" (any case) give 2 3 4, anything else its decimal integer.
std::optional<WriteRequest> ParseWriteItem(std::string_view item);

}  // namespace tsr::corvane
