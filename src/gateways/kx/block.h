// The layout of one KX exchange block: a 65536-byte shared-memory area that this program and the
// KX gateway program both write. Every function here works on a byte span and checks every
// offset and size against it: the other program can write anything into the block at any time.
//
//   offset  size  field
//        0     4  owner: process id of the claiming program; 0 = block free
//        4     4  client tick: our millisecond tick, rewritten at every access
//        8     4  heartbeat: advanced by the KX program while it runs
//       12     4  command (written by us, only when it reads 0) and status (written by both)
//       16     4  number of records in the batch
//       20   ...  records, back to back, up to offset 65535
//
// One record (size = name length + 17):
//
//   +0 size (u16) | +2 0 (u16) | +4 name ... NUL | size-12 type (u16) | size-10 status (u16)
//   | size-8 value low 32 bits (u32) | size-4 value high 32 bits (u32)
//
// All numbers are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace tsr::kx {

constexpr size_t kBlockSize = 65536;

constexpr size_t kOwnerOffset = 0;
constexpr size_t kClientTickOffset = 4;
constexpr size_t kHeartbeatOffset = 8;
constexpr size_t kCommandOffset = 12;
constexpr size_t kCountOffset = 16;
constexpr size_t kRecordsOffset = 20;

// Bytes of a record besides its name: size, 0, terminator, type, status, value.
constexpr size_t kRecordOverhead = 17;

// Commands written at offset 12.
enum class Command : uint32_t {
    Read = 1,        // read the batch's variables
    Write = 2,       // write the batch's values
    QueryTypes = 3,  // answer the types of the batch's variables
    Check = 4,       // connection check
};

constexpr uint32_t kWorkingBase = 0x100;    // 0x100 + c: command c is being worked on
constexpr uint32_t kDoneBase = 0x01000000;  // 0x01000000 + c: command c is done
constexpr uint32_t kRefused = 0x00010001;   // the KX program refused the command

constexpr uint16_t kTypeSingle = 4;            // value is an IEEE single in the low half
constexpr uint16_t kTypeDouble = 6;            // value is an IEEE double in both halves
constexpr uint16_t kUnknownVariable = 0xFB2E;  // record status: no such variable

// How a status word read at offset 12 stands for the command that was submitted.
enum class StatusKind {
    NotTaken,  // still the command itself
    Working,   // 0x100 + c (only for commands that use it)
    Done,      // 0x01000000 + c
    Failed,    // refused, 0, or any other value
};

// Classifies `status` for `command`; `workingAllowed` is false for the connection check, which
// knows no "being worked on" state.
StatusKind ClassifyStatus(Command command, uint32_t status, bool workingAllowed);

// Why a block access was refused.
enum class BlockError {
    None = 0,
    ShortBlock,          // the span is shorter than a whole block
    NameHasZero,         // a name to send contains a zero byte
    BatchFull,           // the record would end beyond offset 65535
    RecordPastEnd,       // a record's size (or its size field) reaches beyond the block
    RecordTooSmall,      // a record's size is below the smallest possible record
    NameUnterminated,    // no zero byte ends the name inside the record
    NameLengthMismatch,  // the name ends before the record's size says it does
    BadCount,            // the record count is 0 or more than the block can hold
    WrongName,           // the answer is about another variable than the one sent
};

// A short English text for `error` ("ok" for None).
const char* BlockErrorText(BlockError error);

// One record as found in the block. `name` points into the block.
struct Record {
    std::string_view name;
    uint16_t type = 0;
    uint16_t status = 0;
    uint32_t low = 0;
    uint32_t high = 0;
    size_t size = 0;  // the whole record's size in bytes
};

// True when `block` holds a whole block (at least 65536 bytes).
bool IsWholeBlock(std::span<const uint8_t> block);

// The 32-bit header word at `offset` (0, 4, 8, 12 or 16), read fresh from the shared memory
// (acquire order, so records written before a status are seen). 0 when it lies outside `block`.
uint32_t LoadWord(std::span<uint8_t> block, size_t offset);

// Writes the 32-bit header word at `offset` (release order, so the records and the count are
// visible before a command written last). Does nothing when it lies outside `block`.
void StoreWord(std::span<uint8_t> block, size_t offset, uint32_t value);

// Writes `owner` into the owner field when it reads 0, in one atomic step, so two programs that
// look at the same free block cannot both claim it. False when the block is owned or short.
bool ClaimOwner(std::span<uint8_t> block, uint32_t owner);

// Zeroes the block from `offset` to its end (at most 65536 bytes in all).
void ClearFrom(std::span<uint8_t> block, size_t offset);

// Appends a record for `name` with the value halves at records offset `*writeOffset` (type and
// status 0) and advances `*writeOffset` past it. Nothing is written on failure.
BlockError AppendRecord(std::span<uint8_t> block, size_t* writeOffset, std::string_view name,
                        uint32_t low, uint32_t high);

// Reads the record at records offset `readOffset` into `*out`, checking its size against the
// block and its name's terminator against its size.
BlockError ParseRecord(std::span<const uint8_t> block, size_t readOffset, Record* out);

// Reads the answer to a batch whose first record was sent for `sentName`: the count must be 1
// or more (and fit the block) and the first record must parse and name that variable.
BlockError ParseFirstAnswer(std::span<const uint8_t> block, std::string_view sentName, Record* out);

// Writes the answer fields (type, status, value halves) into the record at records offset
// `readOffset`, after checking the record as ParseRecord does. Used by the KX side.
BlockError WriteAnswer(std::span<uint8_t> block, size_t readOffset, uint16_t type, uint16_t status,
                       uint32_t low, uint32_t high);

}  // namespace tsr::kx
