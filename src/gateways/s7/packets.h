// Whole packets as they travel: an S7 PDU inside a COTP data TPDU inside a TPKT packet, and the
// connection request inside a TPKT packet; and the way back from a received packet to its PDU.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tsr::s7 {

// The packet of the connection request for `ucpos` (22 bytes).
std::vector<uint8_t> ConnectionRequestPacket(int ucpos);

// The packet carrying `pdu` (7 bytes more than the PDU).
std::vector<uint8_t> DataPacket(std::span<const uint8_t> pdu);

// Whether the whole packet `packet` holds a connection confirm.
bool IsConnectionConfirmPacket(std::span<const uint8_t> packet);

// The S7 PDU of the whole packet `packet` (a view into it); false when the packet is not a
// complete TPKT packet holding one COTP data TPDU.
bool PduOfPacket(std::span<const uint8_t> packet, std::span<const uint8_t>* pdu);

}  // namespace tsr::s7
