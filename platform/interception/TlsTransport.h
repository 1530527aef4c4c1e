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
#include "platform/interception/TlsSessionCache.h"
#include "platform/interception/Transport.h"

namespace gx::interception {

using HandshakeHandler = std::function<void(const asio::error_code&)>;

// A peer that ends its TLS without a closing alert ends it all the same: the HTTP handling sees
// the end of the stream either way.
asio::error_code AsEndOfStream(const asio::error_code& error);

inline asio::ip::tcp::socket& TcpOf(asio::ip::tcp::socket& socket) {
    return socket;
}
inline asio::ip::tcp::socket& TcpOf(PrefixedSocket& socket) {
    return socket.Socket();
}

// What both ends have in common: TLS over a TCP socket (Next: the socket, or a socket whose
// first bytes were read already).
template <typename Next>
class TlsStreamTransport : public Transport {
  public:
    void ReadSome(asio::mutable_buffer buffer, IoHandler handler) override {
        ++*pending_;
        stream_.async_read_some(buffer, [handler = std::move(handler), pending = pending_](
                                            const asio::error_code& error, size_t n) {
            --*pending;
            handler(AsEndOfStream(error), n);
        });
    }
    void Write(asio::const_buffer buffer, IoHandler handler) override {
        ++*pending_;
        asio::async_write(stream_, buffer,
                          [handler = std::move(handler), pending = pending_](
                              const asio::error_code& error, size_t n) {
                              --*pending;
                              handler(error, n);
                          });
    }
    void ShutdownSend() override {
        asio::error_code ignored;
        Socket().shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
    }
    // Ends the TLS with its closing alert (close_notify) when the handshake was done and no
    // read or write of the stream is under way (the alert would go through the TLS engine's
    // state while an operation uses it), so that the peer can tell an end from a cut; the
    // peer's own alert is not waited for. Otherwise, as when a peer is cut off, the connection
    // just closes.
    void Close() override {
        asio::error_code ignored;
        if (Socket().is_open() && *pending_ == 0 &&
            SSL_is_init_finished(stream_.native_handle()) == 1 && !closeNotified_) {
            closeNotified_ = true;
            // Non-blocking: the alert goes out if the socket takes it now (a few bytes), and the
            // wait for the peer's alert ends at once.
            Socket().non_blocking(true, ignored);
            stream_.shutdown(ignored);
        }
        Socket().shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
        Socket().close(ignored);
    }
    asio::ip::tcp::socket& Socket() override { return TcpOf(stream_.next_layer()); }

  protected:
    TlsStreamTransport(Next next, asio::ssl::context& context)
        : stream_(std::move(next), context) {}
    asio::ssl::stream<Next> stream_;
    bool closeNotified_ = false;
    // Reads and writes under way; shared with their handlers, which may outlive the stream.
    std::shared_ptr<int> pending_ = std::make_shared<int>(0);
};

// Our end of the client's TLS: the leaf and key are set on this connection alone.
class TlsServerTransport : public TlsStreamTransport<PrefixedSocket> {
  public:
    // `hello` are the bytes of the client already read (its ClientHello and anything after).
    TlsServerTransport(asio::ip::tcp::socket socket, std::string hello, asio::ssl::context& context,
                       X509* leaf, EVP_PKEY* key);
    void Handshake(HandshakeHandler handler);
    // The protocol the handshake chose by ALPN ("h2", "http/1.1"), empty when none.
    std::string SelectedProtocol();
};

// Our end of the server's TLS: SNI and certificate check for `serverName` (a host name or an
// address), ALPN http/1.1 only.
class TlsClientTransport : public TlsStreamTransport<asio::ip::tcp::socket> {
  public:
    // offerHttp2: ALPN h2 before http/1.1 on this connection.
    // sessions: where the server's session is kept for the next connection under sessionKey,
    // and resumed from (none: a full handshake each time).
    TlsClientTransport(asio::ip::tcp::socket socket, asio::ssl::context& context,
                       const std::string& serverName, bool offerHttp2 = false,
                       TlsSessionCache* sessions = nullptr, const std::string& sessionKey = {});
    // The handshake resumed a session instead of a full exchange.
    bool Resumed();
    // The protocol the server chose by ALPN, empty when none.
    std::string SelectedProtocol();
    void Handshake(HandshakeHandler handler);
    // After a failed handshake: why the server's certificate was refused, in French; empty
    // when the certificate was not the reason.
    std::string CertificateProblem();
    // The server asked for a client certificate (which the proxy never has).
    bool ClientCertificateRequested();
};

// The handshake failed because the server speaks none of the protocols offered by ALPN.
bool RefusedEveryProtocolOffered(const asio::error_code& error);

// Servers that ask for a client certificate get none, and the connection remembers they asked.
void RefuseClientCertificateRequests(SSL_CTX* context);

}  // namespace gx::interception
