// The Corvane runtime stand-in: the socket "orvo8_xfs_wclass" in the runtime directory, answering
// the query 0x12345678 with a file path in the directory of the test library orvo8.so, and a
// handle on that library's variable store and call counters.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "unix_sim_server.h"

namespace tsr::sims {

class CorvaneRuntimeSim {
  public:
    // How the runtime answers the query.
    enum class QueryMode {
        Path,     // the path of a file in `libraryDirectory`
        NoPath,   // length 0: the runtime has nothing to give
        Silent,   // never answers
        Garbage,  // a length beyond any path (0xFFFF) and no path
    };

    // `libraryDirectory` is where orvo8.so lies.
    explicit CorvaneRuntimeSim(std::string libraryDirectory);
    ~CorvaneRuntimeSim() { Stop(); }

    // Listens on the runtime socket of the runtime directory ($XDG_RUNTIME_DIR, else /tmp).
    bool Start();
    void Stop();
    bool IsRunning() const { return server_.IsRunning(); }

#ifdef TESSORA_SIM_FAULTS
    void SetQueryMode(QueryMode mode) { mode_.store(mode); }
    // The directory whose path the query answers (a directory without orvo8.so: the load fails).
    void SetLibraryDirectory(const std::string& directory);
#endif  // TESSORA_SIM_FAULTS
    // Queries answered so far.
    int queries() const { return queries_.load(); }

  private:
    void Serve(int fd, const std::atomic<bool>& stopping);

    std::mutex mutex_;  // guards libraryDirectory_
    std::string libraryDirectory_;
    std::atomic<QueryMode> mode_{QueryMode::Path};
    std::atomic<int> queries_{0};
    UnixSimServer server_;
};

// The variable store of a loaded orvo8.so, reached through its exported functions. The library
// is the one the gateway loads (same path, same copy in the process).
class Orvo8Library {
  public:
    // Loads the library at `path`; ok() tells whether every function was found.
    explicit Orvo8Library(const std::string& path);
    ~Orvo8Library();
    Orvo8Library(const Orvo8Library&) = delete;
    Orvo8Library& operator=(const Orvo8Library&) = delete;

    bool ok() const { return ok_; }
    void Reset() { reset_(); }
    void SetValue(int type, int index, uint32_t value) { setValue_(type, index, value); }
    uint32_t Value(int type, int index) { return getValue_(type, index); }
    unsigned CommandCount(unsigned command) { return commandCount_(command); }
    unsigned DirectReads(int type, int index) { return directReads_(type, index); }
    // The input words of the last direct write.
    void LastWrite(uint16_t words[9]) { lastWrite_(words); }
    void SetStatusFails(bool fail) { statusFails_(fail ? 1 : 0); }
    void SetResultDelay(int polls) { resultDelay_(polls); }
    void SetReadStatus(unsigned status) { readStatus_(status); }

  private:
    void* handle_ = nullptr;
    bool ok_ = false;
    void (*reset_)() = nullptr;
    void (*setValue_)(int, int, uint32_t) = nullptr;
    uint32_t (*getValue_)(int, int) = nullptr;
    unsigned (*commandCount_)(unsigned) = nullptr;
    unsigned (*directReads_)(int, int) = nullptr;
    void (*lastWrite_)(uint16_t*) = nullptr;
    void (*statusFails_)(int) = nullptr;
    void (*resultDelay_)(int) = nullptr;
    void (*readStatus_)(unsigned) = nullptr;
};

}  // namespace tsr::sims
