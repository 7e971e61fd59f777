// A Modbus TCP device of our own: answers functions 1 to 6, 16 and 22 from four in-memory
// tables (65536 coils, discrete inputs, holding and input registers), for any unit, one thread
// per connection, and can be told to misbehave.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim_support.h"

namespace tsr::sims {

class ModbusSim {
  public:
    using Bytes = std::vector<uint8_t>;
    // How a fault spoils an answer (SetGarble).
    enum class Garble { None, HugeLength, WrongProtocol, HalfFrame, WrongUnit };

    ModbusSim();
    ~ModbusSim() { Stop(); }
    ModbusSim(const ModbusSim&) = delete;
    ModbusSim& operator=(const ModbusSim&) = delete;

    // Listens on `address`:`port` (0 picks a free port). False when it cannot listen.
    bool Start(const std::string& address = "127.0.0.1", uint16_t port = 0);
    // Closes the listener and every connection. The tables are kept.
    void Stop();
    uint16_t port() const { return server_.port(); }
    // Closes every open connection; the listener stays.
    void DropConnections() { server_.DropConnections(); }
    // The connections accepted since the start.
    int Accepted() const { return accepted_.load(); }

    void SetCoil(uint16_t address, bool on);
    bool Coil(uint16_t address) const;
    void SetDiscreteInput(uint16_t address, bool on);
    void SetHoldingRegister(uint16_t address, uint16_t value);
    uint16_t HoldingRegister(uint16_t address) const;
    void SetInputRegister(uint16_t address, uint16_t value);
    // The IEEE single `value` in the registers `address` (high word) and `address` + 1.
    void SetHoldingFloat(uint16_t address, float value);

    // The variable `name` ("hr0", "co3", "ir2:f32", "hr4.1") set from the text `value`, or
    // read as text; false or empty for a name or value the tables do not take.
    bool Set(std::string_view name, std::string_view value);
    std::optional<std::string> Get(std::string_view name) const;

    // Addresses at or past `count` answer "illegal data address" (exception 2); 65536: none.
    void SetTableSize(uint32_t count) { tableSize_.store(count); }
    // Function 22 answers "illegal function", as many devices do.
    void SetMaskWriteServed(bool on) { maskWrite_.store(on); }

#ifdef TESSORA_SIM_FAULTS
    // Fault modes. Requests are received and never answered.
    void SetSilent(bool on) {
        silent_.store(on);
    }
    // Every answer waits `delay` first.
    void SetDelay(std::chrono::milliseconds delay) {
        delayMs_.store(delay.count());
    }
    // The next `count` answers carry another transaction number.
    void SetWrongTransactions(int count) {
        wrongTransactions_.store(count);
    }
    // The next `count` answers are each preceded by a copy with another transaction number.
    void SetStrayAnswers(int count) {
        strayAnswers_.store(count);
    }
    // Every request is answered with exception `code` (0: off).
    void SetException(uint8_t code) {
        exception_.store(code);
    }
    // The next request closes its connection instead of being answered.
    void SetCloseOnNextRequest(bool on) {
        closeOnRequest_.store(on);
    }
    // Every answer is spoiled so: a length field of 0xFFFF, a protocol identifier of 1, only
    // the first half of its bytes, another unit.
    void SetGarble(Garble g) {
        garble_.store(static_cast<int>(g));
    }
#endif  // TESSORA_SIM_FAULTS

    // Every request frame received (the newest 4096), in order.
    std::vector<Bytes> Requests() const;
    void ClearRequests();
    // Every request frame received since the start, however many.
    uint64_t RequestCount() const { return requestCount_.load(); }

  private:
    void Serve(int fd, const std::atomic<bool>& stopping);
    // The answer PDU of a request PDU.
    Bytes Answer(const Bytes& pdu);
    Bytes ReadBits(const Bytes& pdu, const std::vector<bool>& table);
    Bytes ReadRegisters(const Bytes& pdu, const std::vector<uint16_t>& table);
    bool Fits(uint32_t address, uint32_t count) const;

    TcpSimServer server_;
    mutable std::mutex mutex_;
    std::vector<bool> coils_, inputs_;
    std::vector<uint16_t> holding_, inputRegisters_;
    std::deque<Bytes> requests_;
    std::atomic<int> accepted_{0};
    std::atomic<uint64_t> requestCount_{0};
    std::atomic<uint32_t> tableSize_{65536};
    std::atomic<bool> maskWrite_{true};
    std::atomic<bool> silent_{false};
    std::atomic<long long> delayMs_{0};
    std::atomic<int> wrongTransactions_{0};
    std::atomic<int> strayAnswers_{0};
    std::atomic<uint8_t> exception_{0};
    std::atomic<bool> closeOnRequest_{false};
    std::atomic<int> garble_{0};
};

}  // namespace tsr::sims
