#include "gateways/s7/cotp.h"

#include <initializer_list>

#include "gateways/s7/byte_order.h"

namespace tsr::s7 {

namespace {

constexpr uint8_t kConnectionRequest = 0xE0;
constexpr uint8_t kConnectionConfirm = 0xD0;
constexpr uint8_t kData = 0xF0;
constexpr uint8_t kLastDataUnit = 0x80;  // EOT bit of the data TPDU's number byte
constexpr uint8_t kTpduSizeParameter = 0xC0;
constexpr uint8_t kCallingTsapParameter = 0xC1;
constexpr uint8_t kCalledTsapParameter = 0xC2;

void PutParameter(std::vector<uint8_t>& out, uint8_t code, std::initializer_list<uint8_t> value) {
    out.push_back(code);                                  // parameter code
    out.push_back(static_cast<uint8_t>(value.size()));    // parameter length
    out.insert(out.end(), value.begin(), value.end());    // parameter value
}

// The TPDU type: the high nibble of the byte after the length indicator.
bool HasType(std::span<const uint8_t> tpdu, uint8_t type) {
    return (tpdu[1] & 0xF0) == type;
}

// Whether the length indicator (the header length after itself) fits in what was received.
bool HeaderFits(std::span<const uint8_t> tpdu) {
    return tpdu.size() >= 2 && size_t{tpdu[0]} + 1 <= tpdu.size();
}

}  // namespace

const char* CotpErrorText(CotpError error) {
    switch (error) {
        case CotpError::None: return "ok";
        case CotpError::Truncated: return "COTP TPDU truncated";
        case CotpError::NotConnectionConfirm: return "connection not confirmed";
        case CotpError::NotData: return "not a COTP data TPDU";
        case CotpError::NotLastFragment: return "fragmented COTP data";
    }
    return "unknown COTP error";
}

std::vector<uint8_t> BuildConnectionRequest(int ucpos) {
    std::vector<uint8_t> out;
    out.push_back(0x11);                // length indicator: 17 header bytes follow
    out.push_back(kConnectionRequest);  // CR, credit 0
    put_be16(out, 0x0000);              // destination reference: not known yet
    if (ucpos == 0) {
        put_be16(out, 0x0001);                             // source reference
        out.push_back(0x00);                               // class 0, no options
        PutParameter(out, kTpduSizeParameter, {0x0A});     // TPDU size 2^10 = 1024
        PutParameter(out, kCallingTsapParameter, {0x01, 0x00});
        PutParameter(out, kCalledTsapParameter, {0x01, 0x00});
        return out;
    }
    put_be16(out, 0x002E);                                 // source reference
    out.push_back(0x00);                                   // class 0, no options
    PutParameter(out, kCallingTsapParameter, {0x01, 0x00});
    // Called TSAP: 03 (S7 basic communication) followed by the rack and slot byte.
    PutParameter(out, kCalledTsapParameter, {0x03, static_cast<uint8_t>(ucpos)});
    PutParameter(out, kTpduSizeParameter, {0x09});         // TPDU size 2^9 = 512
    return out;
}

CotpError ParseConnectionConfirm(std::span<const uint8_t> tpdu) {
    if (!HeaderFits(tpdu)) return CotpError::Truncated;
    if (!HasType(tpdu, kConnectionConfirm)) return CotpError::NotConnectionConfirm;
    // Length indicator, type, destination and source reference, class: 6 bytes at least.
    if (tpdu[0] < 6) return CotpError::Truncated;
    return CotpError::None;
}

std::vector<uint8_t> WrapData(std::span<const uint8_t> pdu) {
    std::vector<uint8_t> out;
    out.reserve(3 + pdu.size());
    out.push_back(0x02);           // length indicator: 2 header bytes follow
    out.push_back(kData);          // DT
    out.push_back(kLastDataUnit);  // TPDU number 0, last data unit
    out.insert(out.end(), pdu.begin(), pdu.end());
    return out;
}

CotpError UnwrapData(std::span<const uint8_t> tpdu, std::span<const uint8_t>* pdu) {
    if (!HeaderFits(tpdu)) return CotpError::Truncated;
    if (!HasType(tpdu, kData)) return CotpError::NotData;
    if (tpdu[0] < 2) return CotpError::Truncated;  // type and TPDU number
    if ((tpdu[2] & kLastDataUnit) == 0) return CotpError::NotLastFragment;
    *pdu = tpdu.subspan(size_t{tpdu[0]} + 1);
    return CotpError::None;
}

}  // namespace tsr::s7
