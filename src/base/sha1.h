// SHA-1 (FIPS 180-1), fed in pieces: the WebSocket handshake's accept key and the fingerprint
// of a project's outside reaches.
#pragma once

#include <cstddef>
#include <cstdint>

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

}  // namespace tsr
