// The Corvane runtime family: the runtime socket and its orvo8.so entry point.
#pragma once

#include <chrono>
#include <memory>

#include "base/log_sink.h"
#include "gateways/families.h"

namespace tsr {

// The family's time limits. The defaults are the documented ones; tests shorten them.
struct CorvaneOptions {
    // The pause between two result requests of a direct read or write.
    std::chrono::milliseconds resultPoll{100};
    // The longest wait for a direct read's or write's result (then status 0xFFFE).
    std::chrono::milliseconds resultLimit{10000};
    // Connecting to the runtime socket once, and all the socket exchanges of one connect (its
    // five tries together): a runtime that accepts and never answers costs this much per connect.
    std::chrono::milliseconds socketConnect{200};
    std::chrono::milliseconds socketAnswer{500};
    // The polling thread's pause between two wakes.
    std::chrono::milliseconds pollerWake{1};
};

// The family's one connection state for the whole run; `log` receives its own log lines.
// Connect gives 0, or -1 (the runtime answers no path or an unusable one, the library is missing,
// is not a regular file owned by this user or the system, may be changed by other users, does not
// load or has no OrvoEntryPoint), -2 (no runtime socket of this user or the system answers), -3
// (the status request failed).
std::unique_ptr<ConnectedFamily> MakeCorvaneFamily(LogSink& log);
// The same with other time limits.
std::unique_ptr<ConnectedFamily> MakeCorvaneFamily(LogSink& log, const CorvaneOptions& options);

}  // namespace tsr
