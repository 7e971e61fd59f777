#include "gateways/s7/s7_gateway.h"

#include "gateways/unreachable_family.h"

namespace tsr {

// Not built yet: the family answers as a device that is not connected.
std::unique_ptr<ConnectedFamily> MakeS7Family(LogSink&) {
    return std::make_unique<UnreachableFamily>("[err]");
}

}  // namespace tsr
