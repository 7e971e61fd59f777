#include "gateways/kx/block.h"

#include <atomic>
#include <bit>
#include <cstring>

namespace tsr::kx {
namespace {

// The header words are shared with another process and read while it writes them, so they go
// through atomic accesses in the host's order; the layout is little-endian.
static_assert(std::endian::native == std::endian::little,
              "the block's header words are accessed in place as little-endian words");

uint16_t get_le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t get_le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void put_le16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void put_le32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

// True when the 4-byte header word at `offset` lies inside `block` and is aligned for an atomic
// access (always so in a mapping, which starts on a page).
bool WordFits(std::span<const uint8_t> block, size_t offset) {
    if (offset > kRecordsOffset - 4 || offset + 4 > block.size()) return false;
    return reinterpret_cast<uintptr_t>(block.data() + offset) % alignof(uint32_t) == 0;
}

// The end of the records area: the block's end, or the span's when it is shorter.
size_t RecordsEnd(std::span<const uint8_t> block) {
    return block.size() < kBlockSize ? block.size() : kBlockSize;
}

// Checks the record at block offset `at` and returns its size in `*size`.
BlockError CheckRecord(std::span<const uint8_t> block, size_t at, size_t* size) {
    const size_t end = RecordsEnd(block);
    if (at > end || end - at < 4) return BlockError::RecordPastEnd;  // no room for the size field
    const size_t n = get_le16(block.data() + at);                    // record size
    if (n < kRecordOverhead) return BlockError::RecordTooSmall;
    if (n > end - at) return BlockError::RecordPastEnd;
    // The name starts at +4 and its terminator must be the last byte before the type (size - 13).
    const uint8_t* name = block.data() + at + 4;
    const size_t nameRoom = n - 16;  // name bytes plus terminator
    const void* zero = std::memchr(name, 0, nameRoom);
    if (zero == nullptr) return BlockError::NameUnterminated;
    if (static_cast<const uint8_t*>(zero) != name + nameRoom - 1)
        return BlockError::NameLengthMismatch;
    *size = n;
    return BlockError::None;
}

}  // namespace

StatusKind ClassifyStatus(Command command, uint32_t status, bool workingAllowed) {
    const uint32_t c = static_cast<uint32_t>(command);
    if (status == c) return StatusKind::NotTaken;
    if (workingAllowed && status == kWorkingBase + c) return StatusKind::Working;
    if (status == kDoneBase + c) return StatusKind::Done;
    return StatusKind::Failed;
}

const char* BlockErrorText(BlockError error) {
    switch (error) {
        case BlockError::None:
            return "ok";
        case BlockError::ShortBlock:
            return "the shared memory is shorter than a block";
        case BlockError::NameHasZero:
            return "the variable name contains a zero byte";
        case BlockError::BatchFull:
            return "the record does not fit into the block";
        case BlockError::RecordPastEnd:
            return "a record reaches beyond the block";
        case BlockError::RecordTooSmall:
            return "a record is smaller than its fixed fields";
        case BlockError::NameUnterminated:
            return "a record's name has no terminator";
        case BlockError::NameLengthMismatch:
            return "a record's name does not match its size";
        case BlockError::BadCount:
            return "the record count does not fit the block";
        case BlockError::WrongName:
            return "the answer names another variable";
    }
    return "unknown block error";
}

bool IsWholeBlock(std::span<const uint8_t> block) {
    return block.size() >= kBlockSize;
}

uint32_t LoadWord(std::span<uint8_t> block, size_t offset) {
    if (!WordFits(block, offset)) return 0;
    auto* word = reinterpret_cast<uint32_t*>(block.data() + offset);
    return std::atomic_ref<uint32_t>(*word).load(std::memory_order_acquire);
}

void StoreWord(std::span<uint8_t> block, size_t offset, uint32_t value) {
    if (!WordFits(block, offset)) return;
    auto* word = reinterpret_cast<uint32_t*>(block.data() + offset);
    std::atomic_ref<uint32_t>(*word).store(value, std::memory_order_release);
}

bool ClaimOwner(std::span<uint8_t> block, uint32_t owner) {
    if (!IsWholeBlock(block) || !WordFits(block, kOwnerOffset)) return false;
    auto* word = reinterpret_cast<uint32_t*>(block.data() + kOwnerOffset);
    uint32_t expected = 0;
    return std::atomic_ref<uint32_t>(*word).compare_exchange_strong(expected, owner,
                                                                    std::memory_order_acq_rel);
}

void ClearFrom(std::span<uint8_t> block, size_t offset) {
    const size_t end = RecordsEnd(block);
    if (offset >= end) return;
    std::memset(block.data() + offset, 0, end - offset);
    std::atomic_thread_fence(std::memory_order_release);
}

BlockError AppendRecord(std::span<uint8_t> block, size_t* writeOffset, std::string_view name,
                        uint32_t low, uint32_t high) {
    if (!IsWholeBlock(block)) return BlockError::ShortBlock;
    if (name.find('\0') != std::string_view::npos) return BlockError::NameHasZero;
    const size_t room = kBlockSize - kRecordsOffset;
    if (*writeOffset > room || name.size() > room - kRecordOverhead) return BlockError::BatchFull;
    const size_t size = name.size() + kRecordOverhead;
    if (size > room - *writeOffset) return BlockError::BatchFull;
    uint8_t* r = block.data() + kRecordsOffset + *writeOffset;
    put_le16(r, static_cast<uint16_t>(size));      // record size (fits: size <= 65516)
    put_le16(r + 2, 0);                            // always 0
    std::memcpy(r + 4, name.data(), name.size());  // variable name
    r[4 + name.size()] = 0;                        // its terminator
    put_le16(r + size - 12, 0);                    // type, filled in by the answer
    put_le16(r + size - 10, 0);                    // status, filled in by the answer
    put_le32(r + size - 8, low);                   // value, low 32 bits
    put_le32(r + size - 4, high);                  // value, high 32 bits
    *writeOffset += size;
    return BlockError::None;
}

BlockError ParseRecord(std::span<const uint8_t> block, size_t readOffset, Record* out) {
    if (!IsWholeBlock(block)) return BlockError::ShortBlock;
    if (readOffset > kBlockSize - kRecordsOffset) return BlockError::RecordPastEnd;
    const size_t at = kRecordsOffset + readOffset;
    size_t size = 0;
    if (BlockError e = CheckRecord(block, at, &size); e != BlockError::None) return e;
    const uint8_t* r = block.data() + at;
    out->name = std::string_view(reinterpret_cast<const char*>(r + 4), size - kRecordOverhead);
    out->type = get_le16(r + size - 12);
    out->status = get_le16(r + size - 10);
    out->low = get_le32(r + size - 8);
    out->high = get_le32(r + size - 4);
    out->size = size;
    return BlockError::None;
}

BlockError ParseFirstAnswer(std::span<const uint8_t> block, std::string_view sentName,
                            Record* out) {
    if (!IsWholeBlock(block)) return BlockError::ShortBlock;
    const uint32_t count = get_le32(block.data() + kCountOffset);
    if (count == 0 || count > (kBlockSize - kRecordsOffset) / kRecordOverhead)
        return BlockError::BadCount;
    Record record;
    if (BlockError e = ParseRecord(block, 0, &record); e != BlockError::None) return e;
    if (record.name != sentName) return BlockError::WrongName;
    *out = record;
    return BlockError::None;
}

BlockError WriteAnswer(std::span<uint8_t> block, size_t readOffset, uint16_t type, uint16_t status,
                       uint32_t low, uint32_t high) {
    Record record;
    if (BlockError e = ParseRecord(block, readOffset, &record); e != BlockError::None) return e;
    uint8_t* r = block.data() + kRecordsOffset + readOffset;
    put_le16(r + record.size - 12, type);    // variable type
    put_le16(r + record.size - 10, status);  // variable status
    put_le32(r + record.size - 8, low);      // value, low 32 bits
    put_le32(r + record.size - 4, high);     // value, high 32 bits
    return BlockError::None;
}

}  // namespace tsr::kx
