// The frames and values of the Modbus TCP family, byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "gateways/modbus/frames.h"

namespace tsr::modbus {
namespace {

Variable Named(const char* name) {
    std::optional<Variable> v = ParseName(name);
    EXPECT_TRUE(v.has_value()) << name;
    return v.value_or(Variable{});
}

TEST(ModbusFrames, TransactionNumbersSkipZero) {
    const uint16_t cases[][2] = {{0, 1}, {1, 2}, {65534, 65535}, {65535, 1}};
    for (const auto& c : cases) EXPECT_EQ(NextTransaction(c[0]), c[1]) << c[0];
}

struct BuildCase {
    const char* name;
    Bytes built;
    Bytes expected;
};

TEST(ModbusFrames, RequestsByteForByte) {
    const uint16_t two[] = {0x1234, 0xABCD};
    const BuildCase cases[] = {
        {"frame header",
         BuildFrame(0x1234, 0x11, ReadPdu(3, 0x0102, 2)),
         {0x12, 0x34, 0x00, 0x00, 0x00, 0x06, 0x11, 0x03, 0x01, 0x02, 0x00, 0x02}},
        {"frame of unit 0 and 255",
         BuildFrame(1, 255, ReadPdu(1, 0, 1)),
         {0x00, 0x01, 0x00, 0x00, 0x00, 0x06, 0xFF, 0x01, 0x00, 0x00, 0x00, 0x01}},
        {"read coils", ReadPdu(kReadCoils, 19, 37), {0x01, 0x00, 0x13, 0x00, 0x25}},
        {"read discrete inputs",
         ReadPdu(kReadDiscreteInputs, 196, 22),
         {0x02, 0x00, 0xC4, 0x00, 0x16}},
        {"read holding registers",
         ReadPdu(kReadHoldingRegisters, 107, 3),
         {0x03, 0x00, 0x6B, 0x00, 0x03}},
        {"read input registers",
         ReadPdu(kReadInputRegisters, 8, 125),
         {0x04, 0x00, 0x08, 0x00, 0x7D}},
        {"coil on", WriteCoilPdu(172, true), {0x05, 0x00, 0xAC, 0xFF, 0x00}},
        {"coil off", WriteCoilPdu(172, false), {0x05, 0x00, 0xAC, 0x00, 0x00}},
        {"one register", WriteRegisterPdu(1, 3), {0x06, 0x00, 0x01, 0x00, 0x03}},
        {"two registers",
         WriteRegistersPdu(1, two),
         {0x10, 0x00, 0x01, 0x00, 0x02, 0x04, 0x12, 0x34, 0xAB, 0xCD}},
        {"mask write", MaskWritePdu(4, 0x00F2, 0x0025), {0x16, 0x00, 0x04, 0x00, 0xF2, 0x00, 0x25}},
    };
    for (const BuildCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.built, c.expected);
    }
}

TEST(ModbusFrames, ReadFunctionOfEachTable) {
    EXPECT_EQ(ReadFunctionOf(Table::Coil), 1);
    EXPECT_EQ(ReadFunctionOf(Table::DiscreteInput), 2);
    EXPECT_EQ(ReadFunctionOf(Table::HoldingRegister), 3);
    EXPECT_EQ(ReadFunctionOf(Table::InputRegister), 4);
}

struct FrameCase {
    const char* name;
    Bytes input;
    FrameStatus status;
    FrameError error;
    size_t consumed;
    uint16_t transaction;
    uint8_t unit;
    Bytes pdu;
};

const FrameCase kFrameCases[] = {
    {"whole frame",
     {0x00, 0x07, 0x00, 0x00, 0x00, 0x05, 0x01, 0x03, 0x02, 0x00, 0x2A},
     FrameStatus::Done,
     FrameError::None,
     11,
     7,
     1,
     {0x03, 0x02, 0x00, 0x2A}},
    {"bytes after the frame are left",
     {0x00, 0x07, 0x00, 0x00, 0x00, 0x03, 0x09, 0x83, 0x02, 0xEE, 0xEE},
     FrameStatus::Done,
     FrameError::None,
     9,
     7,
     9,
     {0x83, 0x02}},
    {"smallest frame",
     {0xFF, 0xFF, 0x00, 0x00, 0x00, 0x02, 0x00, 0x05},
     FrameStatus::Done,
     FrameError::None,
     8,
     0xFFFF,
     0,
     {0x05}},
    {"empty", {}, FrameStatus::NeedMore, FrameError::None, 0, 0, 0, {}},
    {"half a header", {0x00, 0x07, 0x00}, FrameStatus::NeedMore, FrameError::None, 0, 0, 0, {}},
    {"half a frame",
     {0x00, 0x07, 0x00, 0x00, 0x00, 0x05, 0x01, 0x03},
     FrameStatus::NeedMore,
     FrameError::None,
     0,
     0,
     0,
     {}},
    {"wrong protocol identifier",
     {0x00, 0x07, 0x00, 0x01, 0x00, 0x05, 0x01, 0x03, 0x02, 0, 0},
     FrameStatus::Malformed,
     FrameError::BadProtocol,
     0,
     0,
     0,
     {}},
    {"huge length",
     {0x00, 0x07, 0x00, 0x00, 0xFF, 0xFF, 0x01, 0x03},
     FrameStatus::Malformed,
     FrameError::BadLength,
     0,
     0,
     0,
     {}},
    {"length one past the protocol's",
     {0x00, 0x07, 0x00, 0x00, 0x00, 0xFF, 0x01},
     FrameStatus::Malformed,
     FrameError::BadLength,
     0,
     0,
     0,
     {}},
    {"length without a function",
     {0x00, 0x07, 0x00, 0x00, 0x00, 0x01, 0x01},
     FrameStatus::Malformed,
     FrameError::BadLength,
     0,
     0,
     0,
     {}},
    {"length zero",
     {0x00, 0x07, 0x00, 0x00, 0x00, 0x00},
     FrameStatus::Malformed,
     FrameError::BadLength,
     0,
     0,
     0,
     {}},
};

void ExpectFrame(const FrameCase& c, std::span<const uint8_t> input) {
    const Frame f = ParseFrame(input);
    EXPECT_EQ(f.status, c.status);
    EXPECT_EQ(f.error, c.error);
    if (f.status != FrameStatus::Done) return;
    EXPECT_EQ(f.consumed, c.consumed);
    EXPECT_EQ(f.transaction, c.transaction);
    EXPECT_EQ(f.unit, c.unit);
    EXPECT_EQ(Bytes(f.pdu.begin(), f.pdu.end()), c.pdu);
}

TEST(ModbusFrames, FramesWhole) {
    for (const FrameCase& c : kFrameCases) {
        SCOPED_TRACE(c.name);
        ExpectFrame(c, c.input);
    }
}

// Every prefix of a whole frame needs more; each input is copied to the end of its own
// allocation so that a read past it is caught by the sanitizer build.
TEST(ModbusFrames, FramesByteByByte) {
    for (const FrameCase& c : kFrameCases) {
        SCOPED_TRACE(c.name);
        for (size_t n = 0; n <= c.input.size(); ++n) {
            std::unique_ptr<uint8_t[]> copy(new uint8_t[n == 0 ? 1 : n]);
            if (n) std::memcpy(copy.get(), c.input.data(), n);
            const Frame f = ParseFrame(std::span<const uint8_t>(copy.get(), n));
            if (n == c.input.size()) {
                ExpectFrame(c, std::span<const uint8_t>(copy.get(), n));
            } else if (c.status == FrameStatus::Done && n < c.consumed) {
                EXPECT_EQ(f.status, FrameStatus::NeedMore) << n;
            }
        }
    }
}

struct AnswerCase {
    const char* name;
    Bytes request;  // the request PDU, sent as transaction 7 to unit 1
    Bytes answer;   // the whole answer frame
    AnswerStatus status;
    uint8_t exception;
    std::vector<uint16_t> registers;
    std::vector<bool> bits;
};

TEST(ModbusFrames, AnswersCheckedAgainstTheirRequest) {
    using S = AnswerStatus;
    const Bytes read3 = ReadPdu(3, 0, 2);
    const Bytes read1 = ReadPdu(1, 0, 10);
    const AnswerCase cases[] = {
        {"two registers",
         read3,
         {0, 7, 0, 0, 0, 7, 1, 0x03, 0x04, 0x00, 0x2A, 0xFF, 0xFE},
         S::Ok,
         0,
         {42, 0xFFFE},
         {}},
        {"ten coils",
         read1,
         {0, 7, 0, 0, 0, 5, 1, 0x01, 0x02, 0b10000101, 0b00000010},
         S::Ok,
         0,
         {},
         {true, false, true, false, false, false, false, true, false, true}},
        {"another transaction",
         read3,
         {0, 8, 0, 0, 0, 7, 1, 0x03, 0x04, 0, 1, 0, 2},
         S::NotOurs,
         0,
         {},
         {}},
        {"another unit",
         read3,
         {0, 7, 0, 0, 0, 7, 2, 0x03, 0x04, 0, 1, 0, 2},
         S::NotOurs,
         0,
         {},
         {}},
        {"another function",
         read3,
         {0, 7, 0, 0, 0, 7, 1, 0x04, 0x04, 0, 1, 0, 2},
         S::NotOurs,
         0,
         {},
         {}},
        {"exception", read3, {0, 7, 0, 0, 0, 3, 1, 0x83, 0x02}, S::Exception, 2, {}, {}},
        {"exception of another function",
         read3,
         {0, 7, 0, 0, 0, 3, 1, 0x84, 0x02},
         S::NotOurs,
         0,
         {},
         {}},
        {"exception without its code", read3, {0, 7, 0, 0, 0, 2, 1, 0x83}, S::Malformed, 0, {}, {}},
        {"exception too long",
         read3,
         {0, 7, 0, 0, 0, 4, 1, 0x83, 0x02, 0x00},
         S::Malformed,
         0,
         {},
         {}},
        {"byte count too small",
         read3,
         {0, 7, 0, 0, 0, 5, 1, 0x03, 0x02, 0, 1},
         S::Malformed,
         0,
         {},
         {}},
        {"byte count past the data",
         read3,
         {0, 7, 0, 0, 0, 5, 1, 0x03, 0x04, 0, 1},
         S::Malformed,
         0,
         {},
         {}},
        {"data past the byte count",
         read3,
         {0, 7, 0, 0, 0, 8, 1, 0x03, 0x04, 0, 1, 0, 2, 9},
         S::Malformed,
         0,
         {},
         {}},
        {"no byte count", read3, {0, 7, 0, 0, 0, 2, 1, 0x03}, S::Malformed, 0, {}, {}},
        {"coil write echo",
         WriteCoilPdu(3, true),
         {0, 7, 0, 0, 0, 6, 1, 0x05, 0, 3, 0xFF, 0},
         S::Ok,
         0,
         {},
         {}},
        {"register write echo",
         WriteRegisterPdu(3, 9),
         {0, 7, 0, 0, 0, 6, 1, 0x06, 0, 3, 0, 9},
         S::Ok,
         0,
         {},
         {}},
        {"register write with another value",
         WriteRegisterPdu(3, 9),
         {0, 7, 0, 0, 0, 6, 1, 0x06, 0, 3, 0, 8},
         S::Malformed,
         0,
         {},
         {}},
        {"two registers written",
         WriteRegistersPdu(3, std::vector<uint16_t>{1, 2}),
         {0, 7, 0, 0, 0, 6, 1, 0x10, 0, 3, 0, 2},
         S::Ok,
         0,
         {},
         {}},
        {"mask write echo",
         MaskWritePdu(4, 0xFFFE, 0x0001),
         {0, 7, 0, 0, 0, 8, 1, 0x16, 0, 4, 0xFF, 0xFE, 0x00, 0x01},
         S::Ok,
         0,
         {},
         {}},
        {"mask write not served",
         MaskWritePdu(4, 0xFFFE, 0x0001),
         {0, 7, 0, 0, 0, 3, 1, 0x96, 0x01},
         S::Exception,
         1,
         {},
         {}},
        {"short echo",
         WriteRegisterPdu(3, 9),
         {0, 7, 0, 0, 0, 4, 1, 0x06, 0, 3},
         S::Malformed,
         0,
         {},
         {}},
        {"request of a function not sent",
         Bytes{0x2B, 0x0E, 0x01, 0x00, 0x00},
         {0, 7, 0, 0, 0, 3, 1, 0x2B, 0x00},
         S::Malformed,
         0,
         {},
         {}},
        {"request too short",
         Bytes{0x03, 0x00},
         {0, 7, 0, 0, 0, 3, 1, 0x03, 0x00},
         S::Malformed,
         0,
         {},
         {}},
    };
    for (const AnswerCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Frame f = ParseFrame(c.answer);
        ASSERT_EQ(f.status, FrameStatus::Done);
        ASSERT_EQ(f.consumed, c.answer.size());
        const Answer a = ParseAnswer(f, 7, 1, c.request);
        EXPECT_EQ(a.status, c.status);
        EXPECT_EQ(a.exception, c.exception);
        EXPECT_EQ(a.registers, c.registers);
        EXPECT_EQ(a.bits, c.bits);
    }
    // A frame not parsed whole is never an answer.
    EXPECT_EQ(ParseAnswer(Frame{}, 7, 1, read3).status, AnswerStatus::Malformed);
}

TEST(ModbusFrames, ValuesAsThePageShowsThem) {
    struct Case {
        const char* variable;
        std::vector<uint16_t> values;
        const char* text;  // nullptr: no text
    };
    const Case cases[] = {
        {"co0", {1}, "1"},
        {"di0", {0}, "0"},
        {"hr0", {65535}, "65535"},
        {"hr0:s16", {65535}, "-1"},
        {"hr0:s16", {32767}, "32767"},
        {"ir0:u32", {0x0001, 0x0002}, "65538"},
        {"ir0:u32le", {0x0002, 0x0001}, "65538"},
        {"hr0:s32", {0xFFFE, 0xEE90}, "-70000"},
        {"hr0:s32le", {0xEE90, 0xFFFE}, "-70000"},
        {"hr0:u32", {0xFFFF, 0xFFFF}, "4294967295"},
        {"hr0:f32", {0x3FC0, 0x0000}, "1.5"},
        {"hr0:f32le", {0x0000, 0x3FC0}, "1.5"},
        {"hr0:f32", {0x4049, 0x0FDB}, "3.14159"},
        {"hr0:f32", {0xC2F6, 0xE979}, "-123.456"},
        {"hr0:f32", {0x7F80, 0x0000}, "inf"},
        {"hr0.3", {0x0008}, "1"},
        {"hr0.2", {0x0008}, "0"},
        {"hr0.15", {0x8000}, "1"},
        {"hr0:u32", {1}, nullptr},
        {"hr0", {}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.variable);
        std::optional<std::string> text = FormatValue(Named(c.variable), c.values);
        ASSERT_EQ(text.has_value(), c.text != nullptr);
        if (text) {
            EXPECT_EQ(*text, c.text);
        }
    }
}

TEST(ModbusFrames, WrittenValues) {
    struct Case {
        const char* variable;
        const char* text;
        bool encoded;
        std::vector<uint16_t> values;
        Bytes pdu;
    };
    const Case cases[] = {
        {"co5", "1", true, {1}, {0x05, 0x00, 0x05, 0xFF, 0x00}},
        {"co5", "0", true, {0}, {0x05, 0x00, 0x05, 0x00, 0x00}},
        {"co5", "7", true, {1}, {0x05, 0x00, 0x05, 0xFF, 0x00}},
        {"co5", "on", false, {}, {}},
        {"hr1", "3", true, {3}, {0x06, 0x00, 0x01, 0x00, 0x03}},
        {"hr1", " +65535 ", true, {65535}, {0x06, 0x00, 0x01, 0xFF, 0xFF}},
        {"hr1", "-1", true, {65535}, {0x06, 0x00, 0x01, 0xFF, 0xFF}},
        {"hr1:s16", "-32768", true, {0x8000}, {0x06, 0x00, 0x01, 0x80, 0x00}},
        {"hr1", "65536", false, {}, {}},
        {"hr1", "-32769", false, {}, {}},
        {"hr1", "1.5", false, {}, {}},
        {"hr1", "", false, {}, {}},
        {"hr1", "12abc", false, {}, {}},
        {"hr2:u32", "65538", true, {1, 2}, {0x10, 0x00, 0x02, 0x00, 0x02, 0x04, 0, 1, 0, 2}},
        {"hr2:u32le", "65538", true, {2, 1}, {0x10, 0x00, 0x02, 0x00, 0x02, 0x04, 0, 2, 0, 1}},
        {"hr2:s32",
         "-70000",
         true,
         {0xFFFE, 0xEE90},
         {0x10, 0x00, 0x02, 0x00, 0x02, 0x04, 0xFF, 0xFE, 0xEE, 0x90}},
        {"hr2:s32le",
         "-70000",
         true,
         {0xEE90, 0xFFFE},
         {0x10, 0x00, 0x02, 0x00, 0x02, 0x04, 0xEE, 0x90, 0xFF, 0xFE}},
        {"hr2:u32", "4294967296", false, {}, {}},
        {"hr2:f32",
         "1.5",
         true,
         {0x3FC0, 0},
         {0x10, 0x00, 0x02, 0x00, 0x02, 0x04, 0x3F, 0xC0, 0, 0}},
        {"hr2:f32le",
         "1.5",
         true,
         {0, 0x3FC0},
         {0x10, 0x00, 0x02, 0x00, 0x02, 0x04, 0, 0, 0x3F, 0xC0}},
        {"hr2:f32", "-2", true, {0xC000, 0}, {0x10, 0x00, 0x02, 0x00, 0x02, 0x04, 0xC0, 0, 0, 0}},
        {"hr2:f32", "x", false, {}, {}},
        {"hr4.0", "1", true, {1}, {0x16, 0x00, 0x04, 0xFF, 0xFE, 0x00, 0x01}},
        {"hr4.15", "1", true, {1}, {0x16, 0x00, 0x04, 0x7F, 0xFF, 0x80, 0x00}},
        {"hr4.15", "0", true, {0}, {0x16, 0x00, 0x04, 0x7F, 0xFF, 0x00, 0x00}},
        {"di0", "1", false, {}, {}},
        {"ir0", "1", false, {}, {}},
        {"ir0:f32", "1", false, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.variable) + "=" + c.text);
        const Variable v = Named(c.variable);
        std::optional<std::vector<uint16_t>> values = EncodeValue(v, c.text);
        ASSERT_EQ(values.has_value(), c.encoded);
        if (!values) continue;
        EXPECT_EQ(*values, c.values);
        std::optional<Bytes> pdu = WritePdu(v, *values);
        ASSERT_TRUE(pdu.has_value());
        EXPECT_EQ(*pdu, c.pdu);
    }
    const uint16_t one[] = {1};
    EXPECT_FALSE(WritePdu(Named("ir0"), one).has_value());
    EXPECT_FALSE(WritePdu(Named("hr0:u32"), one).has_value());
}

