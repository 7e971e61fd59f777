#include "modbus_sim.h"

#include <sys/socket.h>

#include <bit>
#include <thread>

#include "gateways/modbus/frames.h"
#include "gateways/modbus/names.h"

namespace tsr::sims {
namespace {

constexpr size_t kKeptRequests = 4096;
constexpr size_t kTable = 65536;

uint16_t Be16(const ModbusSim::Bytes& p, size_t at) {
    return static_cast<uint16_t>((p[at] << 8) | p[at + 1]);
}

void PutBe16(ModbusSim::Bytes& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v & 0xFF));
}

ModbusSim::Bytes ExceptionPdu(uint8_t function, uint8_t code) {
    return {static_cast<uint8_t>(function | 0x80), code};
}

// Receives exactly `size` bytes; false when the peer closed, failed or the simulator stops.
bool ReceiveExactly(int fd, uint8_t* data, size_t size, const std::atomic<bool>& stopping) {
    size_t got = 0;
    while (got < size) {
        if (!WaitReadable(fd, stopping)) return false;
        ssize_t n = recv(fd, data + got, size - got, 0);
        if (n <= 0) return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

void Pause(long long ms, const std::atomic<bool>& stopping) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!stopping.load() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

ModbusSim::Bytes Frame(uint16_t txn, uint16_t protocol, uint8_t unit, const ModbusSim::Bytes& pdu,
                       std::optional<uint16_t> length = std::nullopt) {
    ModbusSim::Bytes out;
    PutBe16(out, txn);                                                     // transaction
    PutBe16(out, protocol);                                                // protocol
    PutBe16(out, length.value_or(static_cast<uint16_t>(pdu.size() + 1)));  // length
    out.push_back(unit);                                                   // unit
    out.insert(out.end(), pdu.begin(), pdu.end());
    return out;
}

}  // namespace

ModbusSim::ModbusSim()
    : server_([this](int fd, const std::atomic<bool>& stopping) { Serve(fd, stopping); }),
      coils_(kTable),
      inputs_(kTable),
      holding_(kTable),
      inputRegisters_(kTable) {}

bool ModbusSim::Start(const std::string& address, uint16_t port) {
    return server_.Start(address, port);
}

void ModbusSim::Stop() {
    server_.Stop();
}

// One connection: frames in, frames out, until the peer closes or the simulator stops.
//   txn(2) protocol 0(2) length(2) unit | function data...
void ModbusSim::Serve(int fd, const std::atomic<bool>& stopping) {
    accepted_.fetch_add(1);
    for (;;) {
        uint8_t head[7];
        if (!ReceiveExactly(fd, head, sizeof head, stopping)) return;
        const size_t length = static_cast<size_t>((head[4] << 8) | head[5]);
        if (length < 2 || length > 254 || head[2] != 0 || head[3] != 0) return;  // not Modbus
        Bytes frame(head, head + sizeof head);
        frame.resize(6 + length);
        if (!ReceiveExactly(fd, frame.data() + sizeof head, length - 1, stopping)) return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(frame);
            if (requests_.size() > kKeptRequests) requests_.pop_front();
        }
        requestCount_.fetch_add(1);
        if (closeOnRequest_.exchange(false)) return;
        if (silent_.load()) continue;
        const Bytes pdu(frame.begin() + 7, frame.end());
        Bytes answer = exception_.load() ? ExceptionPdu(pdu[0], exception_.load()) : Answer(pdu);
        if (long long ms = delayMs_.load(); ms > 0) Pause(ms, stopping);
        uint16_t txn = static_cast<uint16_t>((head[0] << 8) | head[1]);
        const uint16_t other = static_cast<uint16_t>(txn == 0xFFFF ? 2 : txn + 1);
        if (wrongTransactions_.load() > 0) {
            wrongTransactions_.fetch_sub(1);
            txn = other;
        }
        Bytes out;
        if (strayAnswers_.load() > 0) {
            strayAnswers_.fetch_sub(1);
            out = Frame(other, 0, head[6], answer);
        }
        const Bytes own = Frame(txn, 0, head[6], answer);
        switch (static_cast<Garble>(garble_.load())) {
            case Garble::None:
                out.insert(out.end(), own.begin(), own.end());
                break;
            case Garble::HugeLength: {
                Bytes huge = Frame(txn, 0, head[6], answer, 0xFFFF);
                out.insert(out.end(), huge.begin(), huge.end());
                break;
            }
            case Garble::WrongProtocol: {
                Bytes bad = Frame(txn, 1, head[6], answer);
                out.insert(out.end(), bad.begin(), bad.end());
                break;
            }
            case Garble::HalfFrame:
                out.insert(out.end(), own.begin(), own.begin() + own.size() / 2);
                break;
            case Garble::WrongUnit: {
                Bytes bad = Frame(txn, 0, static_cast<uint8_t>(head[6] + 1), answer);
                out.insert(out.end(), bad.begin(), bad.end());
                break;
            }
        }
        if (!SendAllBytes(fd, out.data(), out.size())) return;
    }
}

