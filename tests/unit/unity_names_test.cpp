// Variable names of the Unity / M340 family.
#include <gtest/gtest.h>

#include "gateways/unity/names.h"

namespace tsr::unity {
namespace {

struct NameCase {
    const char* name;
    const char* input;
    bool parsed;
    Area area;
    uint16_t number, rack, module, channel;
    uint8_t bit;
};

TEST(UnityNames, ParsesEveryFormInThePrefixOrder) {
    const NameCase cases[] = {
        {"memory word", "%MW10", true, Area::MemoryWord, 10, 0, 0, 0, 0},
        {"lower case", "%mw10", true, Area::MemoryWord, 10, 0, 0, 0, 0},
        {"blanks around the number", "%MW 10 ", true, Area::MemoryWord, 10, 0, 0, 0, 0},
        {"trailing characters ignored", "%MW10xyz", true, Area::MemoryWord, 10, 0, 0, 0, 0},
        {"dot without a bit is the word", "%MW10.", true, Area::MemoryWord, 10, 0, 0, 0, 0},
        {"bit of a word", "%MW10.3", true, Area::MemoryWordBit, 10, 0, 0, 0, 3},
        {"bit of a word with blanks", "%mw 10 . 15", true, Area::MemoryWordBit, 10, 0, 0, 0, 15},
        {"bit number past 15", "%MW10.16", false, Area::NotServed, 0, 0, 0, 0, 0},
        {"memory bit", "%M7", true, Area::MemoryBit, 7, 0, 0, 0, 0},
        {"system bit", "%S12", true, Area::SystemBit, 12, 0, 0, 0, 0},
        {"system word", "%SW50", true, Area::SystemWord, 50, 0, 0, 0, 0},
        {"system word bit not served", "%SW50.1", true, Area::NotServed, 50, 0, 0, 0, 1},
        {"double word", "%MD4", true, Area::MemoryDouble, 4, 0, 0, 0, 0},
        {"real", "%MF0", true, Area::MemoryReal, 0, 0, 0, 0, 0},
        {"input bit", "%I0.1.2", true, Area::InputBit, 0, 0, 1, 2, 0},
        {"output bit", "%q 1 . 2 . 3", true, Area::OutputBit, 0, 1, 2, 3, 0},
        {"input word", "%IW0.3.4", true, Area::InputWord, 0, 0, 3, 4, 0},
        {"output word", "%QW1.2.65535", true, Area::OutputWord, 0, 1, 2, 65535, 0},
        {"input with two numbers", "%I0.1", false, Area::NotServed, 0, 0, 0, 0, 0},
        {"constant word", "%KW5", true, Area::NotServed, 5, 0, 0, 0, 0},
        {"constant double", "%KD5", true, Area::NotServed, 5, 0, 0, 0, 0},
        {"constant real", "%KF5", true, Area::NotServed, 5, 0, 0, 0, 0},
        {"timer", "%TM0", true, Area::NotServed, 0, 0, 0, 0, 0},
        {"step bit", "%X3", true, Area::NotServed, 3, 0, 0, 0, 0},
        {"bare number", "42", true, Area::NotServed, 0, 0, 0, 0, 0},
        {"no digit after the prefix", "%MW", false, Area::NotServed, 0, 0, 0, 0, 0},
        {"number past 65535", "%MW65536", false, Area::NotServed, 0, 0, 0, 0, 0},
        {"largest number", "%MW65535", true, Area::MemoryWord, 65535, 0, 0, 0, 0},
        {"unknown prefix", "%ZZ1", false, Area::NotServed, 0, 0, 0, 0, 0},
        {"empty", "", false, Area::NotServed, 0, 0, 0, 0, 0},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<Variable> v = ParseName(c.input);
        ASSERT_EQ(v.has_value(), c.parsed);
        if (!v) continue;
        EXPECT_EQ(v->area, c.area);
        if (c.area == Area::NotServed) continue;  // its numbers are not used
        EXPECT_EQ(v->number, c.number);
        EXPECT_EQ(v->rack, c.rack);
        EXPECT_EQ(v->module, c.module);
        EXPECT_EQ(v->channel, c.channel);
        EXPECT_EQ(v->bit, c.bit);
    }
}

}  // namespace
}  // namespace tsr::unity
