// ISO transport (COTP, class 0), the middle layer: the connection request that opens the link
// to the controller's rack and slot, its confirm, and the data TPDU that carries every S7 PDU.
//
//   connection request:  LI | E0 | dst ref | src ref | class | parameters (code, length, value)...
//   data:                02 | F0 | 80 (last TPDU) | S7 PDU ...
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tsr::s7 {

enum class CotpError : int {
    None = 0,
    Truncated = -1,         // shorter than its length indicator says, or than its header
    NotConnectionConfirm = -2,  // the controller answered the connection request otherwise
    NotData = -3,           // not a data TPDU
    NotLastFragment = -4,   // a data TPDU continued in the next one (never sent for our PDUs)
};

// A short English text for `error` ("ok" for None).
const char* CotpErrorText(CotpError error);

// The connection request for the rack and slot byte `ucpos` (its low 8 bits). 0: calling and
// called TSAP 01 00, TPDU size 1024. Otherwise: calling TSAP 01 00, called TSAP 03 `ucpos`,
// TPDU size 512.
std::vector<uint8_t> BuildConnectionRequest(int ucpos);

// Checks that `tpdu` is a connection confirm.
CotpError ParseConnectionConfirm(std::span<const uint8_t> tpdu);

// The data TPDU carrying `pdu`, in one piece.
std::vector<uint8_t> WrapData(std::span<const uint8_t> pdu);

// The PDU carried by the data TPDU `tpdu`, in `*pdu` (a view into `tpdu`).
CotpError UnwrapData(std::span<const uint8_t> tpdu, std::span<const uint8_t>* pdu);

}  // namespace tsr::s7
