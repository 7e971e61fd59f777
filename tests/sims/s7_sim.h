// A small S7 controller on ISO-on-TCP for the tests: it confirms connection requests, answers
// the setup communication, the CPU state request and one-item reads and writes of the inputs,
// outputs and flags, and can be told to misbehave (no answer, a late answer, a refused
// connection).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "sim_support.h"

namespace tsr::sims {

class S7Sim {
public:
    // Bytes in each of the areas I (0x81), Q (0x82) and M (0x83).
    static constexpr size_t kAreaSize = 65536;

    S7Sim();
    ~S7Sim() { Stop(); }
    S7Sim(const S7Sim&) = delete;
    S7Sim& operator=(const S7Sim&) = delete;

    // Listens on `address`:`port` (0 picks a free port). False when it cannot listen.
    bool Start(const std::string& address = "127.0.0.1", uint16_t port = 0);
    // Closes the listener and every connection.
    void Stop();
    uint16_t port() const { return server_.port(); }

    // The bytes of `area` (0x81, 0x82, 0x83) from `offset`; writes beyond the area are cut.
    void SetBytes(uint8_t area, size_t offset, const std::vector<uint8_t>& bytes);
    std::vector<uint8_t> GetBytes(uint8_t area, size_t offset, size_t count) const;

#ifdef TESSORA_SIM_FAULTS
    // Fault modes. Silent: every packet is read and left unanswered. Answer delay: each answer
    // to a read, write or CPU state request is sent this much later (0: at once); with
    // `count` > 0 only the next `count` such answers are delayed. Refuse: connection requests
    // are answered with a disconnect request and the connection is closed.
    void SetSilent(bool silent) { silent_ = silent; }
    void SetAnswerDelay(std::chrono::milliseconds delay, int count = 0);
    void SetRefuseConnections(bool refuse) { refuse_ = refuse; }
#endif  // TESSORA_SIM_FAULTS

    // What arrived: read, write and CPU state requests since the start, and the last
    // connection request and setup communication packets.
    int reads() const { return reads_; }
    int writes() const { return writes_; }
    int cpuStateRequests() const { return cpuStates_; }
    std::vector<uint8_t> LastConnectionRequest() const;
    std::vector<uint8_t> LastSetup() const;

private:
    void Serve(int fd, const std::atomic<bool>& stopping);
    std::vector<uint8_t> Answer(const std::vector<uint8_t>& packet, bool* delayed);
    std::vector<uint8_t> AnswerJob(const std::vector<uint8_t>& pdu, bool* delayed);
    std::vector<uint8_t>* Area(uint8_t code);
    std::chrono::milliseconds TakeDelay();

    TcpSimServer server_;
    mutable std::mutex mutex_;
    std::vector<uint8_t> inputs_, outputs_, flags_;
    std::vector<uint8_t> lastConnectionRequest_, lastSetup_;
    std::atomic<bool> silent_{false}, refuse_{false};
    std::chrono::milliseconds delay_{0};
    int delayCount_ = 0;
    std::atomic<int> reads_{0}, writes_{0}, cpuStates_{0};
};

}  // namespace tsr::sims
