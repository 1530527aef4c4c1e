#include "platform/interception/TestOrigin.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace gx::test {
namespace {

bool SendAll(int fd, const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
        ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c + 32);
        }
    }
    return text;
}

// The value of a header field (first one), empty when absent.
std::string FieldValue(const std::string& head, const std::string& name) {
    std::string lower = Lower(head);
    size_t at = lower.find("\r\n" + Lower(name) + ":");
    if (at == std::string::npos) {
        return {};
    }
    size_t start = at + 3 + name.size();
    size_t end = head.find("\r\n", start);
    std::string value = head.substr(start, end - start);
    while (!value.empty() && value.front() == ' ') {
        value.erase(0, 1);
    }
    return value;
}

class Reader {
  public:
    explicit Reader(int fd) : fd_(fd) {}
    // Reads more bytes into the buffer; false at the end of the connection.
    bool Fill() {
        char chunk[16384];
        ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0) {
            return false;
        }
        buffer.append(chunk, static_cast<size_t>(n));
        return true;
    }
    bool ReadUntil(const std::string& marker, size_t& end) {
        for (;;) {
            size_t at = buffer.find(marker);
            if (at != std::string::npos) {
                end = at + marker.size();
                return true;
            }
            if (!Fill()) {
                return false;
            }
        }
    }
    bool ReadCount(size_t count) {
        while (buffer.size() < count) {
            if (!Fill()) {
                return false;
            }
        }
        return true;
    }
    std::string buffer;

  private:
    int fd_;
};

bool ReadChunkedBody(Reader& reader, std::string& body) {
    for (;;) {
        size_t end = 0;
        if (!reader.ReadUntil("\r\n", end)) {
            return false;
        }
        size_t size = std::strtoul(reader.buffer.c_str(), nullptr, 16);
        reader.buffer.erase(0, end);
        if (size == 0) {
            for (;;) {  // trailer lines up to the empty line
                if (!reader.ReadUntil("\r\n", end)) {
                    return false;
                }
                reader.buffer.erase(0, end);
                if (end == 2) {
                    return true;
                }
            }
        }
        if (!reader.ReadCount(size + 2)) {
            return false;
        }
        body += reader.buffer.substr(0, size);
        reader.buffer.erase(0, size + 2);
    }
}

}  // namespace

TestOrigin::TestOrigin() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listenFd_, 128) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("test origin cannot listen");
    }
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

TestOrigin::~TestOrigin() {
    stopping_ = true;
    ::shutdown(listenFd_, SHUT_RDWR);
    acceptor_.join();
    ::close(listenFd_);
    std::vector<std::thread> workers;
    {
        std::lock_guard lock(mutex_);
        for (int fd : clientFds_) {
            ::shutdown(fd, SHUT_RDWR);
        }
        workers.swap(workers_);
    }
    for (auto& worker : workers) {
        worker.join();
    }
}

void TestOrigin::AcceptLoop() {
    while (!stopping_) {
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (stopping_) {
                return;
            }
            continue;
        }
        ++connections_;
        std::lock_guard lock(mutex_);
        clientFds_.push_back(fd);
        workers_.emplace_back([this, fd] { Serve(fd); });
    }
}

std::string TestOrigin::ResponseFor(const std::string& method, const std::string& target) {
    bool head = method == "HEAD";
    auto withLength = [&](const std::string& body) {
        return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
               (head ? std::string() : body);
    };
    if (target.rfind("/big/", 0) == 0) {
        return withLength(std::string(std::strtoul(target.c_str() + 5, nullptr, 10), 'x'));
    }
    if (target == "/chunked") {
        return std::string("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n") +
               (head ? "" : "5\r\nhello\r\n6;ext=1\r\n world\r\n0\r\nX-Trailer: 1\r\n\r\n");
    }
    if (target == "/until-close") {
        return std::string("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n") +
               (head ? "" : "until close");
    }
    if (target == "/204") {
        return "HTTP/1.1 204 No Content\r\n\r\n";
    }
    if (target == "/304") {
        return "HTTP/1.1 304 Not Modified\r\nContent-Length: 99\r\n\r\n";
    }
    return withLength("origin saw " + method + " " + target);
}

void TestOrigin::Record(const std::string& head, const std::string& body) {
    std::lock_guard lock(mutex_);
    heads_.push_back(head);
    bodies_.push_back(body);
}

int TestOrigin::RequestCount() {
    std::lock_guard lock(mutex_);
    return static_cast<int>(heads_.size());
}

std::vector<std::string> TestOrigin::Heads() {
    std::lock_guard lock(mutex_);
    return heads_;
}

std::vector<std::string> TestOrigin::Bodies() {
    std::lock_guard lock(mutex_);
    return bodies_;
}

void TestOrigin::Serve(int fd) {
    ServeConnection(fd);
    std::lock_guard lock(mutex_);
    std::erase(clientFds_, fd);
    ::close(fd);
}

void TestOrigin::ServeConnection(int fd) {
    Reader reader(fd);
    if (!reader.Fill()) {
        return;
    }
    char first = reader.buffer[0];
    if (!((first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z'))) {
        do {
            SendAll(fd, reader.buffer);
            reader.buffer.clear();
        } while (reader.Fill());
        return;
    }
    for (;;) {
        size_t end = 0;
        if (!reader.ReadUntil("\r\n\r\n", end)) {
            return;
        }
        std::string head = reader.buffer.substr(0, end);
        reader.buffer.erase(0, end);
        std::string line = head.substr(0, head.find("\r\n"));
        std::string method = line.substr(0, line.find(' '));
        size_t targetStart = line.find(' ') + 1;
        std::string target = line.substr(targetStart, line.rfind(' ') - targetStart);
        std::string body;
        if (Lower(FieldValue(head, "Transfer-Encoding")) == "chunked") {
            if (!ReadChunkedBody(reader, body)) {
                return;
            }
        } else if (std::string length = FieldValue(head, "Content-Length"); !length.empty()) {
            size_t count = std::strtoul(length.c_str(), nullptr, 10);
            if (!reader.ReadCount(count)) {
                return;
            }
            body = reader.buffer.substr(0, count);
            reader.buffer.erase(0, count);
        }
        Record(head, body);
        if (target == "/never") {
            while (reader.Fill()) {
            }
            return;
        }
        if (target == "/ws") {
            SendAll(fd,
                    "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                    "Connection: Upgrade\r\n\r\n");
            do {
                SendAll(fd, reader.buffer);
                reader.buffer.clear();
            } while (reader.Fill());
            return;
        }
        if (!SendAll(fd, ResponseFor(method, target))) {
            return;
        }
        bool close = target == "/until-close" ||
                     Lower(FieldValue(head, "Connection")).find("close") != std::string::npos;
        if (close) {
            ::shutdown(fd, SHUT_RDWR);
            return;
        }
    }
}

}  // namespace gx::test
