// The test runtime library: a variable store behind OrvoEntryPoint. Direct reads and writes
// answer through the result request; the watched list is executed as a snapshot and fetched in
// order. Value layout in an answer: bits in word 3's low byte (0 means set); C and M in word 5;
// T and L low half in word 5, high half in word 6; F high half in word 5, low half in word 6.
// Built with ORVO8_FAULTS (the tests' copy) it can be told to misbehave; built with
// ORVO8_MOVING_VALUES (the copy beside tessora-cli for `simulate corvane`) the variables M0 (a
// ramp), M1 (a sine), F0 (the sine as a real), B0 (a toggling bit) and M2 (a counter) change by
// themselves.
#include <algorithm>
#include <array>
#include <map>
#include <mutex>
#include <vector>

#include "orvo8_api.h"

#ifdef ORVO8_MOVING_VALUES
#include <bit>
#include <chrono>

#include "../moving_values.h"
#endif

namespace {

constexpr int kTypes = 8;
constexpr int kIndexes = 10000;
constexpr size_t kMaxList = 4096;

struct Pending {
    bool active = false;
    bool read = false;
    int type = 0;
    int index = 0;
    int pollsLeft = 0;
};

struct Store {
    std::mutex mutex;
    std::vector<uint32_t> values = std::vector<uint32_t>(kTypes * kIndexes);
    std::vector<unsigned> directReads = std::vector<unsigned>(kTypes * kIndexes);
    std::map<unsigned, unsigned> commands;
    std::array<uint16_t, 9> lastWrite{};
    std::vector<std::pair<int, int>> list;
    std::vector<uint32_t> snapshot;
    size_t cursor = 0;
    Pending pending;
    int statusFails = 0;
    int resultDelay = 0;
    unsigned readStatus = 0;
};

Store& S() {
    static Store store;
    return store;
}

bool Valid(int type, int index) {
    return type >= 0 && type < kTypes && index >= 0 && index < kIndexes;
}

size_t Slot(int type, int index) {
    return static_cast<size_t>(type) * kIndexes + index;
}

bool IsBit(int type) {
    return type <= 2;
}

// A variable's value as the runtime answers it: the stored one, or the moving one.
uint32_t Read(const Store& s, int type, int index) {
#ifdef ORVO8_MOVING_VALUES
    using namespace tsr::sims;
    static const auto start = std::chrono::steady_clock::now();
    const int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start)
                           .count();
    if (type == 5 && index == 0) return static_cast<uint32_t>(RampValue(ms));
    if (type == 5 && index == 1) return static_cast<uint32_t>(SineWord(ms));
    if (type == 5 && index == 2) return static_cast<uint32_t>(CounterValue(ms));
    if (type == 6 && index == 0) return std::bit_cast<uint32_t>(static_cast<float>(SineValue(ms)));
    if (type == 2 && index == 0) return ToggleBit(ms) ? 1 : 0;
#endif
    return s.values[Slot(type, index)];
}

uint16_t Get(const unsigned char* b, int word) {
    return static_cast<uint16_t>(b[2 * word] | (b[2 * word + 1] << 8));
}

void Put(unsigned char* b, int word, uint16_t v) {
    b[2 * word] = static_cast<unsigned char>(v & 0xFF);
    b[2 * word + 1] = static_cast<unsigned char>(v >> 8);
}

// Writes a variable's value into the output words 3, 5 and 6.
void Answer(unsigned char* b, int type, uint32_t value) {
    if (IsBit(type)) {
        Put(b, 3, value ? 0 : 1);
        return;
    }
    if (type == 6) {  // F: high half first
        Put(b, 5, static_cast<uint16_t>(value >> 16));
        Put(b, 6, static_cast<uint16_t>(value & 0xFFFF));
        return;
    }
    Put(b, 5, static_cast<uint16_t>(value & 0xFFFF));
    if (type == 3 || type == 7) Put(b, 6, static_cast<uint16_t>(value >> 16));
}

void ApplyWrite(Store& s, const unsigned char* b) {
    const uint16_t w3 = Get(b, 3), w5 = Get(b, 5), w6 = Get(b, 6);
    const int type = w5 & 0xFF;
    const int index = Get(b, 4);
    if (!Valid(type, index)) return;
    uint32_t& value = s.values[Slot(type, index)];
    if (IsBit(type)) {
        switch (w5 >> 8) {
            case 0:
                value = 0;
                break;
            case 1:
                value = 1;
                break;
            case 2:
                value = 0;
                break;  // F0: forced off
            case 3:
                value = 1;
                break;  // F1: forced on
            case 4:
                break;  // UF: unforced, value kept
            case 5:
                value = value ? 0 : 1;
                break;  // toggle
        }
        return;
    }
    if (type == 4 || type == 5) {
        value = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(w6)));
        return;
    }
    if (type == 3) {
        value = w6;
        return;
    }
    value = (static_cast<uint32_t>(w5 >> 8) << 24) | (static_cast<uint32_t>(w3 & 0xFF) << 16) | w6;
}

