#include "gateways/corvane/corvane_gateway.h"

#include "gateways/unreachable_family.h"

namespace tsr {

// Not built yet: the family answers as a device that is not connected.
std::unique_ptr<ConnectedFamily> MakeCorvaneFamily(LogSink&) {
    return std::make_unique<UnreachableFamily>("[error orvo -1]");
}

}  // namespace tsr
