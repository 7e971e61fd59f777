// A Unity / M340 controller of our own: answers the family's requests (Modbus TCP function
// 0x5A) from in-memory tables, one thread per connection, and can be told to misbehave.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "sim_support.h"

namespace tsr::sims {

class UnitySim {
  public:
    using Bytes = std::vector<uint8_t>;

    UnitySim();
    ~UnitySim() { Stop(); }
    UnitySim(const UnitySim&) = delete;
    UnitySim& operator=(const UnitySim&) = delete;

    // Listens on `address`:`port` (0 picks a free port). False when it cannot listen.
    bool Start(const std::string& address = "127.0.0.1", uint16_t port = 0);
    // Closes the listener and every connection. The tables are kept.
    void Stop();
    uint16_t port() const { return server_.port(); }
    // Closes every open connection; the listener stays.
    void DropConnections() { server_.DropConnections(); }

    // The tables. %MD n and %MF n are the words n (low half) and n + 1 (high half).
    void SetMemoryWord(uint16_t n, uint16_t value);
    uint16_t MemoryWord(uint16_t n) const;
    void SetSystemWord(uint16_t n, uint16_t value);
    uint16_t SystemWord(uint16_t n) const;
    void SetMemoryBit(uint16_t n, bool value);
    bool MemoryBit(uint16_t n) const;
    void SetSystemBit(uint16_t n, bool value);
    bool SystemBit(uint16_t n) const;
    void SetMemoryDouble(uint16_t n, uint32_t value);
    uint32_t MemoryDouble(uint16_t n) const;
    void SetMemoryReal(uint16_t n, float value);
    float MemoryReal(uint16_t n) const;
    // I/O channels: kind 1 %I, 2 %Q, 3 %IW, 4 %QW.
    void SetChannel(uint8_t kind, uint16_t rack, uint16_t module, uint16_t channel, uint16_t value);
    uint16_t Channel(uint8_t kind, uint16_t rack, uint16_t module, uint16_t channel) const;

    // The variable `name` ("%MW0", "%M3", "%MF2", "%I0.1.2", ...) set from the decimal text
    // `value`, or read as text; false or empty for a name or value the tables do not hold.
    bool Set(std::string_view name, std::string_view value);
    std::optional<std::string> Get(std::string_view name) const;

#ifdef TESSORA_SIM_FAULTS
    // Fault modes. The next `count` answers carry another transaction number.
    void SetWrongTransactions(int count) { wrongTransactions_.store(count); }
    // Requests are received and never answered.
    void SetSilent(bool on) { silent_.store(on); }
    // Every answer waits `delay` first.
    void SetDelay(std::chrono::milliseconds delay) { delayMs_.store(delay.count()); }
    // Every request is refused (first answer byte 0xFD instead of 0xFE).
    void SetRejecting(bool on) { rejecting_.store(on); }
    // The next request closes its connection instead of being answered.
    void SetCloseOnNextRequest(bool on) { closeOnRequest_.store(on); }
#endif  // TESSORA_SIM_FAULTS

    // Every request frame received (the newest 4096), in order.
    std::vector<Bytes> Requests() const;
    void ClearRequests();
    // Every request frame received since the start, however many.
    uint64_t RequestCount() const { return requestCount_.load(); }

  private:
    void Serve(int fd, const std::atomic<bool>& stopping);
    // The answer payload for a request payload.
    Bytes Answer(const Bytes& request);
    Bytes AnswerMemoryRead(const Bytes& p);
    Bytes AnswerMemoryWrite(const Bytes& p);
    Bytes AnswerChannel(const Bytes& p, bool write);

    TcpSimServer server_;
    mutable std::mutex mutex_;
    std::map<uint16_t, uint16_t> memoryWords_, systemWords_;
    std::map<uint16_t, bool> memoryBits_, systemBits_;
    std::map<std::tuple<uint8_t, uint16_t, uint16_t, uint16_t>, uint16_t> channels_;
    std::deque<Bytes> requests_;
    std::atomic<uint64_t> requestCount_{0};
    std::atomic<int> wrongTransactions_{0};
    std::atomic<bool> silent_{false};
    std::atomic<long long> delayMs_{0};
    std::atomic<bool> rejecting_{false};
    std::atomic<bool> closeOnRequest_{false};
};

}  // namespace tsr::sims