bool ModbusSim::Fits(uint32_t address, uint32_t count) const {
    return address + count <= tableSize_.load();
}

ModbusSim::Bytes ModbusSim::ReadBits(const Bytes& pdu, const std::vector<bool>& table) {
    const uint16_t address = Be16(pdu, 1), count = Be16(pdu, 3);
    if (count < 1 || count > 2000) return ExceptionPdu(pdu[0], 3);
    if (!Fits(address, count)) return ExceptionPdu(pdu[0], 2);
    Bytes a{pdu[0], static_cast<uint8_t>((count + 7) / 8)};
    a.resize(2 + a[1], 0);
    for (uint16_t i = 0; i < count; ++i)
        if (table[address + i]) a[2 + i / 8] |= static_cast<uint8_t>(1 << (i % 8));
    return a;
}

ModbusSim::Bytes ModbusSim::ReadRegisters(const Bytes& pdu, const std::vector<uint16_t>& table) {
    const uint16_t address = Be16(pdu, 1), count = Be16(pdu, 3);
    if (count < 1 || count > 125) return ExceptionPdu(pdu[0], 3);
    if (!Fits(address, count)) return ExceptionPdu(pdu[0], 2);
    Bytes a{pdu[0], static_cast<uint8_t>(count * 2)};
    for (uint16_t i = 0; i < count; ++i) PutBe16(a, table[address + i]);
    return a;
}

ModbusSim::Bytes ModbusSim::Answer(const Bytes& pdu) {
    std::lock_guard<std::mutex> lock(mutex_);
    const uint8_t f = pdu[0];
    const size_t need = f == 16 ? 6 : f == 22 ? 7 : 5;
    if (pdu.size() < need) return ExceptionPdu(f, 3);
    const uint16_t address = Be16(pdu, 1);
    switch (f) {
        case 1:
            return ReadBits(pdu, coils_);
        case 2:
            return ReadBits(pdu, inputs_);
        case 3:
            return ReadRegisters(pdu, holding_);
        case 4:
            return ReadRegisters(pdu, inputRegisters_);
        case 5: {
            const uint16_t value = Be16(pdu, 3);
            if (value != 0xFF00 && value != 0x0000) return ExceptionPdu(f, 3);
            if (!Fits(address, 1)) return ExceptionPdu(f, 2);
            coils_[address] = value == 0xFF00;
            return Bytes(pdu.begin(), pdu.begin() + 5);
        }
        case 6:
            if (!Fits(address, 1)) return ExceptionPdu(f, 2);
            holding_[address] = Be16(pdu, 3);
            return Bytes(pdu.begin(), pdu.begin() + 5);
        case 16: {
            const uint16_t count = Be16(pdu, 3);
            if (count < 1 || count > 123 || pdu[5] != count * 2 || pdu.size() != 6u + count * 2)
                return ExceptionPdu(f, 3);
            if (!Fits(address, count)) return ExceptionPdu(f, 2);
            for (uint16_t i = 0; i < count; ++i) holding_[address + i] = Be16(pdu, 6 + 2u * i);
            return Bytes(pdu.begin(), pdu.begin() + 5);
        }
        case 22: {
            if (!maskWrite_.load()) return ExceptionPdu(f, 1);
            if (!Fits(address, 1)) return ExceptionPdu(f, 2);
            const uint16_t andMask = Be16(pdu, 3), orMask = Be16(pdu, 5);
            holding_[address] =
                static_cast<uint16_t>((holding_[address] & andMask) | (orMask & ~andMask));
            return Bytes(pdu.begin(), pdu.begin() + 7);
        }
        default:
            return ExceptionPdu(f, 1);
    }
}

