// CONNECT tunnels, the first bytes of a tunnel or of a redirected connection, and raw relay.
//
// A tunnel's origin is connected before anything is relayed; then its first bytes decide:
// plain HTTP goes to the filter like any other request (a CONNECT must not be a way around it),
// anything else (TLS above all) is relayed both ways untouched. A redirected connection decides
// the same way, before its origin is connected.
#include <string_view>

#include "platform/interception/ClientSession.h"
#include "platform/interception/OriginConnection.h"
#include "platform/interception/Proxy.h"

namespace gx::interception {
namespace {

constexpr char kConnectEstablished[] = "HTTP/1.1 200 Connection established\r\n\r\n";

bool StartsWithConnect(const char* data, size_t n) {
    constexpr std::string_view kConnect = "CONNECT ";
    return n >= kConnect.size() && std::string_view(data, kConnect.size()) == kConnect;
}

}  // namespace

bool ClientSession::PostRawToOrigin(std::string bytes) {
    if (!tunnelOpen_) {
        return false;
    }
    asio::post(executor_, [self = shared_from_this(), bytes = std::move(bytes)] {
        if (self->phase_ == Phase::Tunnel && self->bodyOrigin_) {
            self->bodyOrigin_->SendBytes(bytes.data(), bytes.size());
        }
    });
    return true;
}

void ClientSession::StartConnect(RequestHead head) {
    asio::error_code error;
    auto address = asio::ip::make_address(head.host, error);
    if (!error && proxy_.IsOwnListener({address, head.port})) {
        Refuse(508);
        return;
    }
    if (CanIntercept()) {
        AnswerConnectAtOnce(std::move(head));
        return;
    }
    std::string host = head.host;
    uint16_t port = head.port;
    OpenTunnelOrigin(host, port);
    current_.head = std::move(head);
}

// The one way a tunnel's origin is opened: for CONNECT, for a raw relay and for a redirected
// connection whose client waits for its server to speak first.
void ClientSession::OpenTunnelOrigin(const std::string& host, uint16_t port) {
    current_ = Request{};
    current_.originHost = host;
    current_.originPort = port;
    current_.slot = NewSlot(false);
    auto origin = OriginFor(host, port);
    current_.slot->origin = origin;
    bodyOrigin_ = origin;
    phase_ = Phase::AwaitConnect;
    origin->ConnectForTunnel(current_.slot);
}

void ClientSession::EnterTunnel() {
    phase_ = Phase::Tunnel;
    tunnelOpen_ = true;
    bodyOrigin_->StartTunnel(current_.slot);
}

void ClientSession::OriginConnectedForTunnel(OriginConnection* origin) {
    if (phase_ != Phase::AwaitConnect || bodyOrigin_.get() != origin) {
        return;
    }
    if (rawRelay_) {
        EnterTunnel();
        ProcessInput();
        return;
    }
    if (transparent_ || connectAnswered_) {
        phase_ = Phase::Sniff;  // nothing (more) to answer: the client talks to the server
        ProcessInput();
        return;
    }
    Deliver(current_.slot.get(), kConnectEstablished, sizeof kConnectEstablished - 1);
    phase_ = Phase::Sniff;
    headDeadline_ = Clock::now() + proxy_.GetLimits().headerTimeout;
    ProcessInput();
}

void ClientSession::DecideSniff() {
    const char* data = in_.data() + inStart_;
    size_t available = inEnd_ - inStart_;
    std::optional<bool> http = LooksLikeHttp(data, available);
    if (!http) {
        return;
    }
    if (*http && !(transparent_ && StartsWithConnect(data, available))) {
        fixed_ = FixedOrigin{current_.originHost, current_.originPort};
        bodyOrigin_->ServeRequests();
        bodyOrigin_.reset();
        FinishSlot(current_.slot.get(), false);
        phase_ = Phase::Head;
    } else {
        EnterTunnel();
    }
}

// A redirected connection (or a CONNECT answered at once) that starts like an HTTP request goes
// to the filter; HTTPS is inspected where it may be; anything else (a CONNECT meant for a proxy
// further on, another protocol) is relayed to its destination.
void ClientSession::DecideFirstBytes() {
    const char* data = in_.data() + inStart_;
    size_t available = inEnd_ - inStart_;
    if (CanIntercept()) {
        tls::ClientHello hello =
            tls::ReadClientHello(reinterpret_cast<const unsigned char*>(data), available);
        if (hello.verdict == tls::ClientHello::Verdict::NeedMore) {
            return;
        }
        if (hello.verdict == tls::ClientHello::Verdict::Hello) {
            if (!toClient_.Empty()) {
                return;  // the tunnel's answer is still being written; resumed when it is
            }
            if (!InterceptTls(hello)) {
                StartRawRelay();
            }
            return;
        }
    }
    std::optional<bool> http = LooksLikeHttp(data, available);
    if (!http) {
        return;
    }
    if (*http && !(transparent_ && StartsWithConnect(data, available))) {
        phase_ = Phase::Head;
    } else {
        StartRawRelay();
    }
}

void ClientSession::StartRawRelay() {
    rawRelay_ = true;
    OpenTunnelOrigin(fixed_->host, fixed_->port);
}

void ClientSession::ConnectAndSniff() {
    OpenTunnelOrigin(fixed_->host, fixed_->port);
    headDeadline_ = Clock::now() + proxy_.GetLimits().headerTimeout;
}

void ClientSession::OriginSpokeFirst(OriginConnection* origin) {
    // A server that speaks first (mail, FTP...) through the tunnel: relay both ways.
    if (phase_ == Phase::Sniff && bodyOrigin_.get() == origin) {
        EnterTunnel();
        ProcessInput();
    }
}

void ClientSession::OriginUpgraded(OriginConnection* origin) {
    if (phase_ != Phase::AwaitUpgrade) {
        Close();
        return;
    }
    for (auto& entry : origins_) {
        if (entry.second.get() == origin) {
            bodyOrigin_ = entry.second;
        }
    }
    phase_ = Phase::Tunnel;
    tunnelOpen_ = true;
    ProcessInput();
}

// The client's bytes of a tunnel go to the origin inside the kernel once what was read through
// the buffers is written. True while a relay runs or waits for that (OriginDrained resumes).
bool ClientSession::SpliceToOrigin() {
    if (splicing_) {
        return true;
    }
    if (spliceRefused_ || reading_ || clientEof_ || closed_ || suspended_ || !client_->Plain() ||
        !bodyOrigin_ || inStart_ != inEnd_) {
        return false;
    }
    SpliceReadiness readiness = bodyOrigin_->SpliceInto();
    if (readiness != SpliceReadiness::Now) {
        return readiness == SpliceReadiness::Later;
    }
    if (!toOrigin_ || !toOrigin_->Joins(client_->Socket(), bodyOrigin_->Socket())) {
        toOrigin_ = std::make_unique<SpliceRelay>(client_->Socket(), bodyOrigin_->Socket(),
                                                  proxy_.GetLimits().maxBuffered);
    }
    splicing_ = true;
    UpdateDeadline();
    if (!toOrigin_->Run(
            SpliceRelay::kUnlimited, weak_from_this(), [this] { UpdateDeadline(); },
            [this](SpliceRelay::End end) { OnSpliceToOriginEnd(end); })) {
        splicing_ = false;
        spliceRefused_ = true;
        return false;
    }
    return true;
}

void ClientSession::OnSpliceToOriginEnd(SpliceRelay::End end) {
    splicing_ = false;
    if (closed_) {
        return;
    }
    switch (end) {
        case SpliceRelay::End::SourceEnded:
        case SpliceRelay::End::Failed:
            // The client ended its side (or lost it): so does the origin's, once all is
            // written; the origin's end closes the tunnel.
            clientEof_ = true;
            if (bodyOrigin_) {
                bodyOrigin_->ShutdownAfterFlush();
            }
            return;
        case SpliceRelay::End::Refused: {
            spliceRefused_ = true;
            std::string held = toOrigin_->TakeHeld();
            if (bodyOrigin_) {
                bodyOrigin_->SendBytes(held.data(), held.size());
            }
            break;
        }
        case SpliceRelay::End::LimitReached:
            break;
    }
    ProcessInput();
}

void ClientSession::ServerEndedTunnel() {
    endClientSideWhenFlushed_ = true;
    if (!toClient_.writing && toClient_.pending.empty()) {
        client_->ShutdownSend();
    }
}

void ClientSession::TunnelEnded() {
    phase_ = Phase::Closing;
    tunnelOpen_ = false;
    responses_.End();
    MaybeClose();
}

}  // namespace gx::interception
