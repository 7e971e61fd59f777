// The KX family: variables read and written through the KX gateway program, which shares one
// of eight named memory blocks ("/kxxg#1" to "/kxxg#8") with this program.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "base/log_sink.h"
#include "gateways/families.h"

namespace tsr {

// The environment variable with a prefix for the block names, so that test runs use blocks of
// their own ("/<prefix>kxxg#1"...). Unset or empty in production; a prefix with other
// characters than letters, digits, '_', '-' and '.' is ignored.
inline constexpr const char* kKxShmPrefixVariable = "TESSORA_KX_SHM_PREFIX";

struct KxOptions {
    std::string namePrefix;                        // inserted after the leading "/"
    std::chrono::milliseconds connectLimit{500};   // the connection check must be done by then
    std::chrono::milliseconds commandLimit{6000};  // a read, type query or write must be done by
                                                   // then, even while the heartbeat advances
};

// The name of block `number` (1 to 8): "/kxxg#<number>" with `prefix` after the "/".
std::string KxBlockName(std::string_view prefix, unsigned number);

// The name prefix from the environment variable above; empty when it is unset or not valid.
std::string KxPrefixFromEnvironment();

// The family's one connection state for the whole run, with the prefix from the environment;
// `log` receives its own log lines (it has none: the lifecycle logs its messages).
std::unique_ptr<ConnectedFamily> MakeKxFamily(LogSink& log);

// The same with explicit options (tests).
std::unique_ptr<ConnectedFamily> MakeKxFamily(LogSink& log, KxOptions options);

}  // namespace tsr
