// The Corvane read and write items: names, counts, the checked print formats and the printing of
// values.
#include <gtest/gtest.h>

#include <cstring>

#include "gateways/corvane/items.h"

namespace tsr::corvane {
namespace {

uint32_t FloatBits(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof(bits));
    return bits;
}

// A float's bits as the runtime answers them: halves swapped.
uint32_t Swapped(uint32_t bits) {
    return (bits << 16) | (bits >> 16);
}

TEST(CorvaneItems, VariableNames) {
    struct Case {
        const char* name;
        bool ok;
        uint16_t type, index;
    } cases[] = {
        {"i0", true, kInput, 0},       {"O12", true, kOutput, 12}, {"b3", true, kBit, 3},
        {"U3", true, kBit, 3},         {"t1", true, kTimer, 1},    {"C2", true, kCounter, 2},
        {"m200", true, kWord, 200},    {"F10", true, kFloat, 10},  {"l9999", true, kLong, 9999},
        {"m0009", true, kWord, 9},     {"x5", false, 0, 0},        {"m10000", false, 0, 0},
        {"m12a", false, 0, 0},         {"m", false, 0, 0},         {"", false, 0, 0},
        {"m-1", false, 0, 0},          {"m 1", false, 0, 0},       {"5m", false, 0, 0},
        {"m99999999999", false, 0, 0}, {"m+1", false, 0, 0},
    };
    for (const auto& c : cases) {
        const auto v = ParseVariableName(c.name);
        ASSERT_EQ(v.has_value(), c.ok) << c.name;
        if (!c.ok) continue;
        EXPECT_EQ(*v, (Variable{c.type, c.index})) << c.name;
    }
}

TEST(CorvaneItems, AcceptedFormatsPrintAsC) {
    struct Case {
        const char* format;
        bool floating;
        double value;
        const char* expected;
    } cases[] = {
        {"%d", false, -5, "-5"},
        {"%04X", false, 0xAB, "00AB"},
        {"%x", false, -1, "ffffffff"},
        {"%o", false, 8, "10"},
        {"%u", false, 7, "7"},
        {"%+5i", false, 3, "   +3"},
        {"%-4d|", false, 3, "3   |"},
        {"%#x", false, 255, "0xff"},
        {"%.3d", false, 7, "007"},
        {"V=%d V", false, 12, "V=12 V"},
        {"%d%%", false, 50, "50%"},
        {"%.2f", true, 1.5, "1.50"},
        {"%e", true, 1.5, "1.500000e+00"},
        {"%E", true, 1.5, "1.500000E+00"},
        {"%g", true, 100000, "100000"},
        {"%G", true, 1e7, "1E+07"},
        {"%#.0f", true, 2, "2."},
        {"%064.32f", true, 1, "0000000000000000000000000000001.00000000000000000000000000000000"},
    };
    for (const auto& c : cases) {
        const auto format = ParseValueFormat(c.format, c.floating);
        ASSERT_TRUE(format.has_value()) << c.format;
        const std::string text = c.floating ? FormatFloat(*format, c.value)
                                            : FormatInteger(*format, static_cast<int32_t>(c.value));
        EXPECT_EQ(text, c.expected) << c.format;
    }
}

TEST(CorvaneItems, RefusedFormats) {
    struct Case {
        const char* format;
        bool floating;
    } cases[] = {
        {"%n", false},
        {"%s", false},
        {"%*d", false},
        {"%9999d", false},
        {"%d%d", false},
        {"", false},
        {"abc", false},
        {"%", false},
        {"%ld", false},
        {"%hd", false},
        {"%lld", false},
        {"%zd", false},
        {"%jd", false},
        {"%td", false},
        {"%qd", false},
        {"%Lf", true},
        {"%c", false},
        {"%p", false},
        {"%a", true},
        {"%f", false},
        {"%d", true},
        {"%x", true},
        {"%.*f", true},
        {"%.100f", true},
        {"%65d", false},
        {"%.33f", true},
        {"%#d", false},
        {"%#u", false},
        {"%+x", false},
        {"% u", false},
        {"%--d", false},
        {"%1$d", false},
        {"%'d", false},
        {"%d\n", false},
        {"%I64d", false},
        {"%-", false},
        {"%d%n", false},
        {"%%", false},
        {"%f%s", true},
        {"%0000000000000000000000000000000d", false},
        {"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx%d", false},  // 33 bytes
    };
    for (const auto& c : cases)
        EXPECT_FALSE(ParseValueFormat(c.format, c.floating).has_value()) << c.format;
}

TEST(CorvaneItems, ReadItems) {
    struct Case {
        const char* item;
        const char* error;  // empty: parsed
        uint16_t type, index;
        int count;
        bool hasFormat;
    } cases[] = {
        {"m200", "", kWord, 200, 1, false},
        {"m200[3]", "", kWord, 200, 3, false},
        {"m200(%04X)", "", kWord, 200, 1, true},
        {"m200[3](%x)", "", kWord, 200, 3, true},
        {"m200(%x)tail", "", kWord, 200, 1, true},
        {"f1(%.1f)", "", kFloat, 1, 1, true},
        {"m9998[2]", "", kWord, 9998, 2, false},
        {"x5", "[error : bad syntax : x5]", 0, 0, 0, false},
        {"m10000", "[error : bad syntax : m10000]", 0, 0, 0, false},
        {"m12a", "[error : bad syntax : m12a]", 0, 0, 0, false},
        {"m12a[2](%d)", "[error : bad syntax : m12a]", 0, 0, 0, false},
        {"m200(%x", "[error : bad syntax : m200(%x]", 0, 0, 0, false},
        {"m200(%x)[3]", "", kWord, 200, 1, true},
        {"m200[3", "[error : bad syntax : m200[3]", 0, 0, 0, false},
        {"m200[0]", "[error : bad syntax : m200[0]]", 0, 0, 0, false},
        {"m200[x]", "[error : bad syntax : m200[x]]", 0, 0, 0, false},
        {"m200[501]", "[error : bad syntax : m200[501]]", 0, 0, 0, false},
        {"m9999[2]", "[error : bad syntax : m9999[2]]", 0, 0, 0, false},
        {"m200(%n)", "[error : bad syntax : m200(%n)]", 0, 0, 0, false},
        {"m200(%s)", "[error : bad syntax : m200(%s)]", 0, 0, 0, false},
        {"f1(%d)", "[error : bad syntax : f1(%d)]", 0, 0, 0, false},
        {"m1(%f)", "[error : bad syntax : m1(%f)]", 0, 0, 0, false},
        {"m1()", "[error : bad syntax : m1()]", 0, 0, 0, false},
    };
    for (const auto& c : cases) {
        const ReadItemResult r = ParseReadItem(c.item);
        EXPECT_EQ(r.error, c.error) << c.item;
        ASSERT_EQ(r.request.has_value(), std::string(c.error).empty()) << c.item;
        if (!r.request) continue;
        EXPECT_EQ(r.request->first, (Variable{c.type, c.index})) << c.item;
        EXPECT_EQ(r.request->count, c.count) << c.item;
        EXPECT_EQ(r.request->format.has_value(), c.hasFormat) << c.item;
    }
}

TEST(CorvaneItems, ValuesPrintByType) {
    const auto hex = ParseValueFormat("%04X", false);
    struct Case {
        const char* name;
        uint16_t type;
        uint32_t value;
        std::optional<ValueFormat> format;
        const char* expected;
    } cases[] = {
        {"bit set", kBit, 1, std::nullopt, "1"},
        {"bit clear", kInput, 0, std::nullopt, "0"},
        {"word negative", kWord, 0xFFFE, std::nullopt, "-2"},
        {"counter ignores high half", kCounter, 0x12340005, std::nullopt, "5"},
        {"word hex", kWord, 0x00AB, hex, "00AB"},
        {"long", kLong, 0xFFFFFFFF, std::nullopt, "-1"},
        {"timer", kTimer, 70000, std::nullopt, "70000"},
        {"float 1.5", kFloat, Swapped(FloatBits(1.5f)), std::nullopt, "1.500000"},
        {"float -0.25", kFloat, Swapped(FloatBits(-0.25f)), ParseValueFormat("%g", true), "-0.25"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatValue(c.type, c.value, c.format), c.expected) << c.name;
}

TEST(CorvaneItems, WriteItems) {
    struct Case {
        const char* item;
        bool ok;
        uint16_t type;
        int32_t value;
    } cases[] = {
        {"b3=F1", true, kBit, 3},
        {"b3=f0", true, kBit, 2},
        {"u3=uf", true, kBit, 4},
        {"b3=/", true, kBit, -1},
        {"o1=1", true, kOutput, 1},
        {"i1=0", true, kInput, 0},
        {"m5=-12", true, kWord, -12},
        {"l5=70000", true, kLong, 70000},
        {"c5=abc", true, kCounter, 0},
        {"t5= 42x", true, kTimer, 42},
        {"f10=1.5", true, kFloat, 0x3FC00000},
        {"f10=-2", true, kFloat, static_cast<int32_t>(0xC0000000u)},
        {"f10=+0.5", true, kFloat, 0x3F000000},
        {"f10=junk", true, kFloat, 0},
        {"x1=3", false, 0, 0},
        {"m10000=3", false, 0, 0},
        {"m1", false, 0, 0},
        {"=3", false, 0, 0},
    };
    for (const auto& c : cases) {
        const auto w = ParseWriteItem(c.item);
        ASSERT_EQ(w.has_value(), c.ok) << c.item;
        if (!c.ok) continue;
        EXPECT_EQ(w->variable.type, c.type) << c.item;
        EXPECT_EQ(w->value, c.value) << c.item;
    }
}

}  // namespace
}  // namespace tsr::corvane
