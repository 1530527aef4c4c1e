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

// Marks that the server's certificate names servers in its common name only.
int CommonNameOnlyIndex() {
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

bool HasSubjectAltName(X509* certificate) {
    return X509_get_ext_by_NID(certificate, NID_subject_alt_name, -1) >= 0;
}

// Changes no verdict: notes why a name did not match, for the page.
int NoteCommonNameOnly(int preverified, X509_STORE_CTX* store) {
    const int error = X509_STORE_CTX_get_error(store);
    X509* certificate = X509_STORE_CTX_get_current_cert(store);
    if (error == X509_V_ERR_HOSTNAME_MISMATCH && certificate && !HasSubjectAltName(certificate)) {
        auto* ssl = static_cast<SSL*>(
            X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
        SSL_set_ex_data(ssl, CommonNameOnlyIndex(), reinterpret_cast<void*>(1));
    }
    return preverified;
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

static std::string SelectedProtocolOf(SSL* ssl) {
    const unsigned char* name = nullptr;
    unsigned int length = 0;
    SSL_get0_alpn_selected(ssl, &name, &length);
    return name ? std::string(reinterpret_cast<const char*>(name), length) : std::string();
}

std::string TlsServerTransport::SelectedProtocol() {
    return SelectedProtocolOf(stream_.native_handle());
}

bool TlsClientTransport::Resumed() {
    return SSL_session_reused(stream_.native_handle()) == 1;
}

std::string TlsClientTransport::SelectedProtocol() {
    return SelectedProtocolOf(stream_.native_handle());
}

// ---- the server's side ----

TlsClientTransport::TlsClientTransport(asio::ip::tcp::socket socket, asio::ssl::context& context,
                                       const std::string& serverName, bool offerHttp2,
                                       TlsSessionCache* sessions, const std::string& sessionKey)
    : TlsStreamTransport(std::move(socket), context) {
    SSL* ssl = stream_.native_handle();
    if (sessions) {
        sessions->Prepare(ssl, sessionKey);
    }
    if (offerHttp2) {
        static const unsigned char kH2ThenHttp11[] = {2,   'h', '2', 8,   'h', 't',
                                                      't', 'p', '/', '1', '.', '1'};
        SSL_set_alpn_protos(ssl, kH2ThenHttp11, sizeof kH2ThenHttp11);
    }
    if (IsAddress(serverName)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), serverName.c_str());
    } else {
        SSL_set_tlsext_host_name(ssl, serverName.c_str());
        SSL_set1_host(ssl, serverName.c_str());
        // As browsers do: a name only in the subject's common name names no server.
        SSL_set_hostflags(ssl, X509_CHECK_FLAG_NEVER_CHECK_SUBJECT);
    }
    SSL_set_verify(ssl, SSL_get_verify_mode(ssl), NoteCommonNameOnly);
}

void TlsClientTransport::Handshake(HandshakeHandler handler) {
    stream_.async_handshake(asio::ssl::stream_base::client, std::move(handler));
}

std::string TlsClientTransport::CertificateProblem() {
    SSL* ssl = stream_.native_handle();
    long result = SSL_get_verify_result(ssl);
    if (result == X509_V_ERR_HOSTNAME_MISMATCH &&
        SSL_get_ex_data(ssl, CommonNameOnlyIndex()) != nullptr) {
        return "le certificat du site ne nomme le site que dans son nom commun (CN), sans nom "
               "alternatif (subjectAltName) : les navigateurs actuels le refusent";
    }
    return result == X509_V_OK ? std::string() : FrenchCertificateProblem(result);
}

bool TlsClientTransport::ClientCertificateRequested() {
    return SSL_get_ex_data(stream_.native_handle(), ClientCertificateIndex()) != nullptr;
}

bool RefusedEveryProtocolOffered(const asio::error_code& error) {
    return error.category() == asio::error::get_ssl_category() &&
           ERR_GET_REASON(static_cast<unsigned long>(error.value())) ==
               SSL_R_TLSV1_ALERT_NO_APPLICATION_PROTOCOL;
}

void RefuseClientCertificateRequests(SSL_CTX* context) {
    SSL_CTX_set_client_cert_cb(context, NoClientCertificate);
}

}  // namespace gx::interception