uint16_t DirectStart(Store& s, const unsigned char* b) {
    const uint16_t w3 = Get(b, 3), w4 = Get(b, 4);
    if (w3 == 0 && w4 == 0xFFFF && Get(b, 5) == 0xFFFF && Get(b, 6) == 0xFFFF)
        return s.statusFails ? 1 : 0;  // the status request
    if (w3 & 0x0100) {
        for (int i = 0; i < 9; ++i) s.lastWrite[i] = Get(b, i);
        ApplyWrite(s, b);
        s.pending = Pending{true, false, 0, 0, s.resultDelay};
        return 0;
    }
    if (!Valid(w3, w4)) return 2;
    ++s.directReads[Slot(w3, w4)];
    if (s.readStatus != 0) return static_cast<uint16_t>(s.readStatus);
    s.pending = Pending{true, true, w3, w4, s.resultDelay};
    return 0;
}

uint16_t DirectResult(Store& s, unsigned char* out) {
    if (!s.pending.active) return 3;
    if (s.pending.pollsLeft != 0) {
        if (s.pending.pollsLeft > 0) --s.pending.pollsLeft;
        return 0xFFFF;
    }
    s.pending.active = false;
    if (s.pending.read)
        Answer(out, s.pending.type, Read(s, s.pending.type, s.pending.index));
    return 0;
}

uint16_t Dispatch(Store& s, const unsigned char* b, unsigned char* out) {
    const uint16_t command = Get(b, 0);
    ++s.commands[command];
    switch (command) {
        case 0x0B00:
            return DirectStart(s, b);
        case 0x0B01:
            return DirectResult(s, out);
        case 0x0D00:
            s.list.clear();
            return 0;
        case 0x0E00: {
            const int type = Get(b, 3), index = Get(b, 4);
            if (!Valid(type, index) || s.list.size() >= kMaxList) return 2;
            s.list.emplace_back(type, index);
            return 0;
        }
        case 0x1300:
            s.snapshot.clear();
            for (auto [type, index] : s.list) s.snapshot.push_back(Read(s, type, index));
            s.cursor = 0;
            return 0;
        case 0x0F00: {
            if (s.cursor >= s.snapshot.size()) return 4;
            Answer(out, s.list[s.cursor].first, s.snapshot[s.cursor]);
            ++s.cursor;
            return 0;
        }
        default:
            return 1;
    }
}

}  // namespace

extern "C" {

void OrvoEntryPoint(void* block) {
    auto* b = static_cast<unsigned char*>(block);
    Store& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    // The input is read from a copy; the answer is written into the cleared block.
    unsigned char in[18];
    for (int i = 0; i < 18; ++i) in[i] = b[i];
    for (int i = 0; i < 18; ++i) b[i] = 0;
    Put(b, 0, Dispatch(s, in, b));
}

void Orvo8Reset(void) {
    Store& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    std::fill(s.values.begin(), s.values.end(), 0);
    std::fill(s.directReads.begin(), s.directReads.end(), 0);
    s.commands.clear();
    s.lastWrite = {};
    s.list.clear();
    s.snapshot.clear();
    s.cursor = 0;
    s.pending = Pending{};
    s.statusFails = 0;
    s.resultDelay = 0;
    s.readStatus = 0;
}

void Orvo8SetValue(int type, int index, uint32_t value) {
    Store& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (Valid(type, index)) s.values[Slot(type, index)] = value;
}

uint32_t Orvo8GetValue(int type, int index) {
    Store& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    return Valid(type, index) ? s.values[Slot(type, index)] : 0;
}

unsigned Orvo8CommandCount(unsigned command) {
    Store& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    const auto it = s.commands.find(command);
    return it == s.commands.end() ? 0 : it->second;
}

unsigned Orvo8DirectReadCount(int type, int index) {
    Store& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    return Valid(type, index) ? s.directReads[Slot(type, index)] : 0;
}

void Orvo8LastWrite(uint16_t words[9]) {
    Store& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    for (int i = 0; i < 9; ++i) words[i] = s.lastWrite[i];
}

#ifdef ORVO8_FAULTS
void Orvo8SetStatusFails(int fail) {
    Store& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.statusFails = fail;
}

void Orvo8SetResultDelay(int polls) {
    Store& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.resultDelay = polls;
}

void Orvo8SetReadStatus(unsigned status) {
    Store& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.readStatus = status;
}
#endif  // ORVO8_FAULTS

}  // extern "C"
