// The Unity / M340 family: the controller's programming protocol in Modbus TCP frames with
// function code 0x5A, over one TCP connection (port 502 unless `ip` names another).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>

#include "base/log_sink.h"
#include "gateways/families.h"
#include "gateways/transport/tcp_transport.h"
#include "gateways/unity/frames.h"

namespace tsr {

struct UnityOptions {
    std::chrono::milliseconds connectTimeout{3000};  // resolve and TCP connect, in all
    std::chrono::milliseconds sendTimeout{1000};     // one frame handed to the peer
    std::chrono::milliseconds receiveTimeout{1000};  // one try's wait for its answer
    uint16_t lastTransaction = 0;                    // the first request carries the next one
};

constexpr uint16_t kUnityDefaultPort = 502;

// The family's one connection. Every operation holds the family lock for its whole exchange
// and ends within its time-outs: an exchange takes at most three tries.
class UnityFamily : public ConnectedFamily {
  public:
    explicit UnityFamily(UnityOptions options = {}) : options_(options) {
        transaction_ = options.lastTransaction;
    }

    // Connects to `settings.ip` and opens the session: 0, or -1 (the opening exchanges failed;
    // the connection is closed), -2 (no TCP connection), -3 (the address is not valid or not
    // known). When connected, sends the keep-alive instead: 0, or -1 after ending the session.
    int Connect(const GatewaySettings& settings) override;
    // Ends the session and closes the connection; true when it was connected.
    bool Disconnect() override;
    bool IsConnected() const override { return connected_.load(); }
    // The value of the variable `item` as text, or "[err]" for any failure.
    std::string ReadItem(std::string_view item) override;
    // Writes "name=value"; silent when the name, the value or the exchange fails.
    void WriteItem(std::string_view item) override;

  private:
    // One request with up to three tries; true with the answer's payload (at most `expected`
    // bytes) at the first valid answer. The lock is held by the caller.
    bool Exchange(const unity::Bytes& payload, size_t expected, unity::Bytes* answer);
    // Sends the session end (its result does not matter) and closes the connection.
    void EndSession();

    UnityOptions options_;
    std::mutex mutex_;
    TcpConnection tcp_;
    std::atomic<bool> connected_{false};
    uint16_t transaction_ = 0;
};

// The family's one connection state for the whole run, with the default time-outs. The family
// writes no log lines of its own (the lifecycle reports its connects); `log` is not used.
std::unique_ptr<ConnectedFamily> MakeUnityFamily(LogSink& log);

}  // namespace tsr
