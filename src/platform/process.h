// Starting outside programs: the browser, the HTML editor, the Arduino tools. No shell is used;
// programs named without a '/' are looked up on $PATH.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace tsr {

// The full path of the first executable regular file called `name` in the directories of $PATH
// (empty entries are skipped; /usr/local/bin:/usr/bin:/bin when PATH is unset). A name holding a
// '/' is checked as given. nullopt when there is none.
std::optional<std::string> FindProgramOnPath(std::string_view name);

// Starts argv[0] with arguments `argv` and returns without waiting for it. The program runs in
// its own session, is not the caller's child (nothing is left to reap), reads stdin from
// /dev/null, shares the caller's stdout and stderr and inherits no other descriptor. Fails when
// argv is empty, the program cannot be found, or exec fails (the child's errno is reported).
Status LaunchDetached(const std::vector<std::string>& argv);

struct ProcessResult {
    int exitCode = 0;    // the exit status, or 128 + the signal number when killed by a signal
    std::string output;  // stdout and stderr together, in the order written
};

// Runs argv[0] with arguments `argv` and waits for it to end. stdin is /dev/null; stdout and
// stderr both go to the result's output. `onLine`, when set, is called on the calling thread with
// each line as soon as it is complete (without its "\n" or "\r\n"), and with the last unterminated
// text at the end. nullopt when the program cannot be found or started.
std::optional<ProcessResult> RunAndCapture(
    const std::vector<std::string>& argv,
    const std::function<void(std::string_view line)>& onLine = {});

}  // namespace tsr
