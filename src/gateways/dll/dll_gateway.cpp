#include "gateways/dll/dll_gateway.h"

#include <dlfcn.h>

#include <cstring>

namespace tsr {

bool DllGateway::Load(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (handle_) dlclose(handle_);
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    return handle_ != nullptr;
}

bool DllGateway::Unload() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!handle_) return false;
    dlclose(handle_);
    handle_ = nullptr;
    return true;
}

bool DllGateway::IsLoaded() {
    std::lock_guard<std::mutex> lock(mutex_);
    return handle_ != nullptr;
}

DllService::CallResult DllGateway::Call(const std::string& name, const std::string& body,
                                        std::string& answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    answer.clear();
    if (!handle_) return CallResult::NoLibrary;
    using Procedure = const char* (*)(const char*);
    void* symbol = dlsym(handle_, name.c_str());
    if (!symbol) return CallResult::NoProcedure;
    const char* text = reinterpret_cast<Procedure>(symbol)(body.c_str());
    if (text) answer.assign(text, strnlen(text, kMaxAnswer));
    return CallResult::Done;
}

}  // namespace tsr
