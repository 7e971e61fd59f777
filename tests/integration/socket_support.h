// Loopback client helpers shared by the tests that talk to a running server.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace tsr::test {

// Opens a TCP connection to 127.0.0.1:port; -1 when nothing accepts it.
inline int ConnectLoopback(uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
    close(fd);
    return -1;
}

// Sends `request` to 127.0.0.1:port and returns everything the server sends back before it
// closes the connection; "(no connection)" when nothing accepts it.
inline std::string HttpExchange(uint16_t port, const std::string& request) {
    int fd = ConnectLoopback(port);
    if (fd < 0) return "(no connection)";
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string out;
    char buf[65536];
    for (ssize_t n; (n = recv(fd, buf, sizeof buf, 0)) > 0;) out.append(buf, static_cast<size_t>(n));
    close(fd);
    return out;
}

// The body of an HTTP answer (everything after the blank line), or the whole text without one.
inline std::string AnswerBody(const std::string& answer) {
    size_t at = answer.find("\r\n\r\n");
    return at == std::string::npos ? answer : answer.substr(at + 4);
}

}  // namespace tsr::test
