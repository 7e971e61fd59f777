// The runtime block, byte for byte, and the runtime socket's query and answer.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <vector>

#include "gateways/corvane/block.h"
#include "gateways/corvane/frames.h"

namespace tsr::corvane {
namespace {

using Words = std::array<uint16_t, 9>;

TEST(CorvaneBlock, RequestsWordByWord) {
    struct Case {
        const char* name;
        RuntimeBlock block;
        Words expected;
    } cases[] = {
        {"status request", StatusRequestBlock(), {0x0B00, 2, 0, 0, 0xFFFF, 0xFFFF, 0xFFFF, 0, 0}},
        {"result", CommandBlock(kDirectResult), {0x0B01, 2, 0, 0, 0, 0, 0, 0, 0}},
        {"read m200", DirectReadBlock({kWord, 200}), {0x0B00, 2, 0, 5, 200, 0, 0, 0, 0}},
        {"write b3=F1", DirectWriteBlock({kBit, 3}, 3), {0x0B00, 2, 0, 0x0100, 3, 0x0302, 0, 0, 0}},
        {"write b3=/", DirectWriteBlock({kBit, 3}, -1), {0x0B00, 2, 0, 0x0100, 3, 0x0502, 0, 0, 0}},
        {"write i1=1",
         DirectWriteBlock({kInput, 1}, 1),
         {0x0B00, 2, 0, 0x0100, 1, 0x0100, 0, 0, 0}},
        {"write m7=-2",
         DirectWriteBlock({kWord, 7}, -2),
         {0x0B00, 2, 0, 0x0100, 7, 5, 0xFFFE, 0, 0}},
        {"write t7 keeps 16 bits",
         DirectWriteBlock({kTimer, 7}, 0x12345678),
         {0x0B00, 2, 0, 0x0100, 7, 3, 0x5678, 0, 0}},
        {"write f10=1.5",
         DirectWriteBlock({kFloat, 10}, 0x3FC00000),
         {0x0B00, 2, 0, 0x01C0, 10, 0x3F06, 0x0000, 0, 0}},
        {"write l1",
         DirectWriteBlock({kLong, 1}, 0x12345678),
         {0x0B00, 2, 0, 0x0134, 1, 0x1207, 0x5678, 0, 0}},
        {"list add", ListAddBlock({kFloat, 9}), {0x0E00, 2, 0, 6, 9, 0, 0, 0, 0}},
        {"list begin", CommandBlock(kListBegin), {0x0D00, 2, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) EXPECT_EQ(c.block.words, c.expected) << c.name;
}

TEST(CorvaneBlock, EncodesLittleEndianAndBack) {
    const RuntimeBlock block = DirectWriteBlock({kFloat, 0x0102}, 0x3FC00000);
    const BlockBytes bytes = EncodeBlock(block);
    const BlockBytes expected = {0x00, 0x0B, 0x02, 0x00, 0x00, 0x00, 0xC0, 0x01, 0x02,
                                 0x01, 0x06, 0x3F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(DecodeBlock(bytes), block);
}

TEST(CorvaneBlock, DecodesValues) {
    auto answer = [](uint16_t w3, uint16_t w5, uint16_t w6) {
        RuntimeBlock b;
        b.words[3] = w3;
        b.words[5] = w5;
        b.words[6] = w6;
        return b;
    };
    struct Case {
        const char* name;
        uint16_t type;
        RuntimeBlock block;
        uint32_t expected;
    } cases[] = {
        {"bit set (low byte 0)", kBit, answer(0x0700, 9, 9), 1},
        {"bit clear", kOutput, answer(0x0001, 0, 0), 0},
        {"word", kWord, answer(0, 0xFFFE, 0x1234), 0xFFFE},
        {"counter", kCounter, answer(0, 7, 1), 7},
        {"long", kLong, answer(0, 0x5678, 0x1234), 0x12345678},
        {"timer", kTimer, answer(0, 1, 1), 0x00010001},
        {"float unswapped", kFloat, answer(0, 0x3FC0, 0), 0x00003FC0},
    };
    for (const auto& c : cases) EXPECT_EQ(DecodeValue(c.type, c.block), c.expected) << c.name;
    EXPECT_EQ(VariableStatus(answer(0x4200, 0, 0)), 0x42);
}

TEST(CorvaneFrames, QueryBytes) {
    EXPECT_EQ(BuildRuntimeQuery(), (std::array<uint8_t, 4>{0x78, 0x56, 0x34, 0x12}));
}

TEST(CorvaneFrames, RuntimeAnswers) {
    using Kind = RuntimeAnswer::Kind;
    const std::vector<uint8_t> path = {5, 0, '/', 'a', '/', 'r', 't'};
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        Kind kind;
        size_t needed;
        const char* path;
    } cases[] = {
        {"nothing", {}, Kind::NeedMore, 2, ""},
        {"half a length", {5}, Kind::NeedMore, 2, ""},
        {"no path", {0, 0}, Kind::NoPath, 2, ""},
        {"length only", {5, 0}, Kind::NeedMore, 7, ""},
        {"part of the path", {5, 0, '/', 'a'}, Kind::NeedMore, 7, ""},
        {"whole", path, Kind::Path, 7, "/a/rt"},
        {"too long", {0xFF, 0xFF}, Kind::Malformed, 2, ""},
        {"longest", {0xFF, 0x0F}, Kind::NeedMore, 4097, ""},
        {"zero byte", {2, 0, 'a', 0}, Kind::Malformed, 4, ""},
    };
    for (const auto& c : cases) {
        const RuntimeAnswer a = ParseRuntimeAnswer(c.bytes);
        EXPECT_EQ(a.kind, c.kind) << c.name;
        EXPECT_EQ(a.needed, c.needed) << c.name;
        EXPECT_EQ(a.path, c.path) << c.name;
    }
}

TEST(CorvaneFrames, LibraryPath) {
    EXPECT_EQ(LibraryPathFor("/opt/corvane/bin/runtime"), "/opt/corvane/bin/orvo8.so");
    EXPECT_EQ(LibraryPathFor("/runtime"), "/orvo8.so");
    EXPECT_EQ(LibraryPathFor("/opt/x/"), "/opt/x/orvo8.so");
    EXPECT_EQ(LibraryPathFor("runtime"), "");
    EXPECT_EQ(LibraryPathFor(""), "");
}

TEST(CorvaneFrames, OnlySafeLibraryFilesLoad) {
    constexpr uid_t self = 1000, other = 1001, root = 0;
    struct Case {
        const char* name;
        mode_t mode;
        uid_t owner;
        bool safe;
    } cases[] = {
        {"own, 0755", S_IFREG | 0755, self, true},
        {"own, 0600", S_IFREG | 0600, self, true},
        {"the system's, 0644", S_IFREG | 0644, root, true},
        {"another user's", S_IFREG | 0755, other, false},
        {"group may write", S_IFREG | 0775, self, false},
        {"anyone may write", S_IFREG | 0757, root, false},
        {"a directory", S_IFDIR | 0755, self, false},
        {"a FIFO", S_IFIFO | 0644, self, false},
        {"a socket", S_IFSOCK | 0755, self, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsSafeLibraryFile(c.mode, c.owner, self), c.safe) << c.name;
}

}  // namespace
}  // namespace tsr::corvane
