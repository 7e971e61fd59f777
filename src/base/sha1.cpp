#include "base/sha1.h"

namespace tsr {
namespace {

uint32_t RotateLeft(uint32_t word, int bits) {
    return (word << bits) | (word >> (32 - bits));
}

// The word as four bytes, most significant first.
void PutBe32(unsigned char* out, uint32_t word) {
    out[0] = static_cast<unsigned char>(word >> 24);
    out[1] = static_cast<unsigned char>(word >> 16);
    out[2] = static_cast<unsigned char>(word >> 8);
    out[3] = static_cast<unsigned char>(word);
}

uint32_t GetBe32(const unsigned char* in) {
    return static_cast<uint32_t>(in[0]) << 24 | static_cast<uint32_t>(in[1]) << 16 |
           static_cast<uint32_t>(in[2]) << 8 | static_cast<uint32_t>(in[3]);
}

}  // namespace

SHA1::SHA1() {
    Reset();
}

SHA1::~SHA1() = default;

void SHA1::Reset() {
    h_[0] = 0x67452301;
    h_[1] = 0xEFCDAB89;
    h_[2] = 0x98BADCFE;
    h_[3] = 0x10325476;
    h_[4] = 0xC3D2E1F0;
    lengthLow_ = 0;
    lengthHigh_ = 0;
    blockIndex_ = 0;
    computed_ = false;
    corrupted_ = false;
}

void SHA1::SetMessageBits(uint32_t high, uint32_t low) {
    lengthHigh_ = high;
    lengthLow_ = low;
}

void SHA1::Input(const unsigned char* bytes, size_t count) {
    if (count == 0) return;
    if (computed_) corrupted_ = true;
    if (corrupted_) return;
    for (size_t i = 0; i < count; ++i) {
        block_[blockIndex_++] = bytes[i];
        lengthLow_ += 8;
        if (lengthLow_ == 0 && ++lengthHigh_ == 0) {
            corrupted_ = true;  // the message is longer than 2^64 - 1 bits
            return;
        }
        if (blockIndex_ == sizeof block_) ProcessBlock();
    }
}

bool SHA1::Result(uint32_t digest[5]) {
    if (corrupted_) return false;
    if (!computed_) {
        PadMessage();
        computed_ = true;
    }
    for (int i = 0; i < 5; ++i) digest[i] = h_[i];
    return true;
}

// One 64-byte block into the chaining words (the four rounds of 20 steps of FIPS 180-1).
void SHA1::ProcessBlock() {
    uint32_t w[80];
    for (int t = 0; t < 16; ++t) w[t] = GetBe32(block_ + 4 * t);
    for (int t = 16; t < 80; ++t) w[t] = RotateLeft(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);

    uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4];
    for (int t = 0; t < 80; ++t) {
        uint32_t f, k;
        if (t < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999;
        } else if (t < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1;
        } else if (t < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDC;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6;
        }
        const uint32_t temp = RotateLeft(a, 5) + f + e + w[t] + k;
        e = d;
        d = c;
        c = RotateLeft(b, 30);
        b = a;
        a = temp;
    }
    h_[0] += a;
    h_[1] += b;
    h_[2] += c;
    h_[3] += d;
    h_[4] += e;
    blockIndex_ = 0;
}

// Appends the 0x80 byte, zero bytes up to 56 mod 64, and the bit length (64 bits, big-endian).
//   ... message | 80 | 00 ... 00 | length high (4) | length low (4) |
void SHA1::PadMessage() {
    block_[blockIndex_++] = 0x80;
    if (blockIndex_ > 56) {
        while (blockIndex_ < sizeof block_) block_[blockIndex_++] = 0;
        ProcessBlock();
    }
    while (blockIndex_ < 56) block_[blockIndex_++] = 0;
    PutBe32(block_ + 56, lengthHigh_);
    PutBe32(block_ + 60, lengthLow_);
    ProcessBlock();
}

}  // namespace tsr
