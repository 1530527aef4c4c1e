#include "service/ControlSocket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace gx::service {
namespace {

bool FillAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        return false;
    }
    path.copy(address.sun_path, path.size());
    return true;
}

bool SendAll(int fd, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool ControlSocket::Start(const std::string& path, std::string* error) {
    sockaddr_un address;
    if (!FillAddress(path, address)) {
        *error = "chemin du canal de contr\xC3\xB4le invalide : " + path;
        return false;
    }
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ::unlink(path.c_str());
    if (listenFd_ < 0 ||
        ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::chmod(path.c_str(), 0666) != 0 || ::listen(listenFd_, kMaxConnections) != 0) {
        *error = "le canal de contr\xC3\xB4le " + path + " n'a pas pu \xC3\xAAtre ouvert (" +
                 std::strerror(errno) + ")";
        if (listenFd_ >= 0) {
            ::close(listenFd_);
            listenFd_ = -1;
        }
        return false;
    }
    path_ = path;
    accepter_ = std::thread([this] { Accept(); });
    return true;
}

void ControlSocket::Stop() {
    if (listenFd_ < 0) {
        return;
    }
    stopping_ = true;
    ::shutdown(listenFd_, SHUT_RDWR);
    accepter_.join();
    ::close(listenFd_);
    listenFd_ = -1;
    ::unlink(path_.c_str());
    std::unique_lock lock(mutex_);
    for (int fd : served_) {
        ::shutdown(fd, SHUT_RDWR);  // a connection waiting for its next request ends now
    }
    ended_.wait(lock, [this] { return open_ == 0; });
}

void ControlSocket::Accept() {
    while (!stopping_) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            return;
        }
        std::lock_guard lock(mutex_);
        if (open_ >= kMaxConnections) {
            ::close(fd);  // the others are served; this one may ask again
            continue;
        }
        ++open_;
        served_.insert(fd);
        std::thread([this, fd] {
            Serve(fd);
            std::lock_guard done(mutex_);
            served_.erase(fd);
            ::close(fd);
            --open_;
            ended_.notify_all();
        }).detach();
    }
}

void ControlSocket::Serve(int fd) {
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) {
        return;
    }
    const Caller caller{static_cast<uint32_t>(peer.uid), static_cast<uint32_t>(peer.pid)};
    std::string waiting;
    char buffer[1024];
    while (!stopping_) {
        const size_t end = waiting.find('\n');
        if (end != std::string::npos) {
            bool closeAfter = false;
            const std::string answer =
                service_.Handle(std::string_view(waiting).substr(0, end), caller, closeAfter);
            waiting.erase(0, end + 1);
            if (!SendAll(fd, answer) || closeAfter) {
                return;
            }
            continue;
        }
        if (waiting.size() > kMaxRequestBytes) {
            bool closeAfter = true;
            SendAll(fd, service_.Handle(waiting, caller, closeAfter));  // refused: too long
            return;
        }
        pollfd readable{fd, POLLIN, 0};
        const int ready = ::poll(&readable, 1, static_cast<int>(kIdleTimeout.count() * 1000));
        if (ready <= 0) {
            return;
        }
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            return;
        }
        waiting.append(buffer, static_cast<size_t>(n));
    }
}

std::string ControlPath() {
    if (const char* configured = std::getenv("GARDALIX_CONTROL"); configured && configured[0]) {
        return configured;
    }
    return "/run/gardalix/control";
}

std::optional<Answer> AskServiceLine(const std::string& path, const std::string& line) {
    sockaddr_un address;
    if (!FillAddress(path, address)) {
        return std::nullopt;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return std::nullopt;
    }
    timeval wait{60, 0};  // an administrator's password may be typed meanwhile
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    std::optional<Answer> answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        SendAll(fd, line)) {
        std::string received;
        char buffer[4096];
        while (true) {
            if (auto read = ReadAnswer(received)) {
                answer = read->first;
                break;
            }
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                break;
            }
            received.append(buffer, static_cast<size_t>(n));
        }
    }
    ::close(fd);
    return answer;
}

std::optional<Answer> AskService(const std::string& path, const Request& request) {
    return AskServiceLine(path, FormatRequest(request));
}

}  // namespace gx::service
