// The frames of the Modbus TCP family: pure builders (request -> bytes) and parsers (bytes ->
// answer or the reason it was refused), and the page's texts of the values.
//
//   offset 0      2      4      6      7          8 ...
//          +------+------+------+------+----------+-----------------+
//          | txn  | 0    | len  | unit | function | data ...        |   len = 1 + PDU size
//          +------+------+------+------+----------+-----------------+
//          <------------ MBAP header ---><---------- PDU ----------->
//            big-endian 16-bit fields; register values big-endian too
//
// An answer carries its request's transaction number, unit and function; an exception answer
// has the function with bit 7 set and one byte, the exception code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "gateways/modbus/names.h"

namespace tsr::modbus {

using Bytes = std::vector<uint8_t>;

constexpr size_t kHeaderSize = 7;                    // the MBAP header, before the PDU
constexpr size_t kMaxPdu = 253;                      // the protocol's largest PDU
constexpr size_t kMaxFrame = kHeaderSize + kMaxPdu;  // 260 bytes
constexpr uint16_t kMaxReadRegisters = 125;          // functions 3 and 4
constexpr uint16_t kMaxReadBits = 2000;              // functions 1 and 2

enum Function : uint8_t {
    kReadCoils = 1,
    kReadDiscreteInputs = 2,
    kReadHoldingRegisters = 3,
    kReadInputRegisters = 4,
    kWriteSingleCoil = 5,
    kWriteSingleRegister = 6,
    kWriteMultipleRegisters = 16,
    kMaskWriteRegister = 22,
};

constexpr uint8_t kIllegalFunction = 0x01;  // the exception code of a function not served

// The transaction number that follows `current`: one more, 65535 followed by 1 (0 is skipped).
uint16_t NextTransaction(uint16_t current);

// The whole frame of `pdu` for `unit` with transaction number `transaction`.
Bytes BuildFrame(uint16_t transaction, uint8_t unit, std::span<const uint8_t> pdu);

// Request PDUs. `count` is not checked against the protocol maximum here: the callers keep
// within kMaxReadRegisters / kMaxReadBits.
Bytes ReadPdu(uint8_t function, uint16_t address, uint16_t count);
Bytes WriteCoilPdu(uint16_t address, bool on);
Bytes WriteRegisterPdu(uint16_t address, uint16_t value);
Bytes WriteRegistersPdu(uint16_t address, std::span<const uint16_t> values);  // 1 to 123 values
Bytes MaskWritePdu(uint16_t address, uint16_t andMask, uint16_t orMask);

// The read function of a table: 1, 2, 3 or 4.
uint8_t ReadFunctionOf(Table table);

// One frame found at the start of received bytes (an incremental parse: the caller owns the
// buffer and calls again when more has arrived).
enum class FrameStatus { Done, NeedMore, Malformed };
enum class FrameError {
    None = 0,
    BadProtocol,  // the protocol identifier is not 0
    BadLength,    // the length field is below 2 or above 254 (no PDU of the protocol's size)
};

// A short English text for `error`.
const char* FrameErrorText(FrameError error);

struct Frame {
    FrameStatus status = FrameStatus::NeedMore;
    FrameError error = FrameError::None;
    size_t consumed = 0;  // Done: the whole frame's size
    uint16_t transaction = 0;
    uint8_t unit = 0;
    std::span<const uint8_t> pdu;  // Done: a view into the received bytes, at least 1 byte
};

// Looks for one whole frame at the start of `received`: Done with its fields, NeedMore when
// fewer bytes than the header or the length field gives have arrived (an empty input is
// NeedMore), Malformed when the header cannot be that of a Modbus TCP frame. Reads nothing past
// `received`.
Frame ParseFrame(std::span<const uint8_t> received);

enum class AnswerStatus {
    Ok,
    NotOurs,    // another transaction, unit or function: discarded, the wait goes on
    Exception,  // the device refused the request with an exception code
    Malformed,  // the answer's data does not fit the request (sizes, counts, echo)
};

struct Answer {
    AnswerStatus status = AnswerStatus::Malformed;
    uint8_t exception = 0;            // Exception: the code
    std::vector<uint16_t> registers;  // Ok answer to function 3 or 4: `count` registers
    std::vector<bool> bits;           // Ok answer to function 1 or 2: `count` bits
};

// Checks the frame `frame` (Done) as the answer to the request PDU `request` sent as
// `transaction` to `unit`, and takes its values. Request PDUs of functions the family does not
// send give Malformed.
Answer ParseAnswer(const Frame& frame, uint16_t transaction, uint8_t unit,
                   std::span<const uint8_t> request);

// The page's text of `v` from the registers (or bits, as 0 and 1) that start at its address:
// decimal integers, reals with "%g". Empty when fewer values than Width(v) are given.
std::optional<std::string> FormatValue(const Variable& v, std::span<const uint16_t> values);

// The register values (or, for a bit, 0 or 1) that the page's text `text` writes to `v`:
// integers in decimal ("+" or "-" allowed, -32768 to 65535 for one register, -2147483648 to
// 4294967295 for two), a decimal real for the f32 forms; a bit is 1 for any integer but 0.
// Empty when the text is no such number or the variable is not written.
std::optional<std::vector<uint16_t>> EncodeValue(const Variable& v, std::string_view text);

// The PDU that writes `values` (from EncodeValue) to `v`: function 5 for a coil, 6 for one
// register, 16 for two, 22 for a register bit. Empty for the tables that are not written.
std::optional<Bytes> WritePdu(const Variable& v, std::span<const uint16_t> values);

// One read request that serves several variables of one table.
struct ReadBlock {
    Table table = Table::HoldingRegister;
    uint16_t address = 0;
    uint16_t count = 0;
    std::vector<size_t> members;  // indexes into the planned variables, in address order
};

// Groups `variables` into as few read requests as keep to adjacent or overlapping addresses
// of one table, at most kMaxReadRegisters registers (kMaxReadBits bits) each. Every variable
// is in exactly one block; no block reads an address that no variable of it takes.
std::vector<ReadBlock> PlanReads(std::span<const Variable> variables);

}  // namespace tsr::modbus
