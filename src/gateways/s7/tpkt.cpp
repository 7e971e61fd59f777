#include "gateways/s7/tpkt.h"

#include "gateways/s7/byte_order.h"

namespace tsr::s7 {

namespace {
constexpr uint8_t kTpktVersion = 0x03;
}

const char* TpktErrorText(TpktError error) {
    switch (error) {
        case TpktError::None: return "ok";
        case TpktError::Truncated: return "TPKT header truncated";
        case TpktError::BadVersion: return "not a TPKT packet";
        case TpktError::BadLength: return "TPKT length too short";
    }
    return "unknown TPKT error";
}

std::vector<uint8_t> WrapTpkt(std::span<const uint8_t> tpdu) {
    if (tpdu.empty() || tpdu.size() > kTpktMaxSize - kTpktHeaderSize) return {};
    std::vector<uint8_t> out;
    out.reserve(kTpktHeaderSize + tpdu.size());
    out.push_back(kTpktVersion);                                        // version, always 3
    out.push_back(0x00);                                                // reserved
    put_be16(out, static_cast<uint16_t>(kTpktHeaderSize + tpdu.size()));  // packet length
    out.insert(out.end(), tpdu.begin(), tpdu.end());
    return out;
}

TpktError ParseTpktHeader(std::span<const uint8_t> header, size_t* packetLength) {
    if (header.size() < kTpktHeaderSize) return TpktError::Truncated;
    if (header[0] != kTpktVersion) return TpktError::BadVersion;
    const size_t length = get_be16(header, 2);
    if (length < kTpktMinSize) return TpktError::BadLength;
    *packetLength = length;
    return TpktError::None;
}

}  // namespace tsr::s7
