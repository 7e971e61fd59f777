#include "sim_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace tsr::sims {

bool TcpSimServer::Start(const std::string& address, uint16_t port) {
    Stop();
    stopping_.store(false);
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1 ||
        bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 16) != 0 ||
        pipe2(wake_, O_CLOEXEC) != 0) {
        close(fd);
        return false;
    }
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    listenFd_ = fd;
    acceptThread_ = std::thread(&TcpSimServer::AcceptLoop, this);
    return true;
}

void TcpSimServer::AcceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
        if (stopping_.load() || fds[1].revents) return;
        if (!(fds[0].revents & POLLIN)) continue;
        int client = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        std::lock_guard<std::mutex> lock(mutex_);
        open_.push_back(client);
        connections_.emplace_back([this, client] {
            handler_(client, stopping_);
            std::lock_guard<std::mutex> inner(mutex_);
            auto it = std::find(open_.begin(), open_.end(), client);
            if (it != open_.end()) {
                open_.erase(it);
                close(client);
            }
        });
    }
}

void TcpSimServer::DropConnections() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (int fd : open_) shutdown(fd, SHUT_RDWR);
}

void TcpSimServer::Stop() {
    if (listenFd_ < 0) return;
    stopping_.store(true);
    char byte = 1;
    (void)!write(wake_[1], &byte, 1);
    if (acceptThread_.joinable()) acceptThread_.join();
    DropConnections();
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        threads.swap(connections_);
    }
    for (auto& t : threads) t.join();
    close(listenFd_);
    close(wake_[0]);
    close(wake_[1]);
    listenFd_ = wake_[0] = wake_[1] = -1;
}

bool WaitReadable(int fd, const std::atomic<bool>& stopping, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!stopping.load()) {
        pollfd p{fd, POLLIN, 0};
        int r = poll(&p, 1, 50);
        if (r > 0) return true;
        if (r < 0 && errno != EINTR) return false;
        if (std::chrono::steady_clock::now() >= end) return false;
    }
    return false;
}

bool SendAllBytes(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = send(fd, p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace tsr::sims
