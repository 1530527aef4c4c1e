// Loopback sockets for the tests and benchmarks' own servers and clients (127.0.0.1 only).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace gx::testing {

// A listening socket on a port the kernel chose (written to `port`); -1 on failure.
inline int ListenLoopback(uint16_t& port, int backlog = 64) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, backlog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

// A blocking connection to 127.0.0.1:port; -1 when refused.
inline int ConnectLoopback(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A connection through a proxy's CONNECT to `authority`, its answer read and found to be 200
// (nothing after it is read), reads timed out after 10 s; -1 otherwise.
inline int ConnectThrough(uint16_t proxyPort, const std::string& authority) {
    const int fd = ConnectLoopback(proxyPort);
    if (fd < 0) {
        return -1;
    }
    timeval wait{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    const std::string connect = "CONNECT " + authority + " HTTP/1.1\r\nHost: x\r\n\r\n";
    std::string answer;
    char c = 0;
    if (::write(fd, connect.data(), connect.size()) == static_cast<ssize_t>(connect.size())) {
        // Byte by byte: what follows the answer belongs to the caller's protocol.
        while (!answer.ends_with("\r\n\r\n") && ::read(fd, &c, 1) == 1) {
            answer += c;
        }
    }
    if (!answer.starts_with("HTTP/1.1 200")) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace gx::testing
