// The heartbeat watchdog of the KX family: tells when the KX program has stopped advancing the
// heartbeat counter of the block. Pure: the caller passes the time and the heartbeat it read.
#pragma once

#include <chrono>
#include <cstdint>

namespace tsr::kx {

class HeartbeatWatchdog {
public:
    using Clock = std::chrono::steady_clock;

    // A look at the heartbeat happens when the time since the reference is in this window; the
    // fourth consecutive look that finds it unchanged fails.
    static constexpr std::chrono::milliseconds kLookFrom{1001};
    static constexpr std::chrono::milliseconds kLookUntil{9999};
    static constexpr int kMissesToFail = 4;

    // Sets the reference time (a block was claimed, or a command submitted) and the heartbeat
    // the next look compares with.
    void Renew(Clock::time_point now, uint32_t heartbeat);

    // Runs at every status check. Before the window nothing happens; inside it the reference is
    // renewed and `heartbeat` is compared with the value seen at the previous look (unchanged is
    // a miss, changed clears the misses); after it (a check that came very late) the reference is
    // renewed and the misses are cleared. False when this look was the fourth consecutive miss.
    bool Check(Clock::time_point now, uint32_t heartbeat);

    int misses() const { return misses_; }

private:
    Clock::time_point reference_{};
    uint32_t heartbeat_ = 0;
    int misses_ = 0;
};

}  // namespace tsr::kx
