// Outcome of an operation at a subsystem boundary: an int code (0 or a positive count on
// success, a small negative code on failure) and, on failure, the text to show the user.
#pragma once

#include <string>
#include <utility>

namespace tsr {

struct Status {
    int code = 0;
    std::string message;  // empty on success

    static Status Ok(int value = 0) { return Status{value, {}}; }
    static Status Fail(int failCode, std::string text) { return Status{failCode, std::move(text)}; }

    bool ok() const { return code >= 0; }
    explicit operator bool() const { return ok(); }
};

}  // namespace tsr
