#include "gateways/kx/kx_gateway.h"

#include "gateways/unreachable_family.h"

namespace tsr {

// Not built yet: the family answers as a device that is not connected.
std::unique_ptr<ConnectedFamily> MakeKxFamily(LogSink&) {
    return std::make_unique<UnreachableFamily>("[err]");
}

}  // namespace tsr
