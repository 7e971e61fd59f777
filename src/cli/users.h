// tessora-cli user: the users file of `serve --users`.
#pragma once

#include <string>
#include <vector>

namespace tsr::cli {

// The usage lines of the user command.
extern const char kUserUsage[];

// `tessora-cli user add|remove|list ...` (the arguments after "user"); 0 on success, else 1 with
// a message on standard error.
int CommandUser(std::vector<std::string> args);

}  // namespace tsr::cli
