#include "platform/interception/TlsTestOrigin.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <stdexcept>

#include "platform/interception/ProxyTestSupport.h"
#include "platform/tls/CertificateBuilder.h"

namespace gx::test {
namespace {

using namespace std::chrono_literals;

}  // namespace

TestAuthority::TestAuthority(const std::string& pemPath)
    : pemPath_(pemPath),
      pair_(gx::testing::MakeAuthority("Test authority of the interception tests")) {
    std::ofstream(pemPath_) << tls::CertificatePem(pair_.certificate.get());
}

TlsFront::TlsFront(const TestAuthority& authority, FrontCertificate kind, bool any)
    : key_(tls::NewEcKey()) {
    tls::CertificateFields fields = gx::testing::LocalhostFields(key_.get(), authority.Pair());
    switch (kind) {
        case FrontCertificate::Good:
            break;
        case FrontCertificate::Expired:
            fields.validFrom = -48h;
            break;
        case FrontCertificate::SelfSigned:
            fields.signingKey = key_.get();
            fields.issuer = nullptr;
            break;
        case FrontCertificate::WrongName:
            fields.subjectAltName = "DNS:other.example";
            break;
        case FrontCertificate::CommonNameOnly:
            fields.subjectAltName.clear();
            break;
    }
    cert_ = tls::BuildCertificate(fields);
    // OpenSSL writes to its sockets with write(): a client that hung up must not end the test
    // process with SIGPIPE.
    ::signal(SIGPIPE, SIG_IGN);
    context_ = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate(context_, cert_.get());
    SSL_CTX_use_PrivateKey(context_, key_.get());

    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(any ? INADDR_ANY : INADDR_LOOPBACK);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, 64) != 0) {
        throw std::runtime_error("TLS front cannot listen");
    }
    socklen_t length = sizeof address;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

TlsFront::~TlsFront() {
    stopping_ = true;
    ::shutdown(listenFd_, SHUT_RDWR);
    acceptor_.join();
    ::close(listenFd_);
    {
        std::lock_guard lock(mutex_);
        for (int fd : fds_) {
            ::shutdown(fd, SHUT_RDWR);
        }
    }
    for (auto& worker : workers_) {
        worker.join();
    }
    SSL_CTX_free(context_);
}

std::string TlsFront::Url(const std::string& path) const {
    return "https://localhost:" + std::to_string(port_) + path;
}

void TlsFront::AcceptLoop() {
    while (!stopping_) {
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (stopping_) {
                return;
            }
            continue;
        }
        std::lock_guard lock(mutex_);
        fds_.push_back(fd);
        workers_.emplace_back([this, fd] { Serve(fd); });
    }
}

// Decrypts both ways between the client and the plain origin until either side ends.
void TlsFront::Serve(int fd) {
    SSL* ssl = SSL_new(context_);
    SSL_set_fd(ssl, fd);
    int inner = -1;
    if (SSL_accept(ssl) == 1 && (inner = ConnectLoopback(origin_.Port())) >= 0) {
        ++handshakes_;
        resumed_ += SSL_session_reused(ssl) == 1 ? 1 : 0;
        char buffer[16384];
        for (bool open = true; open && !stopping_;) {
            pollfd fds[2] = {{fd, POLLIN, 0}, {inner, POLLIN, 0}};
            if (SSL_pending(ssl) == 0 && ::poll(fds, 2, 200) <= 0) {
                continue;
            }
            if (SSL_pending(ssl) > 0 || (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
                int n = SSL_read(ssl, buffer, sizeof buffer);
                open = n > 0 && ::send(inner, buffer, static_cast<size_t>(n), MSG_NOSIGNAL) == n;
            }
            if (open && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
                ssize_t n = ::recv(inner, buffer, sizeof buffer, 0);
                open = n > 0 && SSL_write(ssl, buffer, static_cast<int>(n)) == n;
            }
        }
    }
    if (inner >= 0) {
        ::close(inner);
    }
    SSL_shutdown(ssl);
    SSL_free(ssl);
    std::lock_guard lock(mutex_);
    std::erase(fds_, fd);
    ::close(fd);
}

}  // namespace gx::test
