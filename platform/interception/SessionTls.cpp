// HTTPS connections that are inspected. When the program attached the TLS filter and the root
// is trusted, a connection whose first bytes are a ClientHello gets our end of its TLS, with a
// leaf for the name it asked for (its SNI, else the CONNECT host or the original destination);
// its decrypted requests then go through the HTTP handling exactly as plain ones, and each
// request that passes travels to the server over a TLS connection of our own that verifies the
// server. Where inspection cannot work (the client refuses our certificate, the TLS does not
// carry HTTP/1.x), that program's connections to that host are relayed untouched from then on.
#include <openssl/err.h>
#include <openssl/ssl.h>

#include "platform/interception/ClientSession.h"
#include "platform/interception/Http2Front.h"
#include "platform/interception/Proxy.h"
#include "platform/interception/TlsTransport.h"

namespace gx::interception {
namespace {

constexpr char kConnectEstablished[] = "HTTP/1.1 200 Connection established\r\n\r\n";

// Did the client end its handshake because it refused our certificate? It says so with a
// certificate alert, or simply hangs up once it has seen the certificate.
bool RefusedOurCertificate(const asio::error_code& error) {
    if (error == asio::error::eof || error == asio::ssl::error::stream_truncated ||
        error == asio::error::connection_reset) {
        return true;
    }
    if (error.category() != asio::error::get_ssl_category()) {
        return false;
    }
    switch (ERR_GET_REASON(static_cast<unsigned long>(error.value()))) {
        case SSL_R_SSLV3_ALERT_BAD_CERTIFICATE:
        case SSL_R_SSLV3_ALERT_UNSUPPORTED_CERTIFICATE:
        case SSL_R_SSLV3_ALERT_CERTIFICATE_REVOKED:
        case SSL_R_SSLV3_ALERT_CERTIFICATE_EXPIRED:
        case SSL_R_SSLV3_ALERT_CERTIFICATE_UNKNOWN:
        case SSL_R_TLSV1_ALERT_UNKNOWN_CA:
        case SSL_R_TLSV1_ALERT_ACCESS_DENIED:
        case SSL_R_TLSV1_ALERT_DECRYPT_ERROR:
        case SSL_R_TLSV13_ALERT_CERTIFICATE_REQUIRED:
            return true;
        default:
            return false;
    }
}

}  // namespace

bool ClientSession::CanIntercept() {
    TlsInterceptor* tls = proxy_.Tls();
    return filtered_ && tlsFilter_ && httpFilter_ && tls && tls->Enabled();
}

// A CONNECT that may carry HTTPS to inspect is answered before its server is connected: the
// verdict on its first request comes before any connection to the server (a listed address is
// blocked even when its server cannot be reached), and what the tunnel carries decides.
void ClientSession::AnswerConnectAtOnce(RequestHead head) {
    fixed_ = FixedOrigin{head.host, head.port};
    current_ = Request{};
    current_.head = std::move(head);
    connectAnswered_ = true;
    auto slot = NewSlot(false);
    Deliver(slot.get(), kConnectEstablished, sizeof kConnectEstablished - 1);
    FinishSlot(slot.get(), false);
    phase_ = Phase::FirstBytes;
    firstBytesDeadline_ = Clock::now() + proxy_.GetLimits().firstBytesTimeout;
}

bool ClientSession::InterceptTls(const tls::ClientHello& hello) {
    TlsInterceptor& tls = *proxy_.Tls();
    std::string name = tls::CanonicalServerName(tls::IsHostName(hello.serverName) ? hello.serverName
                                                                                  : fixed_->host);
    std::string program = ProgramPath();
    if (tls.FailOpen().Remembers(name, program)) {
        return false;
    }
    std::shared_ptr<X509> leaf = tls.Leaves().LeafFor(name);
    if (!leaf) {
        return false;
    }
    std::string received(in_.data() + inStart_, inEnd_ - inStart_);
    inStart_ = inEnd_ = 0;
    auto stream =
        std::make_unique<TlsServerTransport>(std::move(client_->Socket()), std::move(received),
                                             tls.ForClients(), leaf.get(), tls.Leaves().LeafKey());
    TlsServerTransport* handshaking = stream.get();
    client_ = std::move(stream);
    phase_ = Phase::TlsHandshake;
    headDeadline_ = Clock::now() + proxy_.GetLimits().headerTimeout;
    UpdateDeadline();
    handshaking->Handshake(
        [self = shared_from_this(), name, program](const asio::error_code& error) {
            self->OnClientHandshake(error, name, program);
        });
    return true;
}

void ClientSession::OnClientHandshake(const asio::error_code& error, const std::string& name,
                                      const std::string& program) {
    if (closed_) {
        return;
    }
    if (error) {
        if (RefusedOurCertificate(error)) {
            proxy_.Tls()->FailOpen().Remember(name, program);
        }
        Close();
        return;
    }
    tlsServerName_ = name;
    tlsProgram_ = program;
    if (static_cast<TlsServerTransport*>(client_.get())->SelectedProtocol() == "h2") {
        StartHttp2();
        return;
    }
    tlsFirstRequest_ = true;
    phase_ = Phase::Head;
    UpdateDeadline();
    ProcessInput();
}

// The first bytes through an inspected TLS must be HTTP/1.x. Anything else is given up on (the
// connection ends) and remembered, so that the next one is relayed untouched.
bool ClientSession::FirstTlsRequestIsHttp() {
    std::optional<bool> http = LooksLikeHttp(in_.data() + inStart_, inEnd_ - inStart_);
    if (!http) {
        return false;  // read more
    }
    tlsFirstRequest_ = false;
    if (!*http) {
        proxy_.Tls()->FailOpen().Remember(tlsServerName_, tlsProgram_);
        Close();
        return false;
    }
    return true;
}

// The client chose HTTP/2 in its handshake: its streams are the front's from now on.
void ClientSession::StartHttp2() {
    phase_ = Phase::Http2;
    h2_ = std::make_unique<Http2Front>(*this);
    UpdateDeadline();
    ProcessInput();
}

void ClientSession::TlsServerCannotBeInspected() {
    proxy_.Tls()->FailOpen().Remember(tlsServerName_, tlsProgram_);
}

std::string ClientSession::ProgramPath() const {
    char name[4096] = "";
    return owner_.pid != 0 && ProcessName(owner_.pid, name, sizeof name) ? std::string(name) : "";
}

}  // namespace gx::interception
