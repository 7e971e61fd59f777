// The DLL gateway: one user shared library whose procedures the /DLL route calls by name.
// A procedure takes the request body as a NUL-terminated text and returns a NUL-terminated text
// that the library owns: `const char* procedure(const char* body)`.
#pragma once

#include <mutex>
#include <string>

#include "gateways/families.h"

namespace tsr {

class DllGateway : public DllService {
public:
    static constexpr size_t kMaxAnswer = 100000;

    ~DllGateway() override { Unload(); }

    // Loads the shared library `path`, unloading one that was loaded. False when it cannot be
    // loaded.
    bool Load(const std::string& path);
    // Unloads the library; returns whether one was loaded.
    bool Unload();
    bool IsLoaded();

    // Calls procedure `name` with `body`. Its text (at most kMaxAnswer bytes; a null result
    // gives an empty text) goes to `answer`.
    CallResult Call(const std::string& name, const std::string& body,
                    std::string& answer) override;

private:
    std::mutex mutex_;
    void* handle_ = nullptr;
};

}  // namespace tsr
