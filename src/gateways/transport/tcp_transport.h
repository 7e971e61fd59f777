// The one transport of the device families: TCP connections to controllers (Unity / M340, S7)
// and Unix stream sockets to programs on the same computer (the Corvane runtime, the Simora
// simulator). Name resolution, connect, send and receive, each bounded by a time-out. Frames
// are built and parsed by the families' own pure functions; this unit only moves bytes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tsr {

enum class TransportError : int {
    None = 0,
    BadAddress = -1,      // the address text is not "host", "host:port" or "[v6]:port"
    Resolve = -2,         // the host name is unknown (or its look-up took too long)
    Refused = -3,         // the peer refused the connection, or the network is unreachable
    ConnectTimeout = -4,  // the peer did not accept within the time-out
    Send = -5,            // the connection failed while sending
    SendTimeout = -6,     // the peer did not take the bytes within the time-out
    Receive = -7,         // the connection failed while receiving
    ReceiveTimeout = -8,  // nothing (or not enough) arrived within the time-out
    Closed = -9,          // the peer closed the connection
    NotConnected = -10,   // no connection is open
};

// A short English text for `error`, for log lines and tests ("ok" for None).
const char* TransportErrorText(TransportError error);

struct Endpoint {
    std::string host;
    uint16_t port = 0;
};

// Parses "host", "host:port" or "[v6 address]:port" (blanks around it ignored); `defaultPort`
// when no port is given. Empty when the host is empty or the port is not a number in 1..65535.
std::optional<Endpoint> ParseEndpoint(std::string_view text, uint16_t defaultPort);

// The address a connection to `address` tries, as "host:port" ("[v6 address]:port"), with
// `defaultPort` when `address` names none; `address` itself when it is no endpoint.
std::string EndpointText(std::string_view address, uint16_t defaultPort);

// "host:port: reason" for a connection to `address` that failed with `error`.
std::string ConnectFailureText(std::string_view address, uint16_t defaultPort,
                               TransportError error);

// The bytes of one stream connection, TCP or Unix. Not thread-safe: its family's lock
// serialises the calls.
class StreamConnection {
public:
    StreamConnection() = default;
    ~StreamConnection() { Close(); }
    StreamConnection(const StreamConnection&) = delete;
    StreamConnection& operator=(const StreamConnection&) = delete;

    // Sends every byte of `data` within `timeout`. A failure closes the connection.
    TransportError SendAll(std::span<const uint8_t> data, std::chrono::milliseconds timeout);
    // One receive: waits at most `timeout` for data, then takes what is there (at most
    // `buffer.size()` bytes) into `buffer`; `*received` is the count. A failure other than the
    // time-out closes the connection.
    TransportError ReceiveSome(std::span<uint8_t> buffer, size_t* received,
                               std::chrono::milliseconds timeout);
    // Receives exactly `buffer.size()` bytes within `timeout` in all.
    TransportError ReceiveExact(std::span<uint8_t> buffer, std::chrono::milliseconds timeout);
    // Drops whatever has already arrived and not been read (a late answer to an earlier
    // request); returns the count. A closed or failed connection is closed.
    size_t DiscardPending();
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

protected:
    int fd_ = -1;
};

// One TCP connection.
class TcpConnection : public StreamConnection {
public:
    // Resolves `address` ("host" or "host:port", else `defaultPort`) and connects, the whole
    // within `timeout`. Closes a connection that was open first.
    TransportError Connect(std::string_view address, uint16_t defaultPort,
                           std::chrono::milliseconds timeout);
};

// The directory where the programs on this computer place their sockets: $XDG_RUNTIME_DIR when
// set and not empty, else "/tmp". Read anew on every call.
std::string RuntimeDirectory();

// The path of the socket `name` in RuntimeDirectory().
std::string RuntimeSocketPath(std::string_view name);

// One connection to a Unix stream socket.
class UnixConnection : public StreamConnection {
public:
    // Connects to the socket at `path` within `timeout`. BadAddress when the path does not fit a
    // socket address, Refused when nothing listens there. Closes a connection that was open first.
    TransportError Connect(const std::string& path, std::chrono::milliseconds timeout);
    // The user id of the program at the other end, as the system saw it connect; empty when no
    // connection is open or the system does not tell.
    std::optional<uid_t> PeerUserId() const;
};

// Whether a local program running as `peer` is trusted by a program running as `self`: the same
// user, or the system's. A socket in a shared directory such as /tmp may belong to anyone.
inline bool IsTrustedLocalUser(uid_t peer, uid_t self) { return peer == self || peer == 0; }

}  // namespace tsr
