// The frames of the Unity / M340 family: the controller's programming requests carried in
// Modbus TCP frames with function code 0x5A. Pure builders (request -> bytes) and parsers
// (bytes -> answer or the reason it was refused).
//
//   offset 0      2      4      6    7    8    9
//          +------+------+------+----+----+----+---------------+
//          | txn  | 0    | len  | 0  | 5A | 0  | payload ...   |   len = payload size + 3
//          +------+------+------+----+----+----+---------------+
//            big-endian 16-bit fields; payload fields little-endian
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "gateways/unity/names.h"

namespace tsr::unity {

using Bytes = std::vector<uint8_t>;

constexpr size_t kHeaderSize = 9;        // bytes before the payload
constexpr size_t kMaxAnswer = 8192;      // one receive takes at most this many bytes
constexpr uint8_t kFunctionCode = 0x5A;  // the controller's programming function
constexpr uint8_t kAccepted = 0xFE;      // first answer byte of an accepted request

// The session payloads and the answer sizes the family takes from them.
Bytes OpenPayload();       // 01 00, first opening exchange (answer up to 1024 bytes)
Bytes IdentifyPayload();   // 02, second opening exchange (answer up to 1024 bytes)
Bytes KeepAlivePayload();  // 04, the link check (answer up to 23 bytes)
Bytes EndPayload();        // 11, ends the session
constexpr size_t kOpenAnswerSize = 1024;
constexpr size_t kKeepAliveAnswerSize = 23;

// The transaction number that follows `current`: one more, 65535 followed by 1 (0 is skipped).
uint16_t NextTransaction(uint16_t current);

// The whole frame of `payload` with transaction number `transaction`.
Bytes BuildFrame(uint16_t transaction, std::span<const uint8_t> payload);

enum class AnswerError {
    None = 0,
    TooShort,          // 5 bytes or fewer
    BadLength,         // the length field is 2 or less
    OtherTransaction,  // the answer is not that of the request
};

// A short English text for `error`.
const char* AnswerErrorText(AnswerError error);

struct Answer {
    AnswerError error = AnswerError::None;
    Bytes payload;  // the answer's payload, at most the size expected (empty on error)
};

// Checks the bytes of one receive against the request's transaction number and takes at most
// `expected` payload bytes, never more than the length field gives nor than were received.
Answer ParseAnswer(std::span<const uint8_t> received, uint16_t transaction, size_t expected);

// The read request of `v` and the payload size its answer has. Empty for forms not served.
std::optional<Bytes> ReadPayload(const Variable& v);
size_t ReadAnswerSize(const Variable& v);

// The page's text for the answer payload of a read of `v`: "%d" (bits 1 or 0, words unsigned,
// double words signed) or "%g" for %MF. Empty when the controller refused the request or the
// answer is too short.
std::optional<std::string> DecodeRead(const Variable& v, std::span<const uint8_t> payload);

// The write request of `v` with the value text `value` (a decimal integer, or a decimal
// number taken as an IEEE single for %MF). Empty for forms that are not written (%MW n.b and
// those not served) and for a value that is no number or does not fit the variable.
std::optional<Bytes> WritePayload(const Variable& v, std::string_view value);
size_t WriteAnswerSize(const Variable& v);

// True when a write's answer payload says the controller accepted it.
bool WriteAccepted(std::span<const uint8_t> payload);

}  // namespace tsr::unity
