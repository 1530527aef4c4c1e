#include "tests/engine/OriginServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace gx::test {

OriginServer::OriginServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 64) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("origin server cannot listen");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
}

OriginServer::~OriginServer() {
    stopping_ = true;
    thread_.join();
    ::close(listener_);
}

std::vector<std::string> OriginServer::Requests() {
    std::lock_guard lock(mutex_);
    return requests_;
}

void OriginServer::Serve() {
    while (!stopping_) {
        pollfd waiting{listener_, POLLIN, 0};
        if (::poll(&waiting, 1, 50) <= 0)
            continue;  // wakes up now and then to see stopping_
        int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        Answer(client);
        ::close(client);
    }
}

// Reads the request head (a test request has no body), then answers and closes.
void OriginServer::Answer(int client) {
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
        pollfd waiting{client, POLLIN, 0};
        if (::poll(&waiting, 1, 10000) <= 0)
            return;
        ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
        if (got <= 0)
            return;
        head.append(buffer, static_cast<size_t>(got));
    }
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(head.substr(0, head.find("\r\n")));
    }
    std::string response = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                           std::to_string(std::strlen(kPage)) + "\r\nConnection: close\r\n\r\n" +
                           kPage;
    ::send(client, response.data(), response.size(), MSG_NOSIGNAL);
}

}  // namespace gx::test
