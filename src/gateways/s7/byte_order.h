// Big- and little-endian fields of the S7 frames, read and written byte by byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tsr::s7 {

// Appends `value` as two bytes, high byte first.
inline void put_be16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

// Appends the low 24 bits of `value`, high byte first (the address field of a variable).
inline void put_be24(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value >> 16));
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

// Appends `value` as four bytes, high byte first.
inline void put_be32(std::vector<uint8_t>& out, uint32_t value) {
    put_be16(out, static_cast<uint16_t>(value >> 16));
    put_be16(out, static_cast<uint16_t>(value));
}

// The two bytes at `at`, high byte first. The caller checks that they were received.
inline uint16_t get_be16(std::span<const uint8_t> in, size_t at) {
    return static_cast<uint16_t>((in[at] << 8) | in[at + 1]);
}

// The four bytes at `at`, high byte first. The caller checks that they were received.
inline uint32_t get_be32(std::span<const uint8_t> in, size_t at) {
    return (static_cast<uint32_t>(get_be16(in, at)) << 16) | get_be16(in, at + 2);
}

// The four bytes at `at`, low byte first. The caller checks that they were received.
inline uint32_t get_le32(std::span<const uint8_t> in, size_t at) {
    return static_cast<uint32_t>(in[at]) | (static_cast<uint32_t>(in[at + 1]) << 8) |
           (static_cast<uint32_t>(in[at + 2]) << 16) | (static_cast<uint32_t>(in[at + 3]) << 24);
}

}  // namespace tsr::s7
