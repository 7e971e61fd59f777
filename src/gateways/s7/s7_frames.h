// S7 communication, the inner layer: the PDUs that set up the communication, ask the CPU state
// (the keep-alive), read and write bytes of a memory area, and the parsers of their answers.
//
//   job / ack-data header:  32 | ROSCTR | 00 00 | reference (BE16) | parameter length (BE16)
//                           | data length (BE16) [| error class | error code  (ack-data only)]
//   then the parameters, then the data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tsr::s7 {

// Memory area codes of the address field.
constexpr uint8_t kAreaInputs = 0x81;
constexpr uint8_t kAreaOutputs = 0x82;
constexpr uint8_t kAreaFlags = 0x83;

// The reference of the read and write jobs when nothing else is asked for.
constexpr uint16_t kDefaultJobReference = 0x0200;
// The most data bytes one write job carries here (a bit, a word or a double word).
constexpr size_t kMaxWriteBytes = 4;

enum class S7Error : int {
    None = 0,
    Truncated = -1,      // shorter than its header, or than the lengths it announces
    NotS7 = -2,          // the protocol id is not 0x32
    NotAckData = -3,     // not the acknowledgement of a job
    Refused = -4,        // the controller reports an error class or code for the job
    WrongFunction = -5,  // the answer belongs to another kind of job
    ItemFailed = -6,     // the item's return code is not "success" (address outside the area...)
    ShortData = -7,      // the item holds fewer bytes than were asked for
};

// A short English text for `error` ("ok" for None).
const char* S7ErrorText(S7Error error);

// Read job of `count` bytes of `area` from `bitAddress` (byte number x 8, 24 bits travel).
struct ReadRequest {
    uint8_t area = kAreaFlags;
    uint32_t bitAddress = 0;
    uint16_t count = 4;
    uint16_t reference = kDefaultJobReference;
};

// Write job of `data` (1..kMaxWriteBytes bytes) to `area` from `bitAddress`.
struct WriteRequest {
    uint8_t area = kAreaFlags;
    uint32_t bitAddress = 0;
    std::span<const uint8_t> data;
    uint16_t reference = kDefaultJobReference;
};

// Setup communication: after the first connection request form (`rackSlotForm` false) 16
// parallel jobs each way and PDU size 960, reference 0; after the second form 3 jobs each way,
// PDU size 256, reference 0xFFFF.
std::vector<uint8_t> BuildSetupCommunication(bool rackSlotForm);

// User-data request reading the system status list 0424 (the CPU state), the keep-alive.
std::vector<uint8_t> BuildCpuStateRequest();

// The read job of `request` (one item, syntax S7ANY, transport size BYTE, no DB number).
std::vector<uint8_t> BuildReadRequest(const ReadRequest& request);

// The write job of `request`; empty when its data is empty or longer than kMaxWriteBytes.
std::vector<uint8_t> BuildWriteRequest(const WriteRequest& request);

// The reference of any S7 PDU (job, ack-data or user data); empty when `pdu` is not one.
std::optional<uint16_t> PduReference(std::span<const uint8_t> pdu);

// Checks that `pdu` acknowledges a setup communication without error.
S7Error ParseSetupAnswer(std::span<const uint8_t> pdu);

// Takes the `out.size()` bytes of a successful one-item read answer `pdu` into `out`.
S7Error ParseReadAnswer(std::span<const uint8_t> pdu, std::span<uint8_t> out);

}  // namespace tsr::s7
