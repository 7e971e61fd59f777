// S7 variable names, the values shown for the bytes read, and the bytes written.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "gateways/s7/names.h"
#include "gateways/s7/s7_frames.h"

namespace tsr::s7 {
namespace {

TEST(S7Names, Grammar) {
    struct Case {
        const char* name;
        bool ok;
        uint8_t area;
        S7Form form;
        uint32_t byte;
        uint32_t bit;
    } cases[] = {
        {"%MW10", true, kAreaFlags, S7Form::Word, 10, 0},
        {"%MD10", true, kAreaFlags, S7Form::DoubleWord, 10, 0},
        {"%MF20", true, kAreaFlags, S7Form::Real, 20, 0},
        {"%M10.9", true, kAreaFlags, S7Form::Bit, 10, 9},
        {"%I0.3", true, kAreaInputs, S7Form::Bit, 0, 3},
        {"%IW4", true, kAreaInputs, S7Form::Word, 4, 0},
        {"%ID8", true, kAreaInputs, S7Form::DoubleWord, 8, 0},
        {"%Q1.7", true, kAreaOutputs, S7Form::Bit, 1, 7},
        {"%QW2", true, kAreaOutputs, S7Form::Word, 2, 0},
        {"%QD6", true, kAreaOutputs, S7Form::DoubleWord, 6, 0},
        {"%MW 10 ", true, kAreaFlags, S7Form::Word, 10, 0},
        {"%M 10 . 9 ", true, kAreaFlags, S7Form::Bit, 10, 9},
        {"%MW65535", true, kAreaFlags, S7Form::Word, 65535, 0},
        {"%M0.31", true, kAreaFlags, S7Form::Bit, 0, 31},
        {"%MW010", true, kAreaFlags, S7Form::Word, 10, 0},
        // Refused: case, unknown forms, missing or extra parts, out of range.
        {"%mw10", false, 0, S7Form::Word, 0, 0},
        {"%Mw10", false, 0, S7Form::Word, 0, 0},
        {"%MB10", false, 0, S7Form::Word, 0, 0},
        {"%IF10", false, 0, S7Form::Word, 0, 0},
        {"MW10", false, 0, S7Form::Word, 0, 0},
        {"%MW", false, 0, S7Form::Word, 0, 0},
        {"", false, 0, S7Form::Word, 0, 0},
        {"%MW10x", false, 0, S7Form::Word, 0, 0},
        {"%MW10.1", false, 0, S7Form::Word, 0, 0},
        {"%M10", false, 0, S7Form::Word, 0, 0},
        {"%M10.", false, 0, S7Form::Word, 0, 0},
        {"%M10.9.1", false, 0, S7Form::Word, 0, 0},
        {"%M10.32", false, 0, S7Form::Word, 0, 0},
        {"%MW65536", false, 0, S7Form::Word, 0, 0},
        {"%MW99999999999999999999", false, 0, S7Form::Word, 0, 0},
        {"%MW-1", false, 0, S7Form::Word, 0, 0},
        {"%ABCDEFGHIJ1", false, 0, S7Form::Word, 0, 0},
        {" %MW10", false, 0, S7Form::Word, 0, 0},
    };
    for (const Case& c : cases) {
        auto v = ParseS7Name(c.name);
        ASSERT_EQ(v.has_value(), c.ok) << c.name;
        if (!c.ok) continue;
        EXPECT_EQ(v->area, c.area) << c.name;
        EXPECT_EQ(v->form, c.form) << c.name;
        EXPECT_EQ(v->byte, c.byte) << c.name;
        EXPECT_EQ(v->bit, c.bit) << c.name;
        EXPECT_EQ(v->BitAddress(), c.byte * 8) << c.name;
    }
}

TEST(S7Names, ValuesOfTheFourBytesRead) {
    struct Case {
        const char* name;
        std::array<uint8_t, 4> bytes;
        const char* expected;
    } cases[] = {
        {"%MW10", {0x01, 0x02, 0x00, 0x00}, "258"},
        {"%MW10", {0xFF, 0xFF, 0x12, 0x34}, "65535"},
        {"%MD10", {0x00, 0x00, 0x01, 0x00}, "256"},
        {"%MD10", {0xFF, 0xFF, 0xFF, 0xFE}, "-2"},
        {"%MF10", {0x3F, 0xC0, 0x00, 0x00}, "1.5"},
        {"%MF10", {0xC2, 0xF6, 0xE9, 0x79}, "-123.456"},
        {"%MF10", {0x00, 0x00, 0x00, 0x00}, "0"},
        {"%M10.0", {0x01, 0x00, 0x00, 0x00}, "1"},
        {"%M10.1", {0x01, 0x00, 0x00, 0x00}, "0"},
        {"%M10.9", {0x00, 0x02, 0x00, 0x00}, "1"},
        {"%M10.9", {0xFF, 0xFD, 0xFF, 0xFF}, "0"},
        {"%I0.31", {0x00, 0x00, 0x00, 0x80}, "1"},
        {"%Q0.24", {0x00, 0x00, 0x00, 0x01}, "1"},
    };
    for (const Case& c : cases) {
        auto v = ParseS7Name(c.name);
        ASSERT_TRUE(v) << c.name;
        EXPECT_EQ(FormatS7Value(*v, c.bytes), c.expected) << c.name;
    }
}

TEST(S7Names, WriteValuesAndBytes) {
    struct Case {
        const char* name;
        const char* value;
        bool ok;
        std::vector<uint8_t> bytes;  // W, D and F forms
    } cases[] = {
        {"%MW10", "258", true, {0x01, 0x02}},
        {"%MW10", " 7 ", true, {0x00, 0x07}},
        {"%MW10", "+7", true, {0x00, 0x07}},
        {"%MW10", "-1", true, {0xFF, 0xFF}},
        {"%MW10", "65536", true, {0x00, 0x00}},
        {"%MD10", "256", true, {0x00, 0x00, 0x01, 0x00}},
        {"%MD10", "-2", true, {0xFF, 0xFF, 0xFF, 0xFE}},
        {"%MD10", "4294967295", true, {0xFF, 0xFF, 0xFF, 0xFF}},
        {"%MF10", "1.5", true, {0x3F, 0xC0, 0x00, 0x00}},
        {"%MF10", "-2", true, {0xC0, 0x00, 0x00, 0x00}},
        {"%MF10", "1e3", true, {0x44, 0x7A, 0x00, 0x00}},
        {"%MD10", "4294967296", false, {}},
        {"%MD10", "-2147483649", false, {}},
        {"%MW10", "", false, {}},
        {"%MW10", "abc", false, {}},
        {"%MW10", "12abc", false, {}},
        {"%MW10", "1.5", false, {}},
        {"%MF10", "1.5x", false, {}},
        {"%MF10", "inf", false, {}},
        {"%MF10", "nan", false, {}},
    };
    for (const Case& c : cases) {
        auto v = ParseS7Name(c.name);
        ASSERT_TRUE(v) << c.name;
        auto value = ParseS7WriteValue(*v, c.value);
        ASSERT_EQ(value.has_value(), c.ok) << c.name << "=" << c.value;
        if (c.ok) {
            EXPECT_EQ(S7WriteBytes(*v, *value), c.bytes) << c.name << "=" << c.value;
        }
    }
    auto bit = ParseS7Name("%M10.9");
    ASSERT_TRUE(bit);
    EXPECT_TRUE(S7WriteBytes(*bit, 1).empty());
}

TEST(S7Names, BitWrites) {
    auto v = ParseS7Name("%M10.9");
    ASSERT_TRUE(v);
    EXPECT_EQ(BitWriteByte(*v), 11u);  // bit 9 counted from byte 10 is bit 1 of byte 11
    EXPECT_EQ(BitWriteByte(*ParseS7Name("%Q3.7")), 3u);
    EXPECT_EQ(BitWriteByte(*ParseS7Name("%I3.31")), 6u);
    struct Case {
        uint8_t current;
        uint32_t bit;
        uint32_t value;
        std::optional<uint8_t> expected;
    } cases[] = {
        {0xFF, 1, 0, 0xFD}, {0x00, 1, 1, 0x02}, {0x02, 1, 1, 0x02}, {0x02, 1, 2, 0x00},
        {0x00, 7, 2, 0x80}, {0x55, 0, 3, std::nullopt}, {0x55, 0, 0xFFFFFFFF, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ChangeBit(c.current, c.bit, c.value), c.expected)
            << int(c.current) << " bit " << c.bit << " value " << c.value;
    }
}

}  // namespace
}  // namespace tsr::s7
