// A Unix stream socket listener for the local-program simulators (Corvane runtime, Simora): one
// thread accepts and serves each connection in turn with a handler given by the simulator.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace tsr::sims {

class UnixSimServer {
  public:
    // Called on the listener's thread with each accepted socket; returns when the connection is
    // to be closed (the server closes it). `stopping` tells it to end.
    using Handler = std::function<void(int fd, const std::atomic<bool>& stopping)>;

    explicit UnixSimServer(Handler handler) : handler_(std::move(handler)) {}
    ~UnixSimServer() { Stop(); }
    UnixSimServer(const UnixSimServer&) = delete;
    UnixSimServer& operator=(const UnixSimServer&) = delete;

    // Listens at `path` (a stale socket file there is replaced). False when it cannot listen.
    bool Start(const std::string& path);
    // Stops listening, removes the socket file and joins the thread.
    void Stop();
    bool IsRunning() const { return listenFd_ >= 0; }
    const std::string& path() const { return path_; }

  private:
    void AcceptLoop();

    Handler handler_;
    std::atomic<bool> stopping_{false};
    int listenFd_ = -1;
    int wake_[2] = {-1, -1};
    std::string path_;
    std::thread thread_;
};

// Receives exactly `size` bytes into `data` within `limit`, seeing `stopping`; false otherwise.
bool ReceiveAllBytes(int fd, void* data, size_t size, const std::atomic<bool>& stopping,
                     int limitMs);

}  // namespace tsr::sims
