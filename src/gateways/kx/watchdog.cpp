#include "gateways/kx/watchdog.h"

namespace tsr::kx {

void HeartbeatWatchdog::Renew(Clock::time_point now, uint32_t heartbeat) {
    reference_ = now;
    heartbeat_ = heartbeat;
}

bool HeartbeatWatchdog::Check(Clock::time_point now, uint32_t heartbeat) {
    const auto elapsed = now - reference_;
    if (elapsed < kLookFrom) return true;
    reference_ = now;
    if (elapsed > kLookUntil) {
        misses_ = 0;
        heartbeat_ = heartbeat;
        return true;
    }
    if (heartbeat != heartbeat_) {
        misses_ = 0;
        heartbeat_ = heartbeat;
        return true;
    }
    ++misses_;
    return misses_ < kMissesToFail;
}

}  // namespace tsr::kx
