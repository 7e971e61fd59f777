#include "gateways/corvane/corvane_gateway.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "gateways/corvane/block.h"
#include "gateways/corvane/frames.h"
#include "gateways/corvane/items.h"
#include "gateways/transport/tcp_transport.h"

namespace tsr {
namespace {

using namespace corvane;
using Clock = std::chrono::steady_clock;

constexpr int kConnectTries = 5;
constexpr int kNoLibrary = -1;
constexpr int kNoRuntime = -2;
constexpr int kStatusFailed = -3;
constexpr size_t kWatchTableSize = 2048;

// The entry point of the runtime library: one argument, the 18-byte block, filled on return.
using EntryPoint = void (*)(void* block);

// One watched variable: its last value and where it is in the polling cycle.
struct WatchEntry {
    Variable variable;
    uint32_t value = 0;
    enum State : uint8_t { Added = 0, Requested = 1, Fetched = 2 } state = Added;
};

// The watched variables; entries are only ever added. Guarded by the family lock.
class WatchTable {
  public:
    const WatchEntry* Find(Variable v) const {
        for (size_t i = 0; i < count_; ++i)
            if (entries_[i].variable == v) return &entries_[i];
        return nullptr;
    }
    bool Add(Variable v, uint32_t value) {
        if (count_ == entries_.size()) return false;
        entries_[count_++] = WatchEntry{v, value, WatchEntry::Added};
        return true;
    }
    size_t size() const { return count_; }
    WatchEntry& operator[](size_t i) { return entries_[i]; }

  private:
    std::array<WatchEntry, kWatchTableSize> entries_{};
    size_t count_ = 0;
};

// The result of a direct read or write: the runtime's status (0 done) and the answer block.
struct DirectResult {
    uint16_t status = kStatusDone;
    RuntimeBlock answer;
};

class CorvaneFamily : public ConnectedFamily {
  public:
    explicit CorvaneFamily(const CorvaneOptions& options) : options_(options) {}

    ~CorvaneFamily() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (poller_.joinable()) poller_.join();
        if (library_ != nullptr) dlclose(library_);
    }

    int Connect(const GatewaySettings&) override {
        std::lock_guard<std::mutex> lock(mutex_);
        return ConnectLocked();
    }

    // Stopping changes nothing: the library stays loaded and the connected flag stays set.
    bool Disconnect() override { return connected_.load(); }

    bool IsConnected() const override { return connected_.load(); }

    std::string ReadItem(std::string_view item) override {
        if (item.empty()) return "0";
        std::lock_guard<std::mutex> lock(mutex_);
        const int code = ConnectLocked();
        if (code < 0) return "[error orvo " + std::to_string(code) + "]";
        const ReadItemResult parsed = ParseReadItem(item);
        if (!parsed.request) return parsed.error;
        return ReadValues(*parsed.request);
    }

    void WriteItem(std::string_view item) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (ConnectLocked() < 0 || !connected_.load()) return;
        const std::optional<WriteRequest> request = ParseWriteItem(item);
        if (!request) return;
        Direct(DirectWriteBlock(request->variable, request->value));
    }

  private:
    // Up to five tries in a row; the result is the last one's.
    // The tries share one time limit for the runtime socket, so a runtime that accepts and never
    // answers costs one limit per connect, not five.
    int ConnectLocked() {
        socketDeadline_ = Clock::now() + options_.socketAnswer;
        int code = kNoRuntime;
        for (int i = 0; i < kConnectTries; ++i) {
            code = TryConnect();
            if (code == 0) return 0;
        }
        return code;
    }

    int TryConnect() {
        if (entry_ == nullptr) {
            const int loaded = LoadLibrary();
            if (loaded < 0) return loaded;
        } else if (!RuntimeIsThere()) {
            connected_ = false;  // the runtime has ended: the link is gone
            return kNoRuntime;
        }
        const RuntimeBlock answer = Call(StatusRequestBlock());
        connected_ = AnswerStatus(answer) == kStatusDone;
        return connected_ ? 0 : kStatusFailed;
    }

