#include "corvane_sim.h"

#include <dlfcn.h>

#include <algorithm>
#include <vector>

#include "gateways/corvane/frames.h"
#include "gateways/transport/tcp_transport.h"
#include "sim_support.h"

namespace tsr::sims {
namespace {

template <typename F>
bool Find(void* handle, const char* name, F* out) {
    *out = reinterpret_cast<F>(dlsym(handle, name));
    return *out != nullptr;
}

}  // namespace

CorvaneRuntimeSim::CorvaneRuntimeSim(std::string libraryDirectory)
    : libraryDirectory_(std::move(libraryDirectory)),
      server_([this](int fd, const std::atomic<bool>& stopping) { Serve(fd, stopping); }) {}

bool CorvaneRuntimeSim::Start() {
    return server_.Start(RuntimeSocketPath(corvane::kRuntimeSocketName));
}

void CorvaneRuntimeSim::Stop() {
    server_.Stop();
}

#ifdef TESSORA_SIM_FAULTS
void CorvaneRuntimeSim::SetLibraryDirectory(const std::string& directory) {
    std::lock_guard<std::mutex> lock(mutex_);
    libraryDirectory_ = directory;
}
#endif  // TESSORA_SIM_FAULTS

// One connection: the 4-byte query, then the answer. A connection that sends nothing (the
// gateway's presence probe) just closes.
void CorvaneRuntimeSim::Serve(int fd, const std::atomic<bool>& stopping) {
    uint8_t query[4];
    if (!ReceiveAllBytes(fd, query, sizeof(query), stopping, 2000)) return;
    const auto expected = corvane::BuildRuntimeQuery();
    if (!std::equal(expected.begin(), expected.end(), query)) return;
    ++queries_;
    std::vector<uint8_t> answer;
    switch (mode_.load()) {
        case QueryMode::Silent: {
            uint8_t ignored;
            ReceiveAllBytes(fd, &ignored, 1, stopping, 2000);  // until the gateway gives up
            return;
        }
        case QueryMode::NoPath:
            answer = {0, 0};
            break;
        case QueryMode::Garbage:
            answer = {0xFF, 0xFF};
            break;
        case QueryMode::Path: {
            std::string path;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                path = libraryDirectory_ + "/orvo8_runtime";
            }
            answer = {static_cast<uint8_t>(path.size() & 0xFF),  // length, little-endian
                      static_cast<uint8_t>(path.size() >> 8)};
            answer.insert(answer.end(), path.begin(), path.end());
            break;
        }
    }
    SendAllBytes(fd, answer.data(), answer.size());
}

Orvo8Library::Orvo8Library(const std::string& path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) return;
    ok_ = Find(handle_, "Orvo8Reset", &reset_) && Find(handle_, "Orvo8SetValue", &setValue_) &&
          Find(handle_, "Orvo8GetValue", &getValue_) &&
          Find(handle_, "Orvo8CommandCount", &commandCount_) &&
          Find(handle_, "Orvo8DirectReadCount", &directReads_) &&
          Find(handle_, "Orvo8LastWrite", &lastWrite_) &&
          Find(handle_, "Orvo8SetStatusFails", &statusFails_) &&
          Find(handle_, "Orvo8SetResultDelay", &resultDelay_) &&
          Find(handle_, "Orvo8SetReadStatus", &readStatus_);
}

Orvo8Library::~Orvo8Library() {
    if (handle_ != nullptr) dlclose(handle_);
}

}  // namespace tsr::sims
