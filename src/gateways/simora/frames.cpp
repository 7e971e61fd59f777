#include "gateways/simora/frames.h"

namespace tsr::simora {
namespace {

void PutLe16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void PutLe32(std::vector<uint8_t>& out, uint32_t v) {
    PutLe16(out, static_cast<uint16_t>(v & 0xFFFF));
    PutLe16(out, static_cast<uint16_t>(v >> 16));
}

uint16_t GetLe16(const uint8_t* at) {
    return static_cast<uint16_t>(at[0] | (at[1] << 8));
}

uint32_t GetLe32(const uint8_t* at) {
    return static_cast<uint32_t>(GetLe16(at)) | (static_cast<uint32_t>(GetLe16(at + 2)) << 16);
}

}  // namespace

std::optional<std::vector<uint8_t>> BuildRequest(uint32_t wParam, std::string_view text) {
    if (text.size() > kMaxText) return std::nullopt;
    std::vector<uint8_t> out;
    out.reserve(kRequestHeaderSize + text.size());
    PutLe32(out, wParam);                              // the request, little-endian
    PutLe16(out, static_cast<uint16_t>(text.size()));  // the text's length, little-endian
    out.insert(out.end(), text.begin(), text.end());   // the text, no terminating zero
    return out;
}

std::optional<uint32_t> ParseAnswer(std::span<const uint8_t> received) {
    if (received.size() != kAnswerSize) return std::nullopt;
    return GetLe32(received.data());  // the result, little-endian
}

Request ParseRequest(std::span<const uint8_t> received) {
    Request request;
    if (received.size() < kRequestHeaderSize) return request;
    request.wParam = GetLe32(received.data());
    const size_t length = GetLe16(received.data() + 4);
    if (length > kMaxText) {
        request.kind = Request::Kind::Malformed;
        return request;
    }
    request.needed = kRequestHeaderSize + length;
    if (received.size() < request.needed) return request;
    request.kind = Request::Kind::Done;
    request.text.assign(reinterpret_cast<const char*>(received.data()) + kRequestHeaderSize,
                        length);
    return request;
}

std::vector<uint8_t> BuildAnswer(uint32_t result) {
    std::vector<uint8_t> out;
    PutLe32(out, result);
    return out;
}

}  // namespace tsr::simora