    // Connects to the runtime's socket. A socket of another user's program is no runtime of
    // ours: it could point the gateway at a library of its choice.
    bool ConnectToRuntime(UnixConnection& connection) {
        const auto timeout = std::min(options_.socketConnect, Remaining(socketDeadline_));
        if (connection.Connect(RuntimeSocketPath(kRuntimeSocketName), timeout) !=
            TransportError::None)
            return false;
        const std::optional<uid_t> peer = connection.PeerUserId();
        if (peer && IsTrustedLocalUser(*peer, geteuid())) return true;
        connection.Close();
        return false;
    }

    // A runtime is there when its socket accepts a connection.
    bool RuntimeIsThere() {
        UnixConnection connection;
        return ConnectToRuntime(connection);
    }

    // Asks the runtime for its path; the path or empty with `*code` set.
    std::string QueryRuntimePath(int* code) {
        UnixConnection connection;
        *code = kNoRuntime;
        const auto deadline = socketDeadline_;
        if (!ConnectToRuntime(connection)) return {};
        const auto query = BuildRuntimeQuery();
        if (connection.SendAll(query, Remaining(deadline)) != TransportError::None) return {};
        std::vector<uint8_t> received(2);
        if (connection.ReceiveExact(received, Remaining(deadline)) != TransportError::None)
            return {};
        RuntimeAnswer answer = ParseRuntimeAnswer(received);
        if (answer.kind == RuntimeAnswer::Kind::NeedMore) {
            received.resize(answer.needed);
            if (connection.ReceiveExact(std::span<uint8_t>(received).subspan(2),
                                        Remaining(deadline)) != TransportError::None)
                return {};
            answer = ParseRuntimeAnswer(received);
        }
        // The runtime answered: with no (usable) path there is no library to load.
        *code = kNoLibrary;
        if (answer.kind != RuntimeAnswer::Kind::Path) return {};
        *code = 0;
        return answer.path;
    }

    std::chrono::milliseconds Remaining(Clock::time_point deadline) const {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        return left.count() > 0 ? left : std::chrono::milliseconds(0);
    }

    int LoadLibrary() {
        int code = 0;
        const std::string runtimePath = QueryRuntimePath(&code);
        if (code < 0) return code;
        const std::string libraryPath = LibraryPathFor(runtimePath);
        if (libraryPath.empty()) return kNoLibrary;
        void* library = OpenLibrary(libraryPath);
        if (library == nullptr) return kNoLibrary;
        void* symbol = dlsym(library, "OrvoEntryPoint");
        if (symbol == nullptr) {
            dlclose(library);
            return kNoLibrary;
        }
        library_ = library;
        entry_ = reinterpret_cast<EntryPoint>(symbol);
        if (!poller_.joinable()) poller_ = std::thread([this] { PollLoop(); });
        return 0;
    }

    // Loads the library at `path` when IsSafeLibraryFile allows it. The file is opened and
    // checked first and then loaded through its descriptor, so the file checked is the file
    // loaded even if the path is changed meanwhile; opening does not wait (a FIFO there).
    static void* OpenLibrary(const std::string& path) {
        const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return nullptr;
        struct stat st {};
        void* library = nullptr;
        if (fstat(fd, &st) == 0 && IsSafeLibraryFile(st.st_mode, st.st_uid, geteuid())) {
            const std::string opened = "/proc/self/fd/" + std::to_string(fd);
            library = dlopen(opened.c_str(), RTLD_NOW | RTLD_LOCAL);
        }
        close(fd);
        return library;
    }

    // One call through the block; the caller holds the family lock.
    RuntimeBlock Call(const RuntimeBlock& request) {
        BlockBytes bytes = EncodeBlock(request);
        entry_(bytes.data());
        return DecodeBlock(bytes);
    }

    // A direct read or write: the start, then the result every poll period until it is ready or
    // the limit has passed (status 0xFFFE).
    DirectResult Direct(const RuntimeBlock& start) {
        DirectResult result;
        result.answer = Call(start);
        result.status = AnswerStatus(result.answer);
        if (result.status != kStatusDone) return result;
        const auto deadline = Clock::now() + options_.resultLimit;
        for (;;) {
            result.answer = Call(CommandBlock(kDirectResult));
            result.status = AnswerStatus(result.answer);
            if (result.status != kStatusNotReady) return result;
            if (Clock::now() + options_.resultPoll > deadline) break;
            std::this_thread::sleep_for(options_.resultPoll);
        }
        result.status = kStatusTimedOut;
        return result;
    }

