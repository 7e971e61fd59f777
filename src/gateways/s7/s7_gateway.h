// The S7 IP family: ISO-on-TCP (TPKT, COTP, S7).
#pragma once

#include <memory>

#include "base/log_sink.h"
#include "gateways/families.h"

namespace tsr {

// The family's one connection state for the whole run; `log` receives its own log lines.
std::unique_ptr<ConnectedFamily> MakeS7Family(LogSink& log);

}  // namespace tsr
