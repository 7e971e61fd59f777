// The S7 IP family: ISO-on-TCP (TPKT, COTP, S7) to one controller for the whole run.
//
// One TCP connection (default port 102), opened within kConnectTimeout; every request waits at
// most kAnswerTimeout for its answer. Answers are cut from the stream by their TPKT length;
// whatever arrived before a request was sent is dropped, and a read or write answer is taken
// only when it carries the reference of its own job, so a late answer to a request that timed
// out is never taken for the answer to the next one.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/log_sink.h"
#include "gateways/families.h"
#include "gateways/s7/names.h"
#include "gateways/transport/tcp_transport.h"

namespace tsr {

// Counters of the reads of variables, for the benchmark and the tests.
struct S7Statistics {
    uint64_t cacheHits = 0;    // reads answered from the read cache
    uint64_t cacheMisses = 0;  // reads that sent a read request
    uint64_t requests = 0;     // requests sent after the connection was set up (reads, writes,
                               // keep-alives)
};

class S7Family : public ConnectedFamily {
public:
    static constexpr uint16_t kDefaultPort = 102;
    static constexpr std::chrono::milliseconds kConnectTimeout{2000};
    static constexpr std::chrono::milliseconds kAnswerTimeout{500};
    static constexpr std::chrono::milliseconds kSendTimeout{500};
    // A cached read is used while it is at most this old.
    static constexpr std::chrono::milliseconds kCacheAge{99};
    static constexpr size_t kCacheEntries = 32;

    using Now = std::function<std::chrono::steady_clock::time_point()>;

    // `now` gives the time of the read cache (the steady clock unless a test sets its own).
    explicit S7Family(Now now = [] { return std::chrono::steady_clock::now(); })
        : now_(std::move(now)) {}
    ~S7Family() override = default;

    // Connected: sends the CPU state request; no answer within kAnswerTimeout disconnects and
    // fails. Otherwise connects to `settings.ip` ("host" or "host:port"), sends the connection
    // request and the setup communication of `settings.ucpos`. 0 when connected, -1 otherwise.
    int Connect(const GatewaySettings& settings) override;
    // Closes the connection; true when the family was connected.
    bool Disconnect() override;
    bool IsConnected() const override { return connected_; }
    // The value of the variable `item` ("%MW10", ...), or "[err]" when the name is not one or
    // the read fails.
    std::string ReadItem(std::string_view item) override;
    // Writes "name=value"; a bit form reads its byte and writes it back changed. Silent on any
    // failure (and writes nothing when the name or value is not valid).
    void WriteItem(std::string_view item) override;

    // The counters since the family was made.
    S7Statistics Statistics() const;

private:
    struct CacheEntry {
        bool used = false;
        uint8_t area = 0;
        uint32_t bitAddress = 0;
        std::chrono::steady_clock::time_point time;
        std::array<uint8_t, 4> bytes{};
    };
    using AnswerTest = std::function<bool(std::span<const uint8_t> packet)>;

    bool SetUp(int ucpos);
    bool KeepAlive();
    void CloseLocked();
    bool ReadVariableBytes(const s7::S7Variable& variable, std::array<uint8_t, 4>* bytes);
    bool ReadBytes(uint8_t area, uint32_t bitAddress, std::span<uint8_t> out);
    bool WriteBytes(uint8_t area, uint32_t byte, std::span<const uint8_t> data);
    void ForgetCached(uint8_t area, uint32_t byte, size_t count);
    bool Exchange(std::span<const uint8_t> packet, const AnswerTest& isAnswer);
    bool ReceivePacket(std::chrono::steady_clock::time_point deadline, std::span<uint8_t>* packet);
    uint16_t NextReference();

    Now now_;
    mutable std::mutex mutex_;  // the family lock: held for every whole operation
    TcpConnection connection_;
    std::atomic<bool> connected_{false};
    std::vector<uint8_t> packet_ = std::vector<uint8_t>(65535);
    std::array<CacheEntry, kCacheEntries> cache_{};
    uint16_t reference_ = 0;
    std::atomic<uint64_t> cacheHits_{0};
    std::atomic<uint64_t> cacheMisses_{0};
    std::atomic<uint64_t> requests_{0};
};

// The family's one connection state for the whole run.
std::unique_ptr<ConnectedFamily> MakeS7Family(LogSink& log);

}  // namespace tsr
