#include "gateways/kx/kx_gateway.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "gateways/kx/block.h"
#include "gateways/kx/shm_block.h"
#include "gateways/kx/values.h"
#include "gateways/kx/watchdog.h"

namespace tsr {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr unsigned kBlockCount = 8;
constexpr auto kPollStep = 1ms;  // the status is checked every millisecond

// Why an operation failed (the family's own codes; the caller sees only -1 or "[err]").
enum class KxError : int {
    None = 0,
    NoFreeBlock = -1,  // no block exists, or every one is owned or unusable
    CommandBusy = -2,  // offset 12 was not 0 when a command was to be written
    BadStatus = -3,    // refused, 0, or an unknown status value
    TimedOut = -4,     // the command was not done within the limit
    BlockShrunk = -5,  // the shared memory became shorter than a block
    BadRecord = -6,    // the record could not be built, or the answer does not check
    Watchdog = -4000,  // the heartbeat stopped
};

// The millisecond tick count written as the client tick.
uint32_t TickCount() {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch());
    return static_cast<uint32_t>(ms.count());
}

bool ValidPrefix(std::string_view prefix) {
    for (char c : prefix) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.';
        if (!ok) return false;
    }
    return true;
}

class KxFamily : public ConnectedFamily {
public:
    explicit KxFamily(KxOptions options) : options_(std::move(options)) {}
    ~KxFamily() override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (connected_) Release();
    }

    int Connect(const GatewaySettings&) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (connected_) return 0;
        return Claim() == KxError::None ? 1 : -1;
    }

    bool Disconnect() override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!connected_) return false;
        Release();
        return true;
    }

    bool IsConnected() const override { return connected_; }

    std::string ReadItem(std::string_view item) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!connected_) return "[err]";
        const std::string name = kx::KxName(item);
        kx::Record answer;
        if (Exchange(kx::Command::Read, name, {}, &answer) != KxError::None) {
            Release();  // the next retry tick claims a block again
            return "[err]";
        }
        return kx::FormatValue(answer.type, {answer.low, answer.high});
    }

    void WriteItem(std::string_view item) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!connected_) return;
        const kx::WriteParts parts = kx::SplitWriteItem(item);
        const std::string name = kx::KxName(parts.name);
        kx::Record typeAnswer;
        if (Exchange(kx::Command::QueryTypes, name, {}, &typeAnswer) != KxError::None) return;
        if (typeAnswer.status == kx::kUnknownVariable) return;
        kx::Record ignored;
        Exchange(kx::Command::Write, name, kx::EncodeValue(typeAnswer.type, parts.value), &ignored);
    }

