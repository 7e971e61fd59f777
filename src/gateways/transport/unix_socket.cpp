#include "gateways/transport/unix_socket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
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
        const int r = poll(&p, 1, RemainingMs(deadline));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        return r == 0 ? 0 : 1;
    }
}

}  // namespace

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
            ::close(fd);
            return TransportError::Refused;
        }
        const int ready = WaitFor(fd, POLLOUT, deadline);
        int error = 0;
        socklen_t length = sizeof(error);
        if (ready <= 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 ||
            error != 0) {
            ::close(fd);
            return ready == 0 ? TransportError::ConnectTimeout : TransportError::Refused;
        }
    }
    fd_ = fd;
    return TransportError::None;
}

TransportError UnixConnection::SendAll(std::span<const uint8_t> data,
                                       std::chrono::milliseconds timeout) {
    if (fd_ < 0) return TransportError::NotConnected;
    const auto deadline = Clock::now() + timeout;
    size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = send(fd_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const int ready = WaitFor(fd_, POLLOUT, deadline);
            if (ready > 0) continue;
            Close();
            return ready == 0 ? TransportError::SendTimeout : TransportError::Send;
        }
        Close();
        return TransportError::Send;
    }
    return TransportError::None;
}

TransportError UnixConnection::ReceiveExact(std::span<uint8_t> buffer,
                                            std::chrono::milliseconds timeout) {
    if (fd_ < 0) return TransportError::NotConnected;
    const auto deadline = Clock::now() + timeout;
    size_t got = 0;
    while (got < buffer.size()) {
        const ssize_t n = recv(fd_, buffer.data() + got, buffer.size() - got, 0);
        if (n > 0) {
            got += static_cast<size_t>(n);
            continue;
        }
        if (n == 0) {
            Close();
            return TransportError::Closed;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            const int ready = WaitFor(fd_, POLLIN, deadline);
            if (ready > 0) continue;
            Close();
            return ready == 0 ? TransportError::ReceiveTimeout : TransportError::Receive;
        }
        Close();
        return TransportError::Receive;
    }
    return TransportError::None;
}

void UnixConnection::Close() {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
}

}  // namespace tsr
