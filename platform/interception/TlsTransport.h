// TLS streams behind the Transport seam: the client's side of an inspected HTTPS connection
// (the proxy answers the handshake with a leaf of its own root) and the server's side (the
// proxy connects with TLS and verifies the server as a browser would).
#pragma once

#include <asio.hpp>
#include <asio/ssl.hpp>
#include <functional>
#include <memory>
#include <string>

#include "platform/interception/PrefixedSocket.h"
#include "platform/interception/Transport.h"

namespace gx::interception {

using HandshakeHandler = std::function<void(const asio::error_code&)>;

// Our end of the client's TLS: the leaf and key are set on this connection alone.
class TlsServerTransport : public Transport {
  public:
    // `hello` are the bytes of the client already read (its ClientHello and anything after).
    TlsServerTransport(asio::ip::tcp::socket socket, std::string hello, asio::ssl::context& context,
                       X509* leaf, EVP_PKEY* key);

    void Handshake(HandshakeHandler handler);
    void ReadSome(asio::mutable_buffer buffer, IoHandler handler) override;
    void Write(asio::const_buffer buffer, IoHandler handler) override;
    void ShutdownSend() override;
    void Close() override;
    asio::ip::tcp::socket& Socket() override { return stream_.next_layer().Socket(); }

  private:
    asio::ssl::stream<PrefixedSocket> stream_;
};

// Our end of the server's TLS: SNI and certificate check for `serverName` (a host name or an
// address), ALPN http/1.1 only.
class TlsClientTransport : public Transport {
  public:
    TlsClientTransport(asio::ip::tcp::socket socket, asio::ssl::context& context,
                       const std::string& serverName);

    void Handshake(HandshakeHandler handler);
    // After a failed handshake: why the server's certificate was refused, in French; empty
    // when the certificate was not the reason.
    std::string CertificateProblem();
    // The server asked for a client certificate (which the proxy never has).
    bool ClientCertificateRequested();

    void ReadSome(asio::mutable_buffer buffer, IoHandler handler) override;
    void Write(asio::const_buffer buffer, IoHandler handler) override;
    void ShutdownSend() override;
    void Close() override;
    asio::ip::tcp::socket& Socket() override { return stream_.next_layer(); }

  private:
    asio::ssl::stream<asio::ip::tcp::socket> stream_;
};

// Servers that ask for a client certificate get none, and the connection remembers they asked.
void RefuseClientCertificateRequests(SSL_CTX* context);

// A peer that ends its TLS without a closing alert ends it all the same: the HTTP handling sees
// the end of the stream either way.
asio::error_code AsEndOfStream(const asio::error_code& error);

}  // namespace gx::interception
