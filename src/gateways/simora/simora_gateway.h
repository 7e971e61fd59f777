// The Simora family: the simulator socket.
#pragma once

#include <memory>

#include "base/log_sink.h"
#include "gateways/families.h"

namespace tsr {

// The family's one connection state for the whole run; `log` receives its own log lines.
std::unique_ptr<ConnectedFamily> MakeSimoraFamily(LogSink& log);

}  // namespace tsr
