#include "gateways/transport/tcp_transport.h"

#include "base/number_text.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>

namespace tsr {
namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return 0;
    return left.count() > 3600000 ? 3600000 : static_cast<int>(left.count());
}

// Waits for `events` on `fd` until `deadline`: 1 ready, 0 timed out, -1 failed.
int WaitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        int r = poll(&p, 1, RemainingMs(deadline));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        return r == 0 ? 0 : 1;
    }
}

// Resolves `endpoint` with the system resolver, waiting at most until `deadline` (the
// asynchronous look-up is cancelled after that). Numeric addresses need no look-up at all.
TransportError Resolve(const Endpoint& endpoint, Clock::time_point deadline, addrinfo** out) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    const std::string service = std::to_string(endpoint.port);
    if (getaddrinfo(endpoint.host.c_str(), service.c_str(), &hints, out) == 0) {
        return TransportError::None;
    }
    hints.ai_flags = AI_NUMERICSERV;
    gaicb request{};
    request.ar_name = endpoint.host.c_str();
    request.ar_service = service.c_str();
    request.ar_request = &hints;
    gaicb* list[1] = {&request};
    if (getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr) != 0) return TransportError::Resolve;
    while (gai_error(&request) == EAI_INPROGRESS) {
        const int ms = RemainingMs(deadline);
        if (ms == 0) break;
        timespec wait{ms / 1000, (ms % 1000) * 1000000L};
        gai_suspend(list, 1, &wait);
    }
    if (gai_error(&request) == EAI_INPROGRESS) {
        // The look-up may still finish in the resolver's thread; it owns `request` until then.
        if (gai_cancel(&request) != EAI_CANCELED) {
            while (gai_error(&request) == EAI_INPROGRESS) {
                timespec wait{0, 10000000L};
                gai_suspend(list, 1, &wait);
            }
        }
        if (request.ar_result) freeaddrinfo(request.ar_result);
        return TransportError::Resolve;
    }
    if (gai_error(&request) != 0 || !request.ar_result) return TransportError::Resolve;
    *out = request.ar_result;
    return TransportError::None;
}

}  // namespace

const char* TransportErrorText(TransportError error) {
    switch (error) {
        case TransportError::None: return "ok";
        case TransportError::BadAddress: return "bad address";
        case TransportError::Resolve: return "unknown host";
        case TransportError::Refused: return "connection refused";
        case TransportError::ConnectTimeout: return "connection timed out";
        case TransportError::Send: return "send failed";
        case TransportError::SendTimeout: return "send timed out";
        case TransportError::Receive: return "receive failed";
        case TransportError::ReceiveTimeout: return "no answer in time";
        case TransportError::Closed: return "connection closed by the peer";
        case TransportError::NotConnected: return "not connected";
    }
    return "unknown error";
}

std::string EndpointText(std::string_view address, uint16_t defaultPort) {
    const std::optional<Endpoint> e = ParseEndpoint(address, defaultPort);
    if (!e) return std::string(address);
    const bool v6 = e->host.find(':') != std::string::npos;
    return (v6 ? "[" + e->host + "]" : e->host) + ":" + std::to_string(e->port);
}

std::string ConnectFailureText(std::string_view address, uint16_t defaultPort,
                               TransportError error) {
    return EndpointText(address, defaultPort) + ": " + TransportErrorText(error);
}

std::optional<Endpoint> ParseEndpoint(std::string_view text, uint16_t defaultPort) {
    text = TrimBlanks(text);
    Endpoint e;
    std::string_view portText;
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        e.host.assign(text.substr(1, close - 1));
        std::string_view rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') return std::nullopt;
            portText = rest.substr(1);
            if (portText.empty()) return std::nullopt;
        }
    } else {
        const size_t colon = text.find(':');
        if (colon != std::string_view::npos && text.find(':', colon + 1) != std::string_view::npos) {
            e.host.assign(text);  // a bare IPv6 address: no port
        } else if (colon != std::string_view::npos) {
            e.host.assign(TrimBlanks(text.substr(0, colon)));
            portText = TrimBlanks(text.substr(colon + 1));
            if (portText.empty()) return std::nullopt;
        } else {
            e.host.assign(text);
        }
    }
    if (e.host.empty()) return std::nullopt;
    e.port = defaultPort;
    if (!portText.empty()) {
        unsigned value = 0;
        auto [end, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), value);
        if (ec != std::errc() || end != portText.data() + portText.size() || value == 0 ||
            value > 65535)
            return std::nullopt;
        e.port = static_cast<uint16_t>(value);
    }
    if (e.port == 0) return std::nullopt;
    return e;
}

