// Fuzzes the reading of a KX exchange block as the other program may have left it: the input is
// the start of the block (the rest is zero). Every record the parser accepts must lie inside the
// block and agree with its own size; a rebuilt record must read back the same; a span shorter
// than a block is refused without being read past its end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gateways/kx/block.h"
#include "gateways/kx/values.h"

namespace {

using namespace tsr::kx;

void Check(bool condition) {
    if (!condition) abort();
}

// A record the parser accepted lies inside the block and is consistent with its size.
void CheckRecord(const std::vector<uint8_t>& block, size_t offset, const Record& r) {
    Check(r.size >= kRecordOverhead && r.size == r.name.size() + kRecordOverhead);
    Check(kRecordsOffset + offset + r.size <= kBlockSize);
    const auto* base = reinterpret_cast<const char*>(block.data());
    Check(r.name.data() == base + kRecordsOffset + offset + 4);
    Check(std::memchr(r.name.data(), 0, r.name.size()) == nullptr);
    Check(r.name.data()[r.name.size()] == 0);
}

// The same name and value appended to a fresh block parse back unchanged.
void CheckRoundTrip(const Record& r) {
    std::vector<uint8_t> fresh(kBlockSize, 0);
    size_t offset = 0;
    Check(AppendRecord(fresh, &offset, r.name, r.low, r.high) == BlockError::None);
    Check(offset == r.size);
    Record back;
    Check(ParseRecord(fresh, 0, &back) == BlockError::None);
    Check(back.name == r.name && back.low == r.low && back.high == r.high && back.size == r.size);
    Check(back.type == 0 && back.status == 0);
    StoreWord(fresh, kCountOffset, 1);
    Check(ParseFirstAnswer(fresh, r.name, &back) == BlockError::None);
    Check(WriteAnswer(fresh, 0, r.type, r.status, r.low, r.high) == BlockError::None);
    Check(ParseRecord(fresh, 0, &back) == BlockError::None);
    Check(back.type == r.type && back.status == r.status);
}

void CheckValues(const Record& r) {
    const std::string name = KxName(r.name);
    Check(name.size() == r.name.size());
    const std::string text = FormatValue(r.type, {r.low, r.high});
    Check(!text.empty() && text.size() < 40);
    EncodeValue(r.type, r.name);
    EncodeValue(kTypeSingle, r.name);
    EncodeValue(kTypeDouble, r.name);
    const WriteParts parts = SplitWriteItem(r.name);
    Check(parts.name.size() <= r.name.size());
}

// Walks the records as the count says, as a KX program answering a batch would.
void WalkRecords(std::vector<uint8_t>& block) {
    const uint32_t count = LoadWord(block, kCountOffset);
    size_t offset = 0;
    for (uint32_t i = 0; i < count && i < 64; ++i) {
        Record r;
        const BlockError e = ParseRecord(block, offset, &r);
        if (e != BlockError::None) {
            Check(WriteAnswer(block, offset, 1, 2, 3, 4) == e);
            return;
        }
        CheckRecord(block, offset, r);
        CheckRoundTrip(r);
        CheckValues(r);
        // Answering the record changes its answer fields only: it still parses the same way.
        Check(WriteAnswer(block, offset, 1, 2, 3, 4) == BlockError::None);
        Record answered;
        Check(ParseRecord(block, offset, &answered) == BlockError::None);
        Check(answered.name == r.name && answered.size == r.size && answered.type == 1 &&
              answered.status == 2 && answered.low == 3 && answered.high == 4);
        offset += r.size;
    }
}

// A span holding only the input (shorter than a block) is refused, never read past its end.
void CheckShortSpan(const uint8_t* data, size_t size) {
    if (size >= kBlockSize) return;
    std::vector<uint8_t> exact(data, data + size);
    Record r;
    Check(ParseRecord(exact, 0, &r) == BlockError::ShortBlock);
    Check(ParseFirstAnswer(exact, "", &r) == BlockError::ShortBlock);
    Check(WriteAnswer(exact, 0, 0, 0, 0, 0) == BlockError::ShortBlock);
    size_t offset = 0;
    Check(AppendRecord(exact, &offset, "x", 0, 0) == BlockError::ShortBlock);
    Check(!ClaimOwner(exact, 1));
    for (size_t at = 0; at < kRecordsOffset; at += 4) LoadWord(exact, at);
    ClearFrom(exact, 0);
    Check(exact == std::vector<uint8_t>(size, 0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> block(kBlockSize, 0);
    std::memcpy(block.data(), data, size < kBlockSize ? size : kBlockSize);

    const uint32_t status = LoadWord(block, kCommandOffset);
    for (Command c : {Command::Read, Command::Write, Command::QueryTypes, Command::Check}) {
        const StatusKind kind = ClassifyStatus(c, status, c != Command::Check);
        if (kind == StatusKind::Done) Check(status == kDoneBase + static_cast<uint32_t>(c));
    }

    Record first;
    if (ParseRecord(block, 0, &first) == BlockError::None) {
        Record answer;
        const BlockError e = ParseFirstAnswer(block, first.name, &answer);
        Check(e == BlockError::None || e == BlockError::BadCount);
        if (e == BlockError::None) Check(answer.name == first.name && answer.size == first.size);
    }
    WalkRecords(block);
    CheckShortSpan(data, size);
    return 0;
}
