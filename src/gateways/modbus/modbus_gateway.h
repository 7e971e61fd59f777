// The Modbus TCP family: the standard function codes (1 to 6, 16, 22) over one TCP connection
// per gateway `ip` (port 502 unless `ip` names another).
//
// How an item reaches its device. One family object serves every modbusgateway object of the
// project, and each has its own `ip` and `unit`. The page names the gateway in every item: the
// gateway's address function in the page returns "MB" followed by the gateway id and a '/', so
// a link posts "/MBmb1/hr0", and the item is "mb1/hr0". The lifecycle's walks register each
// gateway id with its `ip` and `unit` (Connect); gateways with the same `ip` share its
// connection and keep their own unit. An item without a gateway part ("hr0") goes to the first
// gateway registered. Naming the gateway in the item also keeps the same variable of two
// devices apart wherever reads are merged by their item text.
//
// Bounds. A connection is opened only by Connect (the start walk and the 5-second retry tick),
// never on a page's request: a device that is off answers "[err]" at once. Each connection has
// its own lock, so a device that does not answer holds up only the requests to that device,
// each for at most one send time-out plus one answer time-out; a time-out, a closed connection
// or a frame that breaks the stream closes the connection until the next retry tick, so a
// silent device costs that wait once, not once per request.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "base/log_sink.h"
#include "gateways/families.h"
#include "gateways/modbus/frames.h"
#include "gateways/transport/tcp_transport.h"

namespace tsr {

struct ModbusOptions {
    // Resolve and TCP connect, in all; spent only by Connect, on the lifecycle's thread.
    std::chrono::milliseconds connectTimeout{2000};
    // One request frame handed to the peer.
    std::chrono::milliseconds sendTimeout{500};
    // From the end of the send to the whole answer frame, however many pieces it comes in.
    std::chrono::milliseconds answerTimeout{1000};
    uint16_t lastTransaction = 0;  // the first request carries the next one
};

constexpr uint16_t kModbusDefaultPort = 502;

class ModbusFamily : public ConnectedFamily {
  public:
    explicit ModbusFamily(ModbusOptions options = {}) : options_(options) {}
    ~ModbusFamily() override;

    // Registers the gateway `settings.id` with its `ip` and `unit`, then connects that ip's
    // connection or, when it is connected, checks that the peer has not closed it (a closed one
    // is opened again at once). 0 when connected; -2 no TCP connection; -3 the address is not
    // valid or not known, or the unit is outside 0 to 255.
    int Connect(const GatewaySettings& settings) override;
    // Closes every connection and forgets every gateway; true when one was connected.
    bool Disconnect() override;
    // The stop walk of one gateway: forgets it, and closes its connection when no other gateway
    // uses it; true when that closed a connection.
    bool Disconnect(const GatewaySettings& settings);
    // True when any gateway's connection is open.
    bool IsConnected() const override;
    // True when the connection of `ip` is open.
    bool IsConnected(const std::string& ip) const;

    // The value of one item ("mb1/hr0", "hr0:f32"...) as text, or "[err]" for a malformed name,
    // an unknown gateway, a connection that is not open, an exception answer, a time-out or a
    // closed connection.
    std::string ReadItem(std::string_view item) override;
    // Several items of one request: items of one gateway and one table whose addresses are
    // adjacent are read with one request (at most 125 registers or 2000 bits); a block the device
    // refuses is read again item by item, so one bad address spoils only its own item.
    std::vector<std::string> ReadItems(std::span<const std::string_view> items) override;
    // Writes "name=value" ("mb1/hr0=5"); silent when anything fails. A write to a discrete input
    // or an input register, a malformed name or value sends nothing. A register bit is written
    // with function 22, or, when the device answers it with "illegal function", by reading the
    // register and writing it back with function 6.
    void WriteItem(std::string_view item) override;
    // The gateway id an item names: each gateway's requests have a worker of their own.
    std::string Channel(std::string_view item) const override;

  private:
    struct Link;
    struct Target {
        std::shared_ptr<Link> link;
        uint8_t unit = 1;
    };
    enum class Outcome { Ok, Exception, Failed };

    // The link and unit of the gateway an item names; empty link when none is registered.
    Target Find(std::string_view gateway) const;
    // One request and its answer on `link` (its lock held by the caller).
    Outcome Exchange(Link& link, uint8_t unit, const modbus::Bytes& pdu, modbus::Answer* answer);
    // Reads the variables of one target in as few requests as PlanReads gives.
    void ReadGroup(const Target& target, std::span<const modbus::Variable> vars,
                   std::span<std::string*> texts);
    // Reads one block into the texts of its members: Ok, Exception (the device refused the
    // block; the texts are left as they are) or Failed.
    Outcome ReadBlock(Link& link, uint8_t unit, const modbus::ReadBlock& block,
                      std::span<const modbus::Variable> vars, std::span<std::string*> texts);
    // A register bit through function 3 and function 6.
    void WriteBitByReadBack(Link& link, uint8_t unit, const modbus::Variable& v, bool on);

    ModbusOptions options_;
    mutable std::mutex mutex_;  // the two maps below; never held during an exchange
    std::map<std::string, std::shared_ptr<Link>> links_;  // by the endpoint "host:port"
    std::map<std::string, Target> gateways_;              // by gateway id
    std::vector<std::string> order_;                      // gateway ids, first registered first
};

// The family for the whole run, with the default time-outs. The family writes no log lines of
// its own (the lifecycle reports its connects); `log` is not used.
std::unique_ptr<ModbusFamily> MakeModbusFamily(LogSink& log);

}  // namespace tsr