    std::string ReadValues(const ReadRequest& request) {
        std::string text;
        bool timedOut = false;
        for (int i = 0; i < request.count; ++i) {
            if (i > 0) text += ',';
            const Variable v{request.first.type, static_cast<uint16_t>(request.first.index + i)};
            if (const WatchEntry* entry = table_.Find(v)) {
                text += FormatValue(v.type, entry->value, request.format);
                continue;
            }
            // After one read has timed out, the item's other variables are not waited for again.
            DirectResult result;
            result.status = kStatusTimedOut;
            if (!timedOut) result = Direct(DirectReadBlock(v));
            if (result.status != kStatusDone) {
                timedOut = timedOut || result.status == kStatusTimedOut;
                text += CannotRead(VariableName(request.letter, v.index), result.status);
                continue;
            }
            const uint32_t value = DecodeValue(v.type, result.answer);
            table_.Add(v, value);
            text += FormatValue(v.type, value, request.format);
        }
        return text;
    }

    static std::string CannotRead(const std::string& name, uint16_t status) {
        char code[8];
        std::snprintf(code, sizeof(code), "%4.4X", static_cast<unsigned>(status));
        return "[error : cannot read : " + name + "," + code + "]";
    }

    // Waits one wake period, or less when the family is being destroyed; false then.
    bool Sleep(std::unique_lock<std::mutex>& lock) {
        wake_.wait_for(lock, options_.pollerWake, [this] { return stopping_; });
        return !stopping_;
    }

    // The polling thread: while connected, cycles over the watched variables: begin the list and
    // add every entry, execute it (again on the next wake until it is done), fetch every entry
    // requested. Each call takes the family lock for itself.
    void PollLoop() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (Sleep(lock)) {
            if (!connected_.load()) continue;
            Call(CommandBlock(kListBegin));
            for (size_t i = 0; i < table_.size(); ++i) {
                Call(ListAddBlock(table_[i].variable));
                table_[i].state = WatchEntry::Requested;
                if (!Yield(lock)) return;
            }
            bool executed = false;
            while (!executed) {
                executed = AnswerStatus(Call(CommandBlock(kListExecute))) == kStatusDone;
                if (!executed && (!Sleep(lock) || !connected_.load())) break;
            }
            if (stopping_) return;
            if (!executed) continue;
            for (size_t i = 0; i < table_.size(); ++i) {
                if (table_[i].state != WatchEntry::Requested) continue;
                const RuntimeBlock answer = Call(CommandBlock(kListFetch));
                if (AnswerStatus(answer) == kStatusDone)
                    table_[i].value = DecodeValue(table_[i].variable.type, answer);
                table_[i].state = WatchEntry::Fetched;
                if (!Yield(lock)) return;
            }
        }
    }

    // Lets a waiting request take the lock between two calls; false when stopping.
    bool Yield(std::unique_lock<std::mutex>& lock) {
        lock.unlock();
        std::this_thread::yield();
        lock.lock();
        return !stopping_;
    }

    const CorvaneOptions options_;
    std::mutex mutex_;  // the family lock: every call through the block, every whole operation
    std::condition_variable wake_;
    bool stopping_ = false;
    Clock::time_point socketDeadline_;  // the limit of the current connect's socket exchanges
    void* library_ = nullptr;
    EntryPoint entry_ = nullptr;
    std::atomic<bool> connected_{false};
    WatchTable table_;
    std::thread poller_;
};

}  // namespace

std::unique_ptr<ConnectedFamily> MakeCorvaneFamily(LogSink& log) {
    return MakeCorvaneFamily(log, CorvaneOptions{});
}

// The family logs nothing of its own: the lifecycle walks log its messages.
std::unique_ptr<ConnectedFamily> MakeCorvaneFamily(LogSink&, const CorvaneOptions& options) {
    return std::make_unique<CorvaneFamily>(options);
}

}  // namespace tsr
