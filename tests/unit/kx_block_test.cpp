// The KX block layout: records built and parsed byte for byte, every size checked against the
// block, the header words and the status classification.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gateways/kx/block.h"

namespace tsr::kx {
namespace {

std::vector<uint8_t> NewBlock(size_t size = kBlockSize) {
    return std::vector<uint8_t>(size, 0);
}

TEST(KxBlock, AppendRecordWritesTheLayoutByteForByte) {
    std::vector<uint8_t> block = NewBlock();
    size_t offset = 0;
    ASSERT_EQ(AppendRecord(block, &offset, "%MW0@XPI#1", 0x11223344, 0xAABBCCDD), BlockError::None);
    EXPECT_EQ(offset, 27u);
    const std::vector<uint8_t> expected = {
        27,   0,                                                  // record size 10 + 17
        0,    0,                                                  // always 0
        '%',  'M',  'W',  '0',  '@', 'X', 'P', 'I', '#', '1', 0,  // name and terminator
        0,    0,                                                  // type
        0,    0,                                                  // status
        0x44, 0x33, 0x22, 0x11,                                   // value low
        0xDD, 0xCC, 0xBB, 0xAA,                                   // value high
    };
    EXPECT_EQ(std::vector<uint8_t>(block.begin() + 20, block.begin() + 20 + 27), expected);
    EXPECT_EQ(block[20 + 27], 0);

    ASSERT_EQ(AppendRecord(block, &offset, "", 1, 2), BlockError::None);
    EXPECT_EQ(offset, 27u + 17u);
    EXPECT_EQ(block[20 + 27], 17);
}

TEST(KxBlock, ParseRecordReadsTheAnswerFields) {
    std::vector<uint8_t> block = NewBlock();
    size_t offset = 0;
    ASSERT_EQ(AppendRecord(block, &offset, "a@b", 0, 0), BlockError::None);
    ASSERT_EQ(WriteAnswer(block, 0, 6, 0xFB2E, 0x01020304, 0x05060708), BlockError::None);
    // type at size-12, status at size-10, value halves at size-8 and size-4
    const size_t size = 3 + 17;
    EXPECT_EQ(block[20 + size - 12], 6);
    EXPECT_EQ(block[20 + size - 10], 0x2E);
    EXPECT_EQ(block[20 + size - 9], 0xFB);
    EXPECT_EQ(block[20 + size - 8], 0x04);
    EXPECT_EQ(block[20 + size - 1], 0x05);
    Record r;
    ASSERT_EQ(ParseRecord(block, 0, &r), BlockError::None);
    EXPECT_EQ(r.name, "a@b");
    EXPECT_EQ(r.type, 6);
    EXPECT_EQ(r.status, 0xFB2E);
    EXPECT_EQ(r.low, 0x01020304u);
    EXPECT_EQ(r.high, 0x05060708u);
    EXPECT_EQ(r.size, size);
}

TEST(KxBlock, AppendRecordRefusesWhatDoesNotFit) {
    const size_t room = kBlockSize - kRecordsOffset;  // 65516 bytes of records
    struct Case {
        const char* name;
        size_t offset;
        size_t nameLength;
        size_t blockSize;
        BlockError expected;
    };
    const Case cases[] = {
        {"ends exactly at 65535", room - 17 - 5, 5, kBlockSize, BlockError::None},
        {"one byte beyond", room - 17 - 5 + 1, 5, kBlockSize, BlockError::BatchFull},
        {"largest name alone", 0, room - 17, kBlockSize, BlockError::None},
        {"name one too long", 0, room - 16, kBlockSize, BlockError::BatchFull},
        {"offset past the area", room + 1, 0, kBlockSize, BlockError::BatchFull},
        {"huge offset", static_cast<size_t>(-1), 0, kBlockSize, BlockError::BatchFull},
        {"short block", 0, 1, kBlockSize - 1, BlockError::ShortBlock},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> block = NewBlock(c.blockSize);
        size_t offset = c.offset;
        EXPECT_EQ(AppendRecord(block, &offset, std::string(c.nameLength, 'n'), 0, 0), c.expected)
            << c.name;
        if (c.expected != BlockError::None) {
            EXPECT_EQ(offset, c.offset) << c.name;
            EXPECT_EQ(block, NewBlock(c.blockSize)) << c.name << ": nothing written";
        }
    }
    std::vector<uint8_t> block = NewBlock();
    size_t offset = 0;
    EXPECT_EQ(AppendRecord(block, &offset, std::string("a\0b", 3), 0, 0), BlockError::NameHasZero);
}

// A record "abc" at records offset `at` whose size field and bytes are then altered.
struct LyingCase {
    const char* name;
    size_t at;      // records offset of the record
    int sizeField;  // -1: keep the size written
    int zapByte;    // record byte to set to 'X', -1: none
    size_t readAt;  // where the parser is asked to read
    BlockError expected;
};

TEST(KxBlock, ParseRecordChecksEverySizeAgainstTheBlock) {
    const size_t room = kBlockSize - kRecordsOffset;
    const LyingCase cases[] = {
        {"sound record", 0, -1, -1, 0, BlockError::None},
        {"sound record ending at 65535", room - 20, -1, -1, room - 20, BlockError::None},
        {"size 0xFFFF", 0, 0xFFFF, -1, 0, BlockError::RecordPastEnd},
        {"size passes 65535 by one", room - 20, 21, -1, room - 20, BlockError::RecordPastEnd},
        {"size 0", 0, 0, -1, 0, BlockError::RecordTooSmall},
        {"size 16", 0, 16, -1, 0, BlockError::RecordTooSmall},
        {"terminator overwritten", 0, -1, 7, 0, BlockError::NameUnterminated},
        {"size larger than the name", 0, 24, -1, 0, BlockError::NameLengthMismatch},
        {"size smaller than the name", 0, 19, -1, 0, BlockError::NameUnterminated},
        {"size field itself at the end", 0, -1, -1, room - 2, BlockError::RecordPastEnd},
        {"read offset past the area", 0, -1, -1, room + 1, BlockError::RecordPastEnd},
        {"read offset huge", 0, -1, -1, static_cast<size_t>(-1) - 10, BlockError::RecordPastEnd},
    };
    for (const LyingCase& c : cases) {
        std::vector<uint8_t> block = NewBlock();
        size_t offset = c.at;
        ASSERT_EQ(AppendRecord(block, &offset, "abc", 7, 8), BlockError::None) << c.name;
        uint8_t* r = block.data() + kRecordsOffset + c.at;
        if (c.sizeField >= 0) {
            r[0] = static_cast<uint8_t>(c.sizeField);
            r[1] = static_cast<uint8_t>(c.sizeField >> 8);
        }
        if (c.zapByte >= 0) r[c.zapByte] = 'X';
        Record rec;
        EXPECT_EQ(ParseRecord(block, c.readAt, &rec), c.expected) << c.name;
        if (c.expected == BlockError::None) {
            EXPECT_EQ(rec.name, "abc") << c.name;
        }
        EXPECT_EQ(WriteAnswer(block, c.readAt, 1, 2, 3, 4), c.expected) << c.name;
    }
    Record rec;
    std::vector<uint8_t> shortBlock = NewBlock(kBlockSize - 1);
    EXPECT_EQ(ParseRecord(shortBlock, 0, &rec), BlockError::ShortBlock);
}

TEST(KxBlock, ParseFirstAnswerChecksCountAndName) {
    struct Case {
        const char* name;
        uint32_t count;
        const char* sent;
        BlockError expected;
    };
    const Case cases[] = {
        {"one record", 1, "v", BlockError::None},
        {"count 0", 0, "v", BlockError::BadCount},
        {"count beyond the block", 65516 / 17 + 1, "v", BlockError::BadCount},
        {"largest count", 65516 / 17, "v", BlockError::None},
        {"another name", 1, "w", BlockError::WrongName},
        {"a longer name", 1, "v2", BlockError::WrongName},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> block = NewBlock();
        size_t offset = 0;
        ASSERT_EQ(AppendRecord(block, &offset, "v", 0, 0), BlockError::None);
        StoreWord(block, kCountOffset, c.count);
        Record rec;
        EXPECT_EQ(ParseFirstAnswer(block, c.sent, &rec), c.expected) << c.name;
    }
}

TEST(KxBlock, HeaderWordsAreLittleEndianAndBounded) {
    std::vector<uint8_t> block = NewBlock();
    StoreWord(block, kCommandOffset, 0x01000003);
    EXPECT_EQ(block[12], 0x03);
    EXPECT_EQ(block[15], 0x01);
    EXPECT_EQ(LoadWord(block, kCommandOffset), 0x01000003u);
    StoreWord(block, kRecordsOffset, 7);  // not a header word
    EXPECT_EQ(block[20], 0);
    EXPECT_EQ(LoadWord(block, kRecordsOffset), 0u);
    std::vector<uint8_t> tiny(10, 0xFF);
    EXPECT_EQ(LoadWord(tiny, kCommandOffset), 0u);
    StoreWord(tiny, kCommandOffset, 1);
    EXPECT_EQ(tiny, std::vector<uint8_t>(10, 0xFF));
}

TEST(KxBlock, ClaimOwnerTakesOnlyAFreeBlock) {
    std::vector<uint8_t> block = NewBlock();
    EXPECT_TRUE(ClaimOwner(block, 1234));
    EXPECT_EQ(LoadWord(block, kOwnerOffset), 1234u);
    EXPECT_FALSE(ClaimOwner(block, 99));
    EXPECT_EQ(LoadWord(block, kOwnerOffset), 1234u);
    std::vector<uint8_t> shortBlock = NewBlock(4096);
    EXPECT_FALSE(ClaimOwner(shortBlock, 1));
    EXPECT_EQ(shortBlock[0], 0);
}

TEST(KxBlock, ClearFromStopsAtTheBlock) {
    std::vector<uint8_t> block(kBlockSize + 8, 0xFF);
    ClearFrom(block, kHeartbeatOffset);
    EXPECT_EQ(block[7], 0xFF);
    EXPECT_EQ(block[8], 0);
    EXPECT_EQ(block[kBlockSize - 1], 0);
    EXPECT_EQ(block[kBlockSize], 0xFF);  // beyond the block: untouched
    std::vector<uint8_t> tiny(6, 0xFF);
    ClearFrom(tiny, 0);
    EXPECT_EQ(tiny, std::vector<uint8_t>(6, 0));
}

TEST(KxBlock, ClassifyStatus) {
    struct Case {
        Command command;
        uint32_t status;
        bool workingAllowed;
        StatusKind expected;
    };
    const Case cases[] = {
        {Command::Read, 1, true, StatusKind::NotTaken},
        {Command::Read, 0x101, true, StatusKind::Working},
        {Command::Read, 0x01000001, true, StatusKind::Done},
        {Command::Read, 0x00010001, true, StatusKind::Failed},
        {Command::Read, 0, true, StatusKind::Failed},
        {Command::Read, 0x01000002, true, StatusKind::Failed},
        {Command::Write, 0x102, true, StatusKind::Working},
        {Command::QueryTypes, 0x01000003, true, StatusKind::Done},
        {Command::Check, 4, false, StatusKind::NotTaken},
        {Command::Check, 0x104, false, StatusKind::Failed},
        {Command::Check, 0x01000004, false, StatusKind::Done},
        {Command::Check, 0x00010001, false, StatusKind::Failed},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ClassifyStatus(c.command, c.status, c.workingAllowed), c.expected)
            << static_cast<int>(c.command) << " " << std::hex << c.status;
    }
}

}  // namespace
}  // namespace tsr::kx
