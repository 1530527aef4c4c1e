// The TLS sessions that servers gave the proxy, kept so that the next connection to the same
// server resumes its session: one round trip less, and no certificate to check again (the
// session was made after the check passed). Keyed by the server's name and port; at most
// kMaxSessions kept, the oldest forgotten first. Shared by the proxy's worker threads.
#pragma once

#include <openssl/ssl.h>

#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace gx::interception {

class TlsSessionCache {
  public:
    static constexpr size_t kMaxSessions = 512;

    // Makes the client context hand every new session of its connections to the cache.
    void Attach(SSL_CTX* context);
    // Before the handshake: the connection belongs to `key`, and resumes its session if one is
    // kept.
    void Prepare(SSL* ssl, const std::string& key);
    size_t Size();

  private:
    static int NewSession(SSL* ssl, SSL_SESSION* session);
    void Keep(const std::string& key, SSL_SESSION* session);

    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<SSL_SESSION>> sessions_;
    std::deque<std::string> order_;  // oldest first
};

}  // namespace gx::interception