private:
    std::span<uint8_t> block() const { return shm_.bytes(); }

    // Finds the first free block, claims it and runs the connection check.
    KxError Claim() {
        watchdog_.Renew(Clock::now(), 0);
        if (!ClaimFirstFreeBlock()) return KxError::NoFreeBlock;
        connected_ = true;
        kx::ClearFrom(block(), kx::kHeartbeatOffset);
        kx::StoreWord(block(), kx::kClientTickOffset, TickCount());
        KxError e = Submit(kx::Command::Check, 0);
        if (e == KxError::None) e = Wait(kx::Command::Check, options_.connectLimit, false);
        if (e != KxError::None) Release();
        return e;
    }

    bool ClaimFirstFreeBlock() {
        const uint32_t pid = static_cast<uint32_t>(getpid());
        for (unsigned n = 1; n <= kBlockCount; ++n) {
            if (shm_.Open(KxBlockName(options_.namePrefix, n), kx::kBlockSize) !=
                kx::ShmError::None)
                continue;
            if (kx::ClaimOwner(block(), pid)) return true;
            shm_.Close();
        }
        return false;
    }

    // Clears the whole block (which frees the owner field) and unmaps it. A block that became
    // shorter is only unmapped: its missing pages cannot be written.
    void Release() {
        if (shm_.StillWhole()) kx::ClearFrom(block(), 0);
        shm_.Close();
        connected_ = false;
    }

    // One batch of one record: reset, record, submit, wait, answer.
    KxError Exchange(kx::Command command, const std::string& name, kx::ValueHalves value,
                     kx::Record* answer) {
        if (!shm_.StillWhole()) return KxError::BlockShrunk;
        // Reset: clear everything after the heartbeat's start, write the client tick.
        kx::ClearFrom(block(), kx::kHeartbeatOffset);
        kx::StoreWord(block(), kx::kClientTickOffset, TickCount());
        size_t writeOffset = 0;
        if (kx::AppendRecord(block(), &writeOffset, name, value.low, value.high) !=
            kx::BlockError::None)
            return KxError::BadRecord;
        if (KxError e = Submit(command, 1); e != KxError::None) return e;
        if (KxError e = Wait(command, options_.commandLimit, true); e != KxError::None) return e;
        if (kx::ParseFirstAnswer(block(), name, answer) != kx::BlockError::None)
            return KxError::BadRecord;
        return KxError::None;
    }

    // Writes the record count and then, last, the command word.
    KxError Submit(kx::Command command, uint32_t records) {
        if (kx::LoadWord(block(), kx::kCommandOffset) != 0) return KxError::CommandBusy;
        if (command != kx::Command::Check) {
            if (records == 0) return KxError::BadRecord;
            kx::StoreWord(block(), kx::kCountOffset, records);
        }
        kx::StoreWord(block(), kx::kCommandOffset, static_cast<uint32_t>(command));
        watchdog_.Renew(Clock::now(), kx::LoadWord(block(), kx::kHeartbeatOffset));
        return KxError::None;
    }

    // Checks the status every millisecond until the command is done, fails, or `limit` passed.
    KxError Wait(kx::Command command, std::chrono::milliseconds limit, bool workingAllowed) {
        const Clock::time_point deadline = Clock::now() + limit;
        for (;;) {
            kx::StatusKind kind = kx::StatusKind::Failed;
            if (KxError e = CheckStatus(command, workingAllowed, &kind); e != KxError::None)
                return e;
            if (kind == kx::StatusKind::Done) return KxError::None;
            if (kind == kx::StatusKind::Failed) return KxError::BadStatus;
            if (Clock::now() >= deadline) return KxError::TimedOut;
            std::this_thread::sleep_for(kPollStep);
        }
    }

    // One status check: the block still whole, the watchdog, then the heartbeat remembered and
    // the client tick written, then the status word read fresh.
    KxError CheckStatus(kx::Command command, bool workingAllowed, kx::StatusKind* kind) {
        if (!shm_.StillWhole()) return KxError::BlockShrunk;
        const uint32_t heartbeat = kx::LoadWord(block(), kx::kHeartbeatOffset);
        if (!watchdog_.Check(Clock::now(), heartbeat)) return KxError::Watchdog;
        kx::StoreWord(block(), kx::kClientTickOffset, TickCount());
        *kind =
            kx::ClassifyStatus(command, kx::LoadWord(block(), kx::kCommandOffset), workingAllowed);
        return KxError::None;
    }

    const KxOptions options_;
    mutable std::mutex mutex_;  // the family lock, held for every whole operation
    std::atomic<bool> connected_{false};
    kx::SharedBlock shm_;
    kx::HeartbeatWatchdog watchdog_;
};

}  // namespace

std::string KxBlockName(std::string_view prefix, unsigned number) {
    return "/" + std::string(prefix) + "kxxg#" + std::to_string(number);
}

std::string KxPrefixFromEnvironment() {
    const char* value = std::getenv(kKxShmPrefixVariable);
    if (value == nullptr || !ValidPrefix(value)) return {};
    return value;
}

std::unique_ptr<ConnectedFamily> MakeKxFamily(LogSink& log) {
    KxOptions options;
    options.namePrefix = KxPrefixFromEnvironment();
    return MakeKxFamily(log, std::move(options));
}

std::unique_ptr<ConnectedFamily> MakeKxFamily(LogSink&, KxOptions options) {
    return std::make_unique<KxFamily>(std::move(options));
}

}  // namespace tsr
