// ISO transport over TCP, the outer layer: every packet starts with a 4-byte TPKT header that
// gives the length of the whole packet, so a stream of packets is cut by that length alone.
//
//   +---------+----------+-----------------+--------------------------+
//   | version | reserved | length (BE16)   | COTP TPDU ...            |
//   |   0x03  |   0x00   | header included |                          |
//   +---------+----------+-----------------+--------------------------+
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tsr::s7 {

constexpr size_t kTpktHeaderSize = 4;
// The largest packet the 16-bit length can describe.
constexpr size_t kTpktMaxSize = 65535;
// The smallest packet that carries a COTP TPDU we use (a connection confirm has 7 bytes).
constexpr size_t kTpktMinSize = kTpktHeaderSize + 3;

enum class TpktError : int {
    None = 0,
    Truncated = -1,   // fewer than the 4 header bytes
    BadVersion = -2,  // the version byte is not 3 (not a TPKT packet, or the stream is out of step)
    BadLength = -3,   // the length is shorter than the header plus a TPDU
};

// A short English text for `error` ("ok" for None).
const char* TpktErrorText(TpktError error);

// The packet carrying `tpdu`: the header followed by the TPDU. Empty when the TPDU is empty or
// longer than a packet can hold.
std::vector<uint8_t> WrapTpkt(std::span<const uint8_t> tpdu);

// Reads the header at the start of `header`; on success `*packetLength` is the length of the
// whole packet (header included, kTpktMinSize..kTpktMaxSize).
TpktError ParseTpktHeader(std::span<const uint8_t> header, size_t* packetLength);

}  // namespace tsr::s7
