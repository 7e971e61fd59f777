// The WebSocket opening handshake (RFC 6455) with the base64 it needs (its SHA-1 is in
// base/sha1.h), and the test
// of a frame received on an upgraded connection. Pure functions: the serving loop sends and
// receives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/sha1.h"

namespace tsr {

// The base64 text (RFC 4648 alphabet, '=' padding) of `bytes`; empty for empty input.
std::string Base64Encode(std::string_view bytes);

// The GUID that RFC 6455 appends to the client's key.
inline constexpr std::string_view kWebSocketGuid = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";

// The Sec-WebSocket-Accept value for the client's key: base64 of the 20-byte SHA-1 of key + GUID
// (28 characters).
std::string WebSocketAccept(std::string_view key);

// The whole "101 Switching Protocols" answer to a GET `request` that asks for an upgrade, or
// nullopt when it does not (it is then served as an ordinary GET). A request asks for an upgrade
// when it holds "Upgrade" and "Sec-WebSocket-Key" anywhere (case-sensitive) and a ':' follows the
// key header name. The key starts after that ':' (one space skipped) and ends at the next '\r',
// or at the end of the request when no '\r' follows. The caller has checked the "GET ".
std::optional<std::string> WebSocketUpgradeAnswer(std::string_view request);

// True when `frame` (received on an upgraded connection) is a close frame: the low four bits of
// its first byte hold opcode 8. False for an empty frame.
bool IsWebSocketCloseFrame(std::string_view frame);

// The close frame the server sends to upgraded clients when it stops: final fragment, opcode
// close, no payload, unmasked.
inline constexpr std::string_view kWebSocketCloseFrame{"\x88\x00", 2};

}  // namespace tsr
