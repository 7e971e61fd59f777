// The values that change by themselves in every simulator the simulate command runs, as pure
// functions of the milliseconds since the simulator started: a ramp, a sine, a toggling bit and a
// counter. Each family serves them under names of its own.
#pragma once

#include <cmath>
#include <cstdint>

namespace tsr::sims {

// 0, 1, ..., 100, 0, ...: one step every 100 ms (10.1 s a period).
inline int RampValue(int64_t ms) {
    return static_cast<int>((ms / 100) % 101);
}

// 50 + 50 sin(2 pi t / 10 s): between 0 and 100, ten seconds a period.
inline double SineValue(int64_t ms) {
    constexpr double kPi = 3.14159265358979323846;
    return 50.0 + 50.0 * std::sin(2.0 * kPi * static_cast<double>(ms % 10000) / 10000.0);
}

// The sine rounded to a whole number, for integer variables.
inline int SineWord(int64_t ms) {
    return static_cast<int>(std::lround(SineValue(ms)));
}

// 0 for one second, 1 for the next.
inline bool ToggleBit(int64_t ms) {
    return (ms / 1000) % 2 == 1;
}

// Seconds since the start, within 0 to 32767 so that every 16-bit signed variable holds it.
inline int CounterValue(int64_t ms) {
    return static_cast<int>((ms / 1000) % 32768);
}

}  // namespace tsr::sims
