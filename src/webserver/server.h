// The integrated web server: serves the output directory to browsers (HTTP/1.0, one request per
// connection) and relays the pages' POST requests to the gateway families.
//
// One serving thread waits in poll() on the listening socket, the clients and a wake-up pipe.
// Each connection moves through: waiting for its request -> (a POST body still to come) ->
// sending its answer -> half-closed, lingering until the peer closes; or, after a WebSocket
// handshake, held open until the peer closes or the server stops. A client that sends nothing,
// or reads slowly, never holds up another.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "base/log_sink.h"
#include "gateways/families.h"

namespace tsr {

// Result codes of StartWebServer.
enum WebServerError : int {
    kServerNoSocketLibrary = -1,  // kept for callers; cannot happen on POSIX
    kServerCannotListen = -2,     // the socket cannot be created, bound or put into listening
    kServerNoThread = -3,         // the serving thread cannot be started
};

// The machine's first non-loopback IPv4 address as dotted text, else "127.0.0.1".
std::string HostAddress();

class WebServer {
public:
    static constexpr int kSlotCount = 128;
    static constexpr size_t kBufferSize = 100000;

    // `log` receives the debug lines (when switched on); `routes` are the gateway families.
    explicit WebServer(LogSink& log, GatewayRoutes routes = {});
    ~WebServer();  // stops a running server
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Listens on `port` (0 picks a free port, see ListeningPort) on every local IPv4 address and
    // starts the serving thread. Returns 0, kServerCannotListen or kServerNoThread;
    // `hostAddressOut` receives HostAddress() on success.
    int StartWebServer(uint16_t port, std::string* hostAddressOut = nullptr);

    // Stops the serving thread, sends the close frame to every WebSocket client and closes every
    // connection. Returns 0; does nothing when the server is not running.
    int StopWebServer();

    bool IsWebServerRunning() const { return running_.load(); }
    // The port given to the last StartWebServer.
    uint16_t WebServerPort() const { return port_.load(); }
    // The port actually listened on while running (useful when 0 was asked).
    uint16_t ListeningPort() const { return listeningPort_.load(); }

    // The directory served (ends with '/'), and whether request lines go to the log. Both may
    // change while the server runs.
    void SetWebRoot(const std::string& webRoot);
    void SetDebugMessages(bool on) { debugMessages_.store(on); }
    void SetRoutes(const GatewayRoutes& routes);

    // How long a POST whose headers announce a body waits for it, and how long an answered
    // connection waits for the peer to close before it is closed anyway.
    void SetTimeouts(std::chrono::milliseconds bodyWait, std::chrono::milliseconds linger);

    // Builds the answer to one complete request from a client at `clientAddress` (network byte
    // order): 1 = `answer` holds the answer (empty: none is sent) and the connection closes after
    // it; 2 = a WebSocket handshake answer, the connection stays open.
    int HandleRequest(std::string_view request, uint32_t clientAddress, std::string& answer);

private:
    struct Slot;
    void Serve();
    void HandleGet(std::string_view request, const std::string& client, std::string& answer);
    void HandlePost(std::string_view request, const std::string& client, std::string& answer);
    void Log(const std::string& text, unsigned colour);

    LogSink& log_;
    std::mutex settingsMutex_;
    GatewayRoutes routes_;
    std::string webRoot_;
    std::chrono::milliseconds bodyWait_{500};
    std::chrono::milliseconds linger_{2000};
    std::atomic<bool> debugMessages_{false};
    std::atomic<bool> running_{false};
    std::atomic<bool> stopRequested_{false};
    std::atomic<uint16_t> port_{0};
    std::atomic<uint16_t> listeningPort_{0};
    int listenFd_ = -1;
    int wakePipe_[2] = {-1, -1};
    std::thread thread_;
};

}  // namespace tsr
