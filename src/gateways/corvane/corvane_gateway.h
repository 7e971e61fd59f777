// The Corvane runtime family: the runtime socket and its orvo8.so entry point.
#pragma once

#include <memory>

#include "base/log_sink.h"
#include "gateways/families.h"

namespace tsr {

// The family's one connection state for the whole run; `log` receives its own log lines.
std::unique_ptr<ConnectedFamily> MakeCorvaneFamily(LogSink& log);

}  // namespace tsr
