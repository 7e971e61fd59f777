#include "gateways/s7/packets.h"

#include "gateways/s7/cotp.h"
#include "gateways/s7/tpkt.h"

namespace tsr::s7 {

namespace {

// The TPDU of a whole packet whose header length matches what was received.
bool TpduOfPacket(std::span<const uint8_t> packet, std::span<const uint8_t>* tpdu) {
    size_t length = 0;
    if (ParseTpktHeader(packet, &length) != TpktError::None) return false;
    if (length != packet.size()) return false;
    *tpdu = packet.subspan(kTpktHeaderSize);
    return true;
}

}  // namespace

std::vector<uint8_t> ConnectionRequestPacket(int ucpos) {
    return WrapTpkt(BuildConnectionRequest(ucpos));
}

std::vector<uint8_t> DataPacket(std::span<const uint8_t> pdu) { return WrapTpkt(WrapData(pdu)); }

bool IsConnectionConfirmPacket(std::span<const uint8_t> packet) {
    std::span<const uint8_t> tpdu;
    return TpduOfPacket(packet, &tpdu) && ParseConnectionConfirm(tpdu) == CotpError::None;
}

bool PduOfPacket(std::span<const uint8_t> packet, std::span<const uint8_t>* pdu) {
    std::span<const uint8_t> tpdu;
    return TpduOfPacket(packet, &tpdu) && UnwrapData(tpdu, pdu) == CotpError::None;
}

}  // namespace tsr::s7
