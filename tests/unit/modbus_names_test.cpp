// Variable names and request items of the Modbus TCP family.
#include <gtest/gtest.h>

#include "gateways/modbus/names.h"

namespace tsr::modbus {
namespace {

struct NameCase {
    const char* name;
    const char* input;
    bool parsed;
    Table table;
    uint16_t address;
    Form form;
    uint8_t bit;
};

TEST(ModbusNames, ParsesEveryTableAndType) {
    using T = Table;
    using F = Form;
    const NameCase cases[] = {
        {"coil", "co3", true, T::Coil, 3, F::Bit, 0},
        {"discrete input", "di0", true, T::DiscreteInput, 0, F::Bit, 0},
        {"holding register", "hr0", true, T::HoldingRegister, 0, F::U16, 0},
        {"input register", "ir12", true, T::InputRegister, 12, F::U16, 0},
        {"upper case", "HR7", true, T::HoldingRegister, 7, F::U16, 0},
        {"mixed case type", "Ir2:F32", true, T::InputRegister, 2, F::F32, 0},
        {"leading zeros", "hr007", true, T::HoldingRegister, 7, F::U16, 0},
        {"largest address", "hr65535", true, T::HoldingRegister, 65535, F::U16, 0},
        {"u16 named", "hr1:u16", true, T::HoldingRegister, 1, F::U16, 0},
        {"s16", "hr1:s16", true, T::HoldingRegister, 1, F::S16, 0},
        {"u32", "hr1:u32", true, T::HoldingRegister, 1, F::U32, 0},
        {"s32", "ir1:s32", true, T::InputRegister, 1, F::S32, 0},
        {"f32", "hr4:f32", true, T::HoldingRegister, 4, F::F32, 0},
        {"u32le", "hr1:u32le", true, T::HoldingRegister, 1, F::U32Le, 0},
        {"s32le", "hr1:S32LE", true, T::HoldingRegister, 1, F::S32Le, 0},
        {"f32le", "ir9:f32le", true, T::InputRegister, 9, F::F32Le, 0},
        {"two registers end at 65535", "hr65534:u32", true, T::HoldingRegister, 65534, F::U32, 0},
        {"bit 0 of a register", "hr7.0", true, T::HoldingRegister, 7, F::RegisterBit, 0},
        {"bit 15 of a register", "hr7.15", true, T::HoldingRegister, 7, F::RegisterBit, 15},
        {"bit 16", "hr7.16", false, T::HoldingRegister, 0, F::U16, 0},
        {"bit without a number", "hr7.", false, T::HoldingRegister, 0, F::U16, 0},
        {"bit of an input register", "ir7.1", false, T::HoldingRegister, 0, F::U16, 0},
        {"bit of a coil", "co7.1", false, T::HoldingRegister, 0, F::U16, 0},
        {"type of a coil", "co7:u16", false, T::HoldingRegister, 0, F::U16, 0},
        {"type of a discrete input", "di7:s16", false, T::HoldingRegister, 0, F::U16, 0},
        {"bit and type", "hr7.1:u16", false, T::HoldingRegister, 0, F::U16, 0},
        {"unknown type", "hr7:u64", false, T::HoldingRegister, 0, F::U16, 0},
        {"empty type", "hr7:", false, T::HoldingRegister, 0, F::U16, 0},
        {"two registers past 65535", "hr65535:f32", false, T::HoldingRegister, 0, F::U16, 0},
        {"address past 65535", "hr65536", false, T::HoldingRegister, 0, F::U16, 0},
        {"long address", "hr000000000000000000001", true, T::HoldingRegister, 1, F::U16, 0},
        {"huge address", "hr99999999999999999999", false, T::HoldingRegister, 0, F::U16, 0},
        {"no address", "hr", false, T::HoldingRegister, 0, F::U16, 0},
        {"blank before the address", "hr 1", false, T::HoldingRegister, 0, F::U16, 0},
        {"trailing blank", "hr1 ", false, T::HoldingRegister, 0, F::U16, 0},
        {"trailing characters", "hr1x", false, T::HoldingRegister, 0, F::U16, 0},
        {"negative address", "hr-1", false, T::HoldingRegister, 0, F::U16, 0},
        {"unknown table", "xx1", false, T::HoldingRegister, 0, F::U16, 0},
        {"Unity name", "%MW0", false, T::HoldingRegister, 0, F::U16, 0},
        {"empty", "", false, T::HoldingRegister, 0, F::U16, 0},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<Variable> v = ParseName(c.input);
        ASSERT_EQ(v.has_value(), c.parsed);
        if (!v) continue;
        EXPECT_EQ(v->table, c.table);
        EXPECT_EQ(v->address, c.address);
        EXPECT_EQ(v->form, c.form);
        EXPECT_EQ(v->bit, c.bit);
    }
}

TEST(ModbusNames, WidthsAndWritableTables) {
    struct Case {
        const char* input;
        uint16_t width;
        bool writable;
        bool bitTable;
    };
    const Case cases[] = {
        {"co0", 1, true, true},         {"di0", 1, false, true},     {"hr0", 1, true, false},
        {"ir0", 1, false, false},       {"hr0:s16", 1, true, false}, {"hr0:u32", 2, true, false},
        {"ir0:f32le", 2, false, false}, {"hr0.3", 1, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        std::optional<Variable> v = ParseName(c.input);
        ASSERT_TRUE(v.has_value());
        EXPECT_EQ(Width(*v), c.width);
        EXPECT_EQ(IsWritable(v->table), c.writable);
        EXPECT_EQ(IsBitTable(v->table), c.bitTable);
    }
}

TEST(ModbusNames, ItemsNameTheirGateway) {
    struct Case {
        const char* name;
        const char* item;
        const char* gateway;
        const char* variable;
    };
    const Case cases[] = {
        {"read", "mb1/hr0", "mb1", "hr0"},
        {"write", "mb1/hr0=5", "mb1", "hr0=5"},
        {"typed", "line3/ir2:f32", "line3", "ir2:f32"},
        {"no gateway", "hr0", "", "hr0"},
        {"empty gateway", "/hr0", "", "hr0"},
        {"last slash", "a/b/co1", "a/b", "co1"},
        {"slash in the value only", "hr0=1/2", "", "hr0=1/2"},
        {"gateway and slash in the value", "mb2/hr0=1/2", "mb2", "hr0=1/2"},
        {"empty", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ItemParts parts = SplitItem(c.item);
        EXPECT_EQ(parts.gateway, c.gateway);
        EXPECT_EQ(parts.variable, c.variable);
    }
}

}  // namespace
}  // namespace tsr::modbus
