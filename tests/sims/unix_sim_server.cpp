#include "unix_sim_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "sim_support.h"

namespace tsr::sims {

bool UnixSimServer::Start(const std::string& path) {
    Stop();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address.sun_path)) return false;
    std::memcpy(address.sun_path, path.data(), path.size());
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) unlink(path.c_str());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(fd, 16) != 0 || pipe2(wake_, O_CLOEXEC) != 0) {
        close(fd);
        return false;
    }
    stopping_.store(false);
    path_ = path;
    listenFd_ = fd;
    thread_ = std::thread(&UnixSimServer::AcceptLoop, this);
    return true;
}

void UnixSimServer::AcceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
        if (stopping_.load() || fds[1].revents) return;
        if (!(fds[0].revents & POLLIN)) continue;
        const int client = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        handler_(client, stopping_);
        close(client);
    }
}

void UnixSimServer::Stop() {
    if (listenFd_ < 0) return;
    stopping_.store(true);
    char byte = 1;
    (void)!write(wake_[1], &byte, 1);
    if (thread_.joinable()) thread_.join();
    close(listenFd_);
    close(wake_[0]);
    close(wake_[1]);
    listenFd_ = -1;
    wake_[0] = wake_[1] = -1;
    unlink(path_.c_str());
}

bool ReceiveAllBytes(int fd, void* data, size_t size, const std::atomic<bool>& stopping,
                     int limitMs) {
    auto* bytes = static_cast<unsigned char*>(data);
    size_t got = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (got < size) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !WaitReadable(fd, stopping, left)) return false;
        const ssize_t n = recv(fd, bytes + got, size - got, 0);
        if (n <= 0) return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace tsr::sims