void ModbusSim::SetCoil(uint16_t address, bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    coils_[address] = on;
}
bool ModbusSim::Coil(uint16_t address) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return coils_[address];
}
void ModbusSim::SetDiscreteInput(uint16_t address, bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    inputs_[address] = on;
}
void ModbusSim::SetHoldingRegister(uint16_t address, uint16_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    holding_[address] = value;
}
uint16_t ModbusSim::HoldingRegister(uint16_t address) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return holding_[address];
}
void ModbusSim::SetInputRegister(uint16_t address, uint16_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    inputRegisters_[address] = value;
}
void ModbusSim::SetHoldingFloat(uint16_t address, float value) {
    const uint32_t bits = std::bit_cast<uint32_t>(value);
    std::lock_guard<std::mutex> lock(mutex_);
    holding_[address] = static_cast<uint16_t>(bits >> 16);
    holding_[static_cast<uint16_t>(address + 1)] = static_cast<uint16_t>(bits & 0xFFFF);
}

bool ModbusSim::Set(std::string_view name, std::string_view value) {
    std::optional<modbus::Variable> v = modbus::ParseName(name);
    if (!v) return false;
    // The writable forms encode as a page's write does; the read-only tables take the same
    // texts as if they were written.
    modbus::Variable asWritten = *v;
    if (asWritten.table == modbus::Table::DiscreteInput) asWritten.table = modbus::Table::Coil;
    if (asWritten.table == modbus::Table::InputRegister)
        asWritten.table = modbus::Table::HoldingRegister;
    std::optional<std::vector<uint16_t>> values = modbus::EncodeValue(asWritten, value);
    if (!values) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    switch (v->table) {
        case modbus::Table::Coil:
            coils_[v->address] = (*values)[0] != 0;
            return true;
        case modbus::Table::DiscreteInput:
            inputs_[v->address] = (*values)[0] != 0;
            return true;
        case modbus::Table::HoldingRegister:
        case modbus::Table::InputRegister: {
            auto& table = v->table == modbus::Table::HoldingRegister ? holding_ : inputRegisters_;
            if (v->form == modbus::Form::RegisterBit) {
                const auto mask = static_cast<uint16_t>(1u << v->bit);
                table[v->address] = (*values)[0] ? static_cast<uint16_t>(table[v->address] | mask)
                                                 : static_cast<uint16_t>(table[v->address] & ~mask);
                return true;
            }
            for (size_t i = 0; i < values->size(); ++i) table[v->address + i] = (*values)[i];
            return true;
        }
    }
    return false;
}

std::optional<std::string> ModbusSim::Get(std::string_view name) const {
    std::optional<modbus::Variable> v = modbus::ParseName(name);
    if (!v) return std::nullopt;
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<uint16_t> values;
    for (uint32_t i = 0; i < modbus::Width(*v); ++i) {
        const size_t at = v->address + i;
        switch (v->table) {
            case modbus::Table::Coil:
                values.push_back(coils_[at]);
                break;
            case modbus::Table::DiscreteInput:
                values.push_back(inputs_[at]);
                break;
            case modbus::Table::HoldingRegister:
                values.push_back(holding_[at]);
                break;
            case modbus::Table::InputRegister:
                values.push_back(inputRegisters_[at]);
                break;
        }
    }
    return modbus::FormatValue(*v, values);
}

std::vector<ModbusSim::Bytes> ModbusSim::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return {requests_.begin(), requests_.end()};
}

void ModbusSim::ClearRequests() {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.clear();
}

}  // namespace tsr::sims
