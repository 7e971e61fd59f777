// The KX items and values: the name change, the write item's parts, value conversion by type
// and the answer texts.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>

#include "gateways/kx/values.h"

namespace tsr::kx {
namespace {

TEST(KxValues, LastDollarBecomesHash) {
    struct Case {
        const char* item;
        const char* expected;
    };
    const Case cases[] = {
        {"%MW0@XPI$1", "%MW0@XPI#1"},
        {"A$B@GW$2", "A$B@GW#2"},
        {"$", "#"},
        {"no dollar", "no dollar"},
        {"", ""},
        {"already#1", "already#1"},
    };
    for (const Case& c : cases) EXPECT_EQ(KxName(c.item), c.expected) << c.item;
}

TEST(KxValues, SplitWriteItemAtTheFirstEquals) {
    struct Case {
        const char* item;
        const char* name;
        const char* value;
    };
    const Case cases[] = {
        {"%MW1=3", "%MW1", "3"}, {"a=b=c", "a", "b=c"},  {"=5", "", "5"},
        {"x=", "x", ""},         {"plain", "plain", ""},
    };
    for (const Case& c : cases) {
        const WriteParts p = SplitWriteItem(c.item);
        EXPECT_EQ(p.name, c.name) << c.item;
        EXPECT_EQ(p.value, c.value) << c.item;
    }
}

TEST(KxValues, EncodeValueByType) {
    const uint64_t d = std::bit_cast<uint64_t>(1e20);
    const uint64_t dn = std::bit_cast<uint64_t>(-0.25);
    struct Case {
        const char* name;
        uint16_t type;
        const char* text;
        uint32_t low, high;
    };
    const Case cases[] = {
        {"integer", 1, "42", 42, 0},
        {"negative integer, sign extended", 3, "-5", 0xFFFFFFFB, 0xFFFFFFFF},
        {"integer as atoi reads it", 0, "  12abc", 12, 0},
        {"integer from a fraction", 2, "7.9", 7, 0},
        {"not a number", 1, "abc", 0, 0},
        {"integer saturates", 1, "99999999999", 0x7FFFFFFF, 0},
        {"single", 4, "1.5", std::bit_cast<uint32_t>(1.5f), 0},
        {"single negative", 4, "-2", std::bit_cast<uint32_t>(-2.0f), 0},
        {"single with a plus", 4, "+0.5", std::bit_cast<uint32_t>(0.5f), 0},
        {"single not a number", 4, "x", 0, 0},
        {"single overflow", 4, "1e39", 0x7F800000, 0},
        {"single negative overflow", 4, "-1e39", 0xFF800000, 0},
        {"single just above the largest", 4, "3.4028235e38", 0x7F7FFFFF, 0},
        {"double", 6, "1e20", static_cast<uint32_t>(d), static_cast<uint32_t>(d >> 32)},
        {"double negative", 6, "-0.25", static_cast<uint32_t>(dn), static_cast<uint32_t>(dn >> 32)},
        {"double overflow", 6, "1e999", 0, 0x7FF00000},
        {"double underflow", 6, "1e-999", 0, 0},
    };
    for (const Case& c : cases) {
        const ValueHalves v = EncodeValue(c.type, c.text);
        EXPECT_EQ(v.low, c.low) << c.name;
        EXPECT_EQ(v.high, c.high) << c.name;
    }
}

TEST(KxValues, FormatValueByType) {
    const uint64_t d = std::bit_cast<uint64_t>(1e20);
    const uint64_t third = std::bit_cast<uint64_t>(1.0 / 3);
    struct Case {
        const char* name;
        uint16_t type;
        uint32_t low, high;
        const char* expected;
    };
    const Case cases[] = {
        {"integer", 1, 42, 0, "42"},
        {"negative integer", 1, 0xFFFFFFFF, 0xFFFFFFFF, "-1"},
        {"integer ignores the high half", 5, 7, 0x12345678, "7"},
        {"single", 4, std::bit_cast<uint32_t>(1.5f), 0, "1.5"},
        {"single small", 4, std::bit_cast<uint32_t>(0.0001f), 0, "0.0001"},
        {"single six digits", 4, std::bit_cast<uint32_t>(123456.7f), 0, "123457"},
        {"double stays in exponent form", 6, static_cast<uint32_t>(d),
         static_cast<uint32_t>(d >> 32), "1e+20"},
        {"double third", 6, static_cast<uint32_t>(third), static_cast<uint32_t>(third >> 32),
         "0.333333"},
        {"double zero", 6, 0, 0, "0"},
        {"double small", 6, static_cast<uint32_t>(std::bit_cast<uint64_t>(1e-5)),
         static_cast<uint32_t>(std::bit_cast<uint64_t>(1e-5) >> 32), "1e-05"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatValue(c.type, {c.low, c.high}), c.expected) << c.name;
}

}  // namespace
}  // namespace tsr::kx
