#include "gateways/dll/dll_gateway.h"

#include <dlfcn.h>
#include <elf.h>
#include <link.h>

#include <cstring>

namespace tsr {
namespace {

// The address of procedure `name` when the library of `handle` defines it itself as a function;
// null otherwise. dlsym alone also finds the functions of every library the user's library
// depends on (the C library's system, getenv, abort...), which a page must never reach.
void* OwnProcedure(void* handle, const std::string& name) {
    void* symbol = dlsym(handle, name.c_str());
    if (!symbol) return nullptr;
    link_map* own = nullptr;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &own) != 0 || !own) return nullptr;
    Dl_info info{};
    link_map* holder = nullptr;
    if (dladdr1(symbol, &info, reinterpret_cast<void**>(&holder), RTLD_DL_LINKMAP) == 0 ||
        holder != own)
        return nullptr;
    ElfW(Sym)* entry = nullptr;
    if (dladdr1(symbol, &info, reinterpret_cast<void**>(&entry), RTLD_DL_SYMENT) == 0 || !entry)
        return nullptr;
    const int type = ELF64_ST_TYPE(entry->st_info);
    if (type != STT_FUNC && type != STT_GNU_IFUNC) return nullptr;
    if (!info.dli_sname || name != info.dli_sname) return nullptr;
    return symbol;
}

}  // namespace

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
    void* symbol = OwnProcedure(handle_, name);
    if (!symbol) return CallResult::NoProcedure;
    const char* text = reinterpret_cast<Procedure>(symbol)(body.c_str());
    if (text) answer.assign(text, strnlen(text, kMaxAnswer));
    return CallResult::Done;
}

}  // namespace tsr
