// The Simora family: the simulator socket.
#pragma once

#include <chrono>
#include <memory>

#include "base/log_sink.h"
#include "gateways/families.h"

namespace tsr {

// The family's time limits for one exchange with the simulator.
struct SimoraOptions {
    std::chrono::milliseconds socketConnect{200};
    std::chrono::milliseconds socketAnswer{1000};  // the whole request and its answer
};

// The family's one connection state for the whole run; `log` receives its own log lines.
// Connect gives 0 when the simulator answers the check with 9876, else -1.
std::unique_ptr<ConnectedFamily> MakeSimoraFamily(LogSink& log);
// The same with other time limits.
std::unique_ptr<ConnectedFamily> MakeSimoraFamily(LogSink& log, const SimoraOptions& options);

}  // namespace tsr
