#include "webserver/websocket.h"

namespace tsr {
namespace {

constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::string_view kKeyHeader = "Sec-WebSocket-Key";

// The word as four bytes, most significant first.
void PutBe32(unsigned char* out, uint32_t word) {
    out[0] = static_cast<unsigned char>(word >> 24);
    out[1] = static_cast<unsigned char>(word >> 16);
    out[2] = static_cast<unsigned char>(word >> 8);
    out[3] = static_cast<unsigned char>(word);
}

// The key of the upgrade request, or nullopt when there is no ':' after the key header name.
std::optional<std::string_view> HandshakeKey(std::string_view request, size_t header) {
    const size_t colon = request.find(':', header + kKeyHeader.size());
    if (colon == std::string_view::npos) return std::nullopt;
    size_t start = colon + 1;
    if (start < request.size() && request[start] == ' ') ++start;
    const size_t end = request.find('\r', start);
    if (end == std::string_view::npos) return request.substr(start);
    return request.substr(start, end - start);
}

}  // namespace

std::string Base64Encode(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t group = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16 |
                               static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1]))
                                   << 8 |
                               static_cast<unsigned char>(bytes[i + 2]);
        out += kBase64Alphabet[group >> 18];
        out += kBase64Alphabet[(group >> 12) & 0x3F];
        out += kBase64Alphabet[(group >> 6) & 0x3F];
        out += kBase64Alphabet[group & 0x3F];
    }
    const size_t rest = bytes.size() - i;
    if (rest == 0) return out;
    uint32_t group = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
    if (rest == 2) group |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    out += kBase64Alphabet[group >> 18];
    out += kBase64Alphabet[(group >> 12) & 0x3F];
    out += rest == 2 ? kBase64Alphabet[(group >> 6) & 0x3F] : '=';
    out += '=';
    return out;
}

std::string WebSocketAccept(std::string_view key) {
    SHA1 sha;
    sha.Input(reinterpret_cast<const unsigned char*>(key.data()), key.size());
    sha.Input(reinterpret_cast<const unsigned char*>(kWebSocketGuid.data()), kWebSocketGuid.size());
    uint32_t words[5] = {};
    sha.Result(words);  // cannot fail: far below the length limit, no input after the result
    unsigned char digest[20];
    for (int i = 0; i < 5; ++i) PutBe32(digest + 4 * i, words[i]);
    return Base64Encode(std::string_view(reinterpret_cast<const char*>(digest), sizeof digest));
}

std::optional<std::string> WebSocketUpgradeAnswer(std::string_view request) {
    if (request.find("Upgrade") == std::string_view::npos) return std::nullopt;
    const size_t header = request.find(kKeyHeader);
    if (header == std::string_view::npos) return std::nullopt;
    const std::optional<std::string_view> key = HandshakeKey(request, header);
    if (!key) return std::nullopt;
    return "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: "
           "Upgrade\r\nSec-WebSocket-Accept: " +
           WebSocketAccept(*key) + "\r\n\r\n";
}

bool IsWebSocketCloseFrame(std::string_view frame) {
    if (frame.empty()) return false;
    return (static_cast<unsigned char>(frame[0]) & 0x0F) == 8;
}

}  // namespace tsr
