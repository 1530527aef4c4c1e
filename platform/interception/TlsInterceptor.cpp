#include "platform/interception/TlsInterceptor.h"

#include <openssl/ssl.h>

#include <cstring>

#include "platform/interception/TlsTransport.h"
#include "platform/tls/RootAuthority.h"

namespace gx::interception {
namespace {

// TLS 1.2 suites with forward secrecy and authenticated encryption; TLS 1.3's are all current.
constexpr char kTls12Suites[] =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:ECDHE-ECDSA-AES256-GCM-SHA384:"
    "ECDHE-RSA-AES256-GCM-SHA384:ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305";
constexpr unsigned char kHttp11Alpn[] = {8, 'h', 't', 't', 'p', '/', '1', '.', '1'};
constexpr unsigned char kH2ThenHttp11Alpn[] = {2,   'h', '2', 8,   'h', 't',
                                               't', 'p', '/', '1', '.', '1'};

// A client offering HTTP/2 gets it (when the limits allow it), else HTTP/1.1; one that offers
// only other protocols gets no ALPN answer and speaks HTTP/1.1 by default.
int SelectProtocol(SSL*, const unsigned char** out, unsigned char* outLength,
                   const unsigned char* offered, unsigned int offeredLength, void* http2) {
    const bool h2 = *static_cast<const bool*>(http2);
    const unsigned char* ours = h2 ? kH2ThenHttp11Alpn : kHttp11Alpn;
    const unsigned int oursLength = h2 ? sizeof kH2ThenHttp11Alpn : sizeof kHttp11Alpn;
    unsigned char* selected = nullptr;
    if (SSL_select_next_proto(&selected, outLength, ours, oursLength, offered, offeredLength) ==
        OPENSSL_NPN_NEGOTIATED) {
        *out = selected;
        return SSL_TLSEXT_ERR_OK;
    }
    return SSL_TLSEXT_ERR_NOACK;
}

void CommonSettings(asio::ssl::context& context) {
    SSL_CTX* native = context.native_handle();
    SSL_CTX_set_min_proto_version(native, TLS1_2_VERSION);
    SSL_CTX_set_cipher_list(native, kTls12Suites);
    SSL_CTX_set_options(native, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION);
}

}  // namespace

std::shared_ptr<TlsInterceptor> TlsInterceptor::Create(const std::string& dataFolder,
                                                       const std::string& subject,
                                                       std::string* notice) {
    std::optional<tls::RootAuthority> root = tls::LoadOrCreateRoot(dataFolder, subject, notice);
    if (!root) {
        if (notice) {
            *notice =
                "le certificat racine de Gardalix n'a pas pu \xC3\xAAtre cr\xC3\xA9\xC3\xA9 dans " +
                dataFolder + " : les sites HTTPS ne sont pas inspect\xC3\xA9s.";
        }
        return nullptr;
    }
    return std::make_shared<TlsInterceptor>(std::move(*root));
}

TlsInterceptor::TlsInterceptor(tls::RootAuthority root)
    : trust_(root.certificatePath.substr(0, root.certificatePath.rfind('/')), root.fingerprint),
      leaves_(std::move(root)),
      forClients_(asio::ssl::context::tls_server),
      forServers_(asio::ssl::context::tls_client) {
    CommonSettings(forClients_);
    SSL_CTX_set_alpn_select_cb(forClients_.native_handle(), SelectProtocol, &http2_);

    CommonSettings(forServers_);
    forServers_.set_default_verify_paths();
    forServers_.set_verify_mode(asio::ssl::verify_peer);
    SSL_CTX_set_alpn_protos(forServers_.native_handle(), kHttp11Alpn, sizeof kHttp11Alpn);
    RefuseClientCertificateRequests(forServers_.native_handle());
    sessions_.Attach(forServers_.native_handle());
}

}  // namespace gx::interception
