// What the proxy needs to inspect HTTPS: the installation's root and the leaves it signs, the
// TLS settings of both legs, the switch (the trust marker) and the memory of connections that
// cannot be inspected. One per running proxy, shared by its worker threads.
//
// Both legs speak TLS 1.2 or 1.3 with current cipher suites only, and offer HTTP/1.1 alone in
// ALPN, so that a browser speaks HTTP/1.1 on an inspected connection. The server's leg verifies
// the server's chain against the system's store (OpenSSL's default paths: SSL_CERT_FILE and
// SSL_CERT_DIR choose another) and its name against the requested host.
#pragma once

#include <asio/ssl.hpp>
#include <memory>
#include <optional>
#include <string>

#include "platform/interception/FailOpenMemory.h"
#include "platform/interception/Http2OnlyServers.h"
#include "platform/interception/TlsSessionCache.h"
#include "platform/tls/LeafIssuer.h"
#include "platform/tls/TrustMarker.h"

namespace gx::interception {

class TlsInterceptor {
  public:
    // Loads or makes the root in the data folder. nullptr when none can be had; `notice` then,
    // or when a damaged root was set aside, holds a French line.
    static std::shared_ptr<TlsInterceptor> Create(const std::string& dataFolder,
                                                  const std::string& subject, std::string* notice);

    explicit TlsInterceptor(tls::RootAuthority root);

    // Is interception switched on (the root is trusted)? Looked at again once a second.
    bool Enabled() { return trust_.Enabled(); }
    tls::LeafIssuer& Leaves() { return leaves_; }
    FailOpenMemory& FailOpen() { return failOpen_; }
    // The settings for our end of a client's TLS, and for our end of a server's.
    asio::ssl::context& ForClients() { return forClients_; }
    asio::ssl::context& ForServers() { return forServers_; }
    // The servers' sessions, resumed by the next connection to the same server.
    TlsSessionCache& Sessions() { return sessions_; }
    Http2OnlyServers& OnlyHttp2() { return onlyHttp2_; }
    // Whether clients that offer HTTP/2 get it (before the first connection only).
    void OfferHttp2(bool offer) { http2_ = offer; }

  private:
    tls::TrustState trust_;
    tls::LeafIssuer leaves_;
    FailOpenMemory failOpen_;
    asio::ssl::context forClients_;
    asio::ssl::context forServers_;
    bool http2_ = true;
    TlsSessionCache sessions_;
    Http2OnlyServers onlyHttp2_;
};

}  // namespace gx::interception