struct PlanBlock {
    Table table;
    uint16_t address, count;
    std::vector<size_t> members;
};

TEST(ModbusFrames, AdjacentReadsShareOneRequest) {
    using T = Table;
    struct Case {
        const char* name;
        std::vector<const char*> variables;
        std::vector<PlanBlock> blocks;
    };
    std::vector<const char*> ten;
    for (const char* n : {"hr0", "hr1", "hr2", "hr3", "hr4", "hr5", "hr6", "hr7", "hr8", "hr9"})
        ten.push_back(n);
    // hr0 to hr123, then a pair at 124 and 125 that would make the block 126 registers long.
    std::vector<std::string> names;
    for (int i = 0; i < 124; ++i) names.push_back("hr" + std::to_string(i));
    names.push_back("hr124:u32");
    std::vector<const char*> past;
    std::vector<size_t> first124;
    for (const std::string& n : names) past.push_back(n.c_str());
    for (size_t i = 0; i < 124; ++i) first124.push_back(i);
    // hr0 to hr125: the first 125 in one request, the last alone.
    std::vector<std::string> names126;
    for (int i = 0; i < 126; ++i) names126.push_back("hr" + std::to_string(i));
    std::vector<const char*> full;
    std::vector<size_t> first125;
    for (const std::string& n : names126) full.push_back(n.c_str());
    for (size_t i = 0; i < 125; ++i) first125.push_back(i);
    const Case cases[] = {
        {"one", {"hr3"}, {{T::HoldingRegister, 3, 1, {0}}}},
        {"ten adjacent", ten, {{T::HoldingRegister, 0, 10, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}}}},
        {"out of order", {"hr2", "hr0", "hr1"}, {{T::HoldingRegister, 0, 3, {1, 2, 0}}}},
        {"a gap splits",
         {"hr0", "hr2"},
         {{T::HoldingRegister, 0, 1, {0}}, {T::HoldingRegister, 2, 1, {1}}}},
        {"two-register forms",
         {"hr0:f32", "hr2", "hr3:u32le"},
         {{T::HoldingRegister, 0, 5, {0, 1, 2}}}},
        {"overlap and repeats",
         {"hr0:u32", "hr1", "hr1.4", "hr0"},
         {{T::HoldingRegister, 0, 2, {0, 3, 1, 2}}}},
        {"tables apart",
         {"hr0", "ir1", "ir0", "hr1"},
         {{T::HoldingRegister, 0, 2, {0, 3}}, {T::InputRegister, 0, 2, {2, 1}}}},
        {"bits",
         {"co1", "co0", "di0", "co5"},
         {{T::Coil, 0, 2, {1, 0}}, {T::Coil, 5, 1, {3}}, {T::DiscreteInput, 0, 1, {2}}}},
        {"125 registers at most",
         full,
         {{T::HoldingRegister, 0, 125, first125}, {T::HoldingRegister, 125, 1, {125}}}},
        {"a pair across the limit",
         past,
         {{T::HoldingRegister, 0, 124, first124}, {T::HoldingRegister, 124, 2, {124}}}},
        {"top of the address range",
         {"hr65534", "hr65535"},
         {{T::HoldingRegister, 65534, 2, {0, 1}}}},
        {"none", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Variable> vars;
        for (const char* n : c.variables) vars.push_back(Named(n));
        const std::vector<ReadBlock> blocks = PlanReads(vars);
        ASSERT_EQ(blocks.size(), c.blocks.size());
        for (size_t i = 0; i < blocks.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(blocks[i].table, c.blocks[i].table);
            EXPECT_EQ(blocks[i].address, c.blocks[i].address);
            EXPECT_EQ(blocks[i].count, c.blocks[i].count);
            EXPECT_EQ(blocks[i].members, c.blocks[i].members);
        }
    }
}

}  // namespace
}  // namespace tsr::modbus
