// `tessora-cli simulate FAMILY [--port N] [--listen ADDR]`: runs a simulator of one device family
// on this machine until Ctrl-C or SIGTERM, with variables that change by themselves and variables
// that pages write and read back.
#pragma once

#include <string>
#include <vector>

namespace tsr::cli {

// The usage lines of the command, for the program's usage text.
extern const char kSimulateUsage[];

// Runs the command with the arguments after "simulate"; returns the program's exit status
// (0 after a stop signal, 1 when the simulator cannot start, 2 for bad arguments).
int CommandSimulate(const std::vector<std::string>& args);

}  // namespace tsr::cli
