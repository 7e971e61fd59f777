// The Unity / M340 family: Modbus TCP function 0x5A.
#pragma once

#include <memory>

#include "base/log_sink.h"
#include "gateways/families.h"

namespace tsr {

// The family's one connection state for the whole run; `log` receives its own log lines.
std::unique_ptr<ConnectedFamily> MakeUnityFamily(LogSink& log);

}  // namespace tsr
