#include "gateways/corvane/block.h"

namespace tsr::corvane {
namespace {

void PutLe16(uint8_t* at, uint16_t v) {
    at[0] = static_cast<uint8_t>(v & 0xFF);
    at[1] = static_cast<uint8_t>(v >> 8);
}

uint16_t GetLe16(const uint8_t* at) {
    return static_cast<uint16_t>(at[0] | (at[1] << 8));
}

}  // namespace

BlockBytes EncodeBlock(const RuntimeBlock& block) {
    BlockBytes bytes{};
    for (size_t i = 0; i < block.words.size(); ++i) PutLe16(&bytes[2 * i], block.words[i]);
    return bytes;
}

RuntimeBlock DecodeBlock(const BlockBytes& bytes) {
    RuntimeBlock block;
    for (size_t i = 0; i < block.words.size(); ++i) block.words[i] = GetLe16(&bytes[2 * i]);
    return block;
}

RuntimeBlock CommandBlock(uint16_t command) {
    RuntimeBlock block;
    block.words[0] = command;  // the command
    block.words[1] = 2;        // always 2
    block.words[2] = 0;        // always 0
    return block;
}

RuntimeBlock StatusRequestBlock() {
    RuntimeBlock block = CommandBlock(kDirectStart);
    block.words[3] = 0x0000;  // no type: the status request
    block.words[4] = 0xFFFF;
    block.words[5] = 0xFFFF;
    block.words[6] = 0xFFFF;
    return block;
}

RuntimeBlock DirectReadBlock(Variable variable) {
    RuntimeBlock block = CommandBlock(kDirectStart);
    block.words[3] = variable.type;   // read: the type code
    block.words[4] = variable.index;  // the variable index
    return block;
}

RuntimeBlock DirectWriteBlock(Variable variable, int32_t value) {
    const uint32_t bits = static_cast<uint32_t>(value);
    RuntimeBlock block = CommandBlock(kDirectStart);
    block.words[3] = 0x0100;          // write
    block.words[4] = variable.index;  // the variable index
    block.words[5] = variable.type;   // the type code in the low byte
    if (IsBitType(variable.type)) {
        const uint16_t command = value == -1 ? 5 : static_cast<uint16_t>(bits & 0xFF);
        block.words[5] |= static_cast<uint16_t>(command << 8);  // the bit command, high byte
        return block;
    }
    block.words[6] = static_cast<uint16_t>(bits & 0xFFFF);  // value, low 16 bits
    if (variable.type == kFloat || variable.type == kLong) {
        block.words[3] |= static_cast<uint16_t>((bits >> 16) & 0xFF);         // bits 16..23
        block.words[5] |= static_cast<uint16_t>(((bits >> 24) & 0xFF) << 8);  // bits 24..31
    }
    return block;
}

RuntimeBlock ListAddBlock(Variable variable) {
    RuntimeBlock block = CommandBlock(kListAdd);
    block.words[3] = variable.type & 0x7FFF;  // the type code, top bit cleared
    block.words[4] = variable.index;          // the variable index
    return block;
}

uint32_t DecodeValue(uint16_t type, const RuntimeBlock& answer) {
    if (IsBitType(type)) return (answer.words[3] & 0xFF) == 0 ? 1 : 0;
    if (type == kCounter || type == kWord) return answer.words[5];
    return (static_cast<uint32_t>(answer.words[6]) << 16) | answer.words[5];
}

}  // namespace tsr::corvane
