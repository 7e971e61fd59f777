// The Simora simulator's socket exchange: one request, one answer. Pure builder and parser.
//
//   request:  wParam(u32 LE) length(u16 LE) text[length]
//   answer:   result(u32 LE)
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tsr::simora {

// The name of the simulator's socket in the runtime directory.
constexpr std::string_view kSimoraSocketName = "CIrrDeviceWin32";

// Requests, by wParam.
constexpr uint32_t kCheck = 2345;  // no text; answers kCheckAnswer when the simulation is ready
constexpr uint32_t kCheckAnswer = 9876;
constexpr uint32_t kReadBehavior = 256;   // text: the behavior name; answers the value's IEEE bits
constexpr uint32_t kWriteBehavior = 512;  // text: the whole item "name=value"; answer not used

// The longest text a request carries (the old interface's name limit).
constexpr size_t kMaxText = 255;
constexpr size_t kAnswerSize = 4;
constexpr size_t kRequestHeaderSize = 6;

// The request bytes; empty when `text` is longer than kMaxText.
std::optional<std::vector<uint8_t>> BuildRequest(uint32_t wParam, std::string_view text);

// The result of an answer; empty unless exactly kAnswerSize bytes were received.
std::optional<uint32_t> ParseAnswer(std::span<const uint8_t> received);

// A received request: the header says how much text follows.
struct Request {
    enum class Kind { NeedMore, Done, Malformed };
    Kind kind = Kind::NeedMore;
    size_t needed = kRequestHeaderSize;  // bytes needed in all (NeedMore)
    uint32_t wParam = 0;
    std::string text;
};

// Parses the bytes received so far of one request (for the simulator side). Malformed when the
// length is beyond kMaxText.
Request ParseRequest(std::span<const uint8_t> received);

// The answer bytes for `result`.
std::vector<uint8_t> BuildAnswer(uint32_t result);

}  // namespace tsr::simora
