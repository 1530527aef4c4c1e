#include "platform/interception/TlsTransport.h"

#include <arpa/inet.h>
#include <openssl/x509v3.h>

#include "platform/tls/ClientHello.h"

namespace gx::interception {
namespace {

// Marks, on the connection itself, that its server asked for a client certificate.
int ClientCertificateIndex() {
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

int NoClientCertificate(SSL* ssl, X509**, EVP_PKEY**) {
    SSL_set_ex_data(ssl, ClientCertificateIndex(), reinterpret_cast<void*>(1));
    return 0;  // none to give
}

bool IsAddress(const std::string& name) {
    unsigned char bytes[16];
    return inet_pton(AF_INET, name.c_str(), bytes) == 1 ||
           inet_pton(AF_INET6, name.c_str(), bytes) == 1;
}

std::string FrenchCertificateProblem(long result) {
    switch (result) {
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return "le certificat du site a expir\xE9";
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return "le certificat du site n'est pas encore valable";
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
            return "le certificat du site est auto-sign\xE9";
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return "le certificat du site est \xE9tabli pour un autre nom";
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
            return "le certificat du site n'est pas sign\xE9 par une autorit\xE9 reconnue";
        case X509_V_ERR_CERT_REVOKED:
            return "le certificat du site a \xE9t\xE9 r\xE9voqu\xE9";
        default:
            return std::string("le certificat du site n'a pas pu \xEAtre v\xE9rifi\xE9 (") +
                   X509_verify_cert_error_string(result) + ")";
    }
}

}  // namespace

asio::error_code AsEndOfStream(const asio::error_code& error) {
    return error == asio::ssl::error::stream_truncated ? asio::error::eof : error;
}

// ---- the client's side ----

TlsServerTransport::TlsServerTransport(asio::ip::tcp::socket socket, std::string hello,
                                       asio::ssl::context& context, X509* leaf, EVP_PKEY* key)
    : TlsStreamTransport(PrefixedSocket(std::move(socket), std::move(hello)), context) {
    SSL_use_certificate(stream_.native_handle(), leaf);
    SSL_use_PrivateKey(stream_.native_handle(), key);
}

void TlsServerTransport::Handshake(HandshakeHandler handler) {
    stream_.async_handshake(asio::ssl::stream_base::server, std::move(handler));
}

// ---- the server's side ----

TlsClientTransport::TlsClientTransport(asio::ip::tcp::socket socket, asio::ssl::context& context,
                                       const std::string& serverName)
    : TlsStreamTransport(std::move(socket), context) {
    SSL* ssl = stream_.native_handle();
    if (IsAddress(serverName)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), serverName.c_str());
    } else {
        SSL_set_tlsext_host_name(ssl, serverName.c_str());
        SSL_set1_host(ssl, serverName.c_str());
    }
}

void TlsClientTransport::Handshake(HandshakeHandler handler) {
    stream_.async_handshake(asio::ssl::stream_base::client, std::move(handler));
}

std::string TlsClientTransport::CertificateProblem() {
    long result = SSL_get_verify_result(stream_.native_handle());
    return result == X509_V_OK ? std::string() : FrenchCertificateProblem(result);
}

bool TlsClientTransport::ClientCertificateRequested() {
    return SSL_get_ex_data(stream_.native_handle(), ClientCertificateIndex()) != nullptr;
}

void RefuseClientCertificateRequests(SSL_CTX* context) {
    SSL_CTX_set_client_cert_cb(context, NoClientCertificate);
}

}  // namespace gx::interception
