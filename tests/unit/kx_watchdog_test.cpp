// The heartbeat watchdog: when it looks, what counts as a miss, and the fourth miss.
#include <gtest/gtest.h>

#include <vector>

#include "gateways/kx/watchdog.h"

namespace tsr::kx {
namespace {

using std::chrono::milliseconds;

struct Step {
    int atMs;            // time of the status check since the start
    uint32_t heartbeat;  // heartbeat read at that check
    bool expected;       // the check passes
    int misses;          // misses counted after it
};

struct Case {
    const char* name;
    std::vector<Step> steps;
};

TEST(KxWatchdog, CountsMissesOnlyInItsWindow) {
    const Case cases[] = {
        {"stopped heartbeat fails at the fourth look",
         {{500, 0, true, 0},
          {1001, 0, true, 1},
          {2002, 0, true, 2},
          {3003, 0, true, 3},
          {4004, 0, false, 4}}},
        {"no look before 1001 ms",
         {{1000, 0, true, 0}, {1001, 0, true, 1}, {2001, 0, true, 1}, {2002, 0, true, 2}}},
        {"a changed heartbeat clears the misses",
         {{1001, 0, true, 1}, {2002, 0, true, 2}, {3003, 9, true, 0}, {4004, 9, true, 1}}},
        {"a late check clears the misses and renews",
         {{1001, 0, true, 1}, {2002, 0, true, 2}, {12002, 0, true, 0}, {13003, 0, true, 1}}},
        {"9999 ms is still inside the window", {{9999, 0, true, 1}}},
        {"10000 ms is outside", {{10000, 0, true, 0}}},
        {"heartbeat compared with the previous look, not the previous check",
         {{1001, 5, true, 0}, {1500, 6, true, 0}, {2002, 6, true, 0}, {3003, 6, true, 1}}},
    };
    for (const Case& c : cases) {
        HeartbeatWatchdog w;
        const auto start = HeartbeatWatchdog::Clock::time_point{} + std::chrono::hours(1);
        w.Renew(start, 0);
        for (const Step& s : c.steps) {
            EXPECT_EQ(w.Check(start + milliseconds(s.atMs), s.heartbeat), s.expected)
                << c.name << " at " << s.atMs;
            EXPECT_EQ(w.misses(), s.misses) << c.name << " at " << s.atMs;
        }
    }
}

TEST(KxWatchdog, RenewSetsTheReference) {
    HeartbeatWatchdog w;
    const auto start = HeartbeatWatchdog::Clock::time_point{} + std::chrono::hours(1);
    w.Renew(start, 3);
    EXPECT_TRUE(w.Check(start + milliseconds(1001), 3));
    EXPECT_EQ(w.misses(), 1);
    w.Renew(start + milliseconds(1500), 3);               // a command submitted
    EXPECT_TRUE(w.Check(start + milliseconds(2002), 3));  // only 502 ms after the reference
    EXPECT_EQ(w.misses(), 1);
    EXPECT_TRUE(w.Check(start + milliseconds(2501), 3));
    EXPECT_EQ(w.misses(), 2);
}

}  // namespace
}  // namespace tsr::kx
