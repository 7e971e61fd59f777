// The WebSocket opening handshake (RFC 6455) with the SHA-1 and base64 it needs, and the test
// of a frame received on an upgraded connection. Pure functions: the serving loop sends and
// receives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tsr {

// A SHA-1 computation (FIPS 180-1) fed in pieces.
class SHA1 {
  public:
    // A fresh computation, as after Reset().
    SHA1();
    virtual ~SHA1();

    // Starts over: the initial chaining words, an empty message, no result taken, not corrupted.
    void Reset();

    // Appends `count` bytes to the message (`bytes` may be null when `count` is 0). Marks the
    // computation corrupted when a result was already taken or the message would pass 2^64 bits.
    void Input(const unsigned char* bytes, size_t count);

    // Pads the message on the first call and copies the five digest words out, in host order
    // (word 0 holds the first four digest bytes, most significant first). Later calls give the
    // same words. False, with `digest` untouched, when the computation is corrupted.
    bool Result(uint32_t digest[5]);

  protected:
    // Sets the message length counted so far, in bits, without feeding the bytes (for derived
    // classes that test the length limit without feeding 2^61 bytes).
    void SetMessageBits(uint32_t high, uint32_t low);

  private:
    void ProcessBlock();
    void PadMessage();

    uint32_t h_[5];
    uint32_t lengthLow_ = 0;   // message length in bits, low half
    uint32_t lengthHigh_ = 0;  // and high half
    unsigned char block_[64];
    size_t blockIndex_ = 0;
    bool computed_ = false;
    bool corrupted_ = false;
};

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