TransportError TcpConnection::Connect(std::string_view address, uint16_t defaultPort,
                                      std::chrono::milliseconds timeout) {
    Close();
    const auto deadline = Clock::now() + timeout;
    std::optional<Endpoint> endpoint = ParseEndpoint(address, defaultPort);
    if (!endpoint) return TransportError::BadAddress;
    addrinfo* list = nullptr;
    TransportError resolved = Resolve(*endpoint, deadline, &list);
    if (resolved != TransportError::None) return resolved;
    TransportError result = TransportError::Refused;
    for (addrinfo* a = list; a; a = a->ai_next) {
        int fd = socket(a->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) continue;
        int r = connect(fd, a->ai_addr, a->ai_addrlen);
        if (r != 0 && errno == EINPROGRESS) {
            int ready = WaitFor(fd, POLLOUT, deadline);
            if (ready == 0) {
                close(fd);
                result = TransportError::ConnectTimeout;
                break;
            }
            int err = 0;
            socklen_t len = sizeof err;
            if (ready < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = EIO;
            r = err == 0 ? 0 : -1;
        }
        if (r != 0) {
            close(fd);
            result = TransportError::Refused;
            if (RemainingMs(deadline) == 0) break;
            continue;
        }
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        fd_ = fd;
        result = TransportError::None;
        break;
    }
    freeaddrinfo(list);
    return result;
}

TransportError StreamConnection::SendAll(std::span<const uint8_t> data,
                                         std::chrono::milliseconds timeout) {
    if (fd_ < 0) return TransportError::NotConnected;
    const auto deadline = Clock::now() + timeout;
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            int ready = WaitFor(fd_, POLLOUT, deadline);
            if (ready > 0) continue;
            Close();
            return ready == 0 ? TransportError::SendTimeout : TransportError::Send;
        }
        Close();
        return TransportError::Send;
    }
    return TransportError::None;
}

TransportError StreamConnection::ReceiveSome(std::span<uint8_t> buffer, size_t* received,
                                             std::chrono::milliseconds timeout) {
    *received = 0;
    if (fd_ < 0) return TransportError::NotConnected;
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        ssize_t n = recv(fd_, buffer.data(), buffer.size(), 0);
        if (n > 0) {
            *received = static_cast<size_t>(n);
            return TransportError::None;
        }
        if (n == 0 && !buffer.empty()) {
            Close();
            return TransportError::Closed;
        }
        if (n == 0) return TransportError::None;
        if (errno == EINTR) continue;
        if (errno != EAGAIN) {
            Close();
            return TransportError::Receive;
        }
        int ready = WaitFor(fd_, POLLIN, deadline);
        if (ready == 0) return TransportError::ReceiveTimeout;
        if (ready < 0) {
            Close();
            return TransportError::Receive;
        }
    }
}

TransportError StreamConnection::ReceiveExact(std::span<uint8_t> buffer,
                                              std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    size_t done = 0;
    while (done < buffer.size()) {
        size_t got = 0;
        auto left = std::chrono::milliseconds(RemainingMs(deadline));
        TransportError e = ReceiveSome(buffer.subspan(done), &got, left);
        if (e != TransportError::None) return e;
        done += got;
    }
    return TransportError::None;
}

size_t StreamConnection::DiscardPending() {
    if (fd_ < 0) return 0;
    size_t dropped = 0;
    uint8_t scratch[4096];
    for (;;) {
        ssize_t n = recv(fd_, scratch, sizeof scratch, MSG_DONTWAIT);
        if (n > 0) {
            dropped += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 || errno != EAGAIN) Close();
        return dropped;
    }
}

void StreamConnection::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

std::string RuntimeDirectory() {
    const char* dir = std::getenv("XDG_RUNTIME_DIR");
    if (dir != nullptr && *dir != '\0') return dir;
    return "/tmp";
}

std::string RuntimeSocketPath(std::string_view name) {
    std::string path = RuntimeDirectory();
    if (path.empty() || path.back() != '/') path += '/';
    path += name;
    return path;
}

TransportError UnixConnection::Connect(const std::string& path, std::chrono::milliseconds timeout) {
    Close();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address.sun_path) ||
        path.find('\0') != std::string::npos)
        return TransportError::BadAddress;
    std::memcpy(address.sun_path, path.data(), path.size());

    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return TransportError::Refused;
    const auto deadline = Clock::now() + timeout;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        // A listener whose backlog is full answers EAGAIN: wait for it within the time-out.
        if (errno != EAGAIN && errno != EINPROGRESS) {
            close(fd);
            return TransportError::Refused;
        }
        const int ready = WaitFor(fd, POLLOUT, deadline);
        int error = 0;
        socklen_t length = sizeof(error);
        if (ready <= 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 ||
            error != 0) {
            close(fd);
            return ready == 0 ? TransportError::ConnectTimeout : TransportError::Refused;
        }
    }
    fd_ = fd;
    return TransportError::None;
}

std::optional<uid_t> UnixConnection::PeerUserId() const {
    if (fd_ < 0) return std::nullopt;
    ucred credentials{};
    socklen_t length = sizeof(credentials);
    if (getsockopt(fd_, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 ||
        length != sizeof(credentials))
        return std::nullopt;
    return credentials.uid;
}

}  // namespace tsr
