// A Unix stream socket to a program on the same computer (the Corvane runtime, the Simora
// simulator): connect by name in the runtime directory, send and receive, each bounded by a
// time-out. The frames are built and parsed by the families' own pure functions; this unit only
// moves bytes.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "gateways/transport/tcp_transport.h"

namespace tsr {

// The directory where the local programs place their sockets: $XDG_RUNTIME_DIR when set and not
// empty, else "/tmp". Read anew on every call.
std::string RuntimeDirectory();

// The path of the socket `name` in RuntimeDirectory().
std::string RuntimeSocketPath(std::string_view name);

// One connection to a Unix stream socket. Not thread-safe: its family's lock serialises the calls.
class UnixConnection {
  public:
    UnixConnection() = default;
    ~UnixConnection() { Close(); }
    UnixConnection(const UnixConnection&) = delete;
    UnixConnection& operator=(const UnixConnection&) = delete;

    // Connects to the socket at `path` within `timeout`. BadAddress when the path does not fit a
    // socket address, Refused when nothing listens there. Closes a connection that was open first.
    TransportError Connect(const std::string& path, std::chrono::milliseconds timeout);
    // Sends every byte of `data` within `timeout`. A failure closes the connection.
    TransportError SendAll(std::span<const uint8_t> data, std::chrono::milliseconds timeout);
    // Receives exactly `buffer.size()` bytes within `timeout` in all. A failure closes the
    // connection; Closed when the peer closed it first.
    TransportError ReceiveExact(std::span<uint8_t> buffer, std::chrono::milliseconds timeout);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

}  // namespace tsr
