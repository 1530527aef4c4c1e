// HTTPS origins for the interception tests: a test authority made at run time (never
// committed), and TLS fronts on loopback that decrypt and pass every connection on to a plain
// TestOrigin, so that its fixed answers and its record of requests serve HTTPS tests too. A
// front shows a good certificate (for "localhost" and 127.0.0.1), or an expired, self-signed or
// wrong-name one, or one that names its server in the common name alone.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/interception/TestOrigin.h"
#include "platform/program/OpenSslHandles.h"
#include "support/TestCertificates.h"

namespace gx::test {

// The authority that signs the fronts' certificates, its PEM written to a file.
class TestAuthority {
  public:
    explicit TestAuthority(const std::string& pemPath);
    const std::string& PemPath() const { return pemPath_; }
    EVP_PKEY* Key() const { return pair_.key.get(); }
    X509* Certificate() const { return pair_.certificate.get(); }
    const gx::testing::TestPair& Pair() const { return pair_; }

  private:
    std::string pemPath_;
    gx::testing::TestPair pair_;
};

// CommonNameOnly: "localhost" in the subject's common name alone, no subjectAltName.
enum class FrontCertificate { Good, Expired, SelfSigned, WrongName, CommonNameOnly };

class TlsFront {
  public:
    // any: listen on every IPv4 address of the namespace, not only on 127.0.0.1.
    TlsFront(const TestAuthority& authority, FrontCertificate kind = FrontCertificate::Good,
             bool any = false);
    ~TlsFront();
    TlsFront(const TlsFront&) = delete;
    TlsFront& operator=(const TlsFront&) = delete;

    uint16_t Port() const { return port_; }
    // https://localhost:PORT + path
    std::string Url(const std::string& path) const;
    TestOrigin& Origin() { return origin_; }
    int HandshakeCount() const { return handshakes_; }
    // Handshakes that resumed a session this front gave before.
    int ResumedCount() const { return resumed_; }

  private:
    void AcceptLoop();
    void Serve(int fd);

    TestOrigin origin_;
    PkeyHandle key_;
    X509Handle cert_;
    SSL_CTX* context_ = nullptr;
    int listenFd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> handshakes_{0};
    std::atomic<int> resumed_{0};
    std::thread acceptor_;
    std::mutex mutex_;
    std::vector<std::thread> workers_;
    std::vector<int> fds_;
};

}  // namespace gx::test
