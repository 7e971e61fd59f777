// What the web server's request protocol needs of the gateway families. Every family keeps one
// connection for the whole program, shared by all gateway objects of its type, and holds its own
// lock for each whole exchange, so the serving thread and the retry timer never interleave.
#pragma once

#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tsr {

// A device reached through a route of its own (Corvane, Simora, Unity, KX, S7).
class DeviceFamily {
  public:
    virtual ~DeviceFamily() = default;
    // Reads one item (a variable name with its route-specific additions) and returns the text the
    // page gets for it: the value, or the family's error text.
    virtual std::string ReadItem(std::string_view item) = 0;
    // Writes one item "name=value". A failed write is silent.
    virtual void WriteItem(std::string_view item) = 0;
    // Reads the read items of one request: one text per item, in their order. This default reads
    // them one by one with ReadItem; a family that can serve several items with one exchange
    // (Modbus TCP: adjacent registers in one function 3/4 request) overrides it.
    virtual std::vector<std::string> ReadItems(std::span<const std::string_view> items) {
        std::vector<std::string> texts;
        texts.reserve(items.size());
        for (std::string_view item : items) texts.push_back(ReadItem(item));
        return texts;
    }
    // The device connection an item uses, for a family with several (Modbus TCP: the gateway id
    // the item names); empty for a family with one. Requests whose first items name different
    // connections run side by side, so a device that does not answer holds up only the
    // requests to it. The family's own locks must allow that.
    virtual std::string Channel(std::string_view /*item*/) const { return {}; }
};

// The settings of one gateway object, read from its properties by the lifecycle walks.
struct GatewaySettings {
    std::string ip = "127.0.0.1";  // unigateway, s7ipgateway: "host" or "host:port"
    int ucpos = 0;                 // s7ipgateway: rack and slot byte
    std::string id;                // modbusgateway: the gateway id the page's items name
    int unit = 1;                  // modbusgateway: the unit identifier, 0 to 255
    // mqttgateway: the broker's address, the client's identity, whether writes are retained, and
    // the topics its links read (subscribed at once).
    std::string url;
    std::string clientId, username, password;
    bool retain = false;
    std::vector<std::string> topics;
};

// A device family whose connection can drop: Corvane, Simora, Unity, S7, KX. Each family holds
// one lock for every whole operation (connect, check, disconnect, read, write), so the retry
// timer, the stop walk and the request worker never interleave on one connection. Every
// operation is bounded in time: none waits forever on a device that does not answer.
class ConnectedFamily : public DeviceFamily {
  public:
    // Connects with the settings of a gateway object or, when already connected, checks the link
    // (a failed check disconnects). Returns 0 or positive when connected, negative otherwise.
    virtual int Connect(const GatewaySettings& settings) = 0;
    // The stop walk: ends the connection as the family does at stop. Returns whether the
    // family's disconnected message is to be logged.
    virtual bool Disconnect() = 0;
    virtual bool IsConnected() const = 0;

    // Where and why the last Connect could not connect, for the failure's log line
    // ("127.0.0.1:1: connection refused"); empty after a Connect that connected, and for the
    // families that do not tell.
    std::string ConnectFailure() const {
        std::lock_guard<std::mutex> lock(failureMutex_);
        return connectFailure_;
    }

  protected:
    void SetConnectFailure(std::string text) {
        std::lock_guard<std::mutex> lock(failureMutex_);
        connectFailure_ = std::move(text);
    }

  private:
    mutable std::mutex failureMutex_;
    std::string connectFailure_;
};

// The SQL database of the /SQL route.
class SqlService {
  public:
    virtual ~SqlService() = default;
    // Runs `statement` on the open database, appending every column value of every result row to
    // `answer`, separated by ';'. Returns false when no database is open or the statement fails
    // (or the answer would be too long); `answer` is then to be discarded.
    virtual bool Execute(const std::string& statement, std::string& answer) = 0;
};

// The printer of the /PRN route.
class PrinterService {
  public:
    virtual ~PrinterService() = default;
    virtual bool IsOpen() const = 0;
    // Prints `utf8Text` as one document on the open printer.
    virtual void Print(std::string_view utf8Text) = 0;
};

// The user library of the /DLL route.
class DllService {
  public:
    enum class CallResult { NoLibrary, NoProcedure, Done };
    virtual ~DllService() = default;
    // Calls the procedure `name` of the loaded library with `body`; its text goes to `answer`.
    virtual CallResult Call(const std::string& name, const std::string& body,
                            std::string& answer) = 0;
};

// The families the web server dispatches to. A null entry behaves as a family whose device is
// not connected.
struct GatewayRoutes {
    DeviceFamily* corvane = nullptr;
    DeviceFamily* simora = nullptr;
    DeviceFamily* unity = nullptr;
    DeviceFamily* kx = nullptr;
    DeviceFamily* s7 = nullptr;
    SqlService* sql = nullptr;
    PrinterService* printer = nullptr;
    DllService* dll = nullptr;
    DeviceFamily* modbus = nullptr;
    DeviceFamily* mqtt = nullptr;
};

}  // namespace tsr
