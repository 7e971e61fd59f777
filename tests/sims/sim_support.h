// What the device simulators share: a TCP listener on a thread of its own that hands each
// accepted connection to the simulator, and a bounded wait for readable bytes. The simulators
// bind 127.0.0.1 (or a given address) on port 0 by default and tell their port.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tsr::sims {

class TcpSimServer {
public:
    // Called on the connection's own thread with the accepted socket; returns when the
    // connection is to be closed (the server closes it). `stopping` tells it to end.
    using Handler = std::function<void(int fd, const std::atomic<bool>& stopping)>;

    explicit TcpSimServer(Handler handler) : handler_(std::move(handler)) {}
    ~TcpSimServer() { Stop(); }
    TcpSimServer(const TcpSimServer&) = delete;
    TcpSimServer& operator=(const TcpSimServer&) = delete;

    // Listens on `address`:`port` (0 picks a free port). False when it cannot listen.
    bool Start(const std::string& address = "127.0.0.1", uint16_t port = 0);
    // Closes the listener and every connection and joins their threads.
    void Stop();
    uint16_t port() const { return port_; }
    // Closes every open connection (the listener stays), as a device that drops its links.
    void DropConnections();

private:
    void AcceptLoop();

    Handler handler_;
    std::atomic<bool> stopping_{false};
    int listenFd_ = -1;
    int wake_[2] = {-1, -1};
    uint16_t port_ = 0;
    std::thread acceptThread_;
    std::mutex mutex_;
    std::vector<int> open_;
    std::vector<std::thread> connections_;
};

// Waits until `fd` has bytes to read, the peer closed, or `stopping` is set: true when
// readable. Polls in short steps so a stop is seen promptly.
bool WaitReadable(int fd, const std::atomic<bool>& stopping,
                  std::chrono::milliseconds limit = std::chrono::hours(24));

// Sends every byte (blocking socket); false when the connection failed.
bool SendAllBytes(int fd, const void* data, size_t size);

}  // namespace tsr::sims
