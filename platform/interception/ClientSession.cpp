#include "platform/interception/ClientSession.h"

#include <algorithm>
#include <cstring>

#include "platform/interception/Http2Front.h"
#include "platform/interception/HttpText.h"
#include "platform/interception/OriginConnection.h"
#include "platform/interception/Proxy.h"
#include "platform/interception/SessionLimits.h"

namespace gx::interception {
namespace {

constexpr size_t kReadChunk = 64 * 1024;
// An idle keep-alive connection holds this much; the buffer grows for long heads and busy
// transfers (up to the head limit plus some, at least kReadChunk).
constexpr size_t kInitialReadBuffer = 16 * 1024;

void FillAddressBytes(const asio::ip::address& address, uint8_t* out) {
    if (address.is_v4()) {
        auto bytes = address.to_v4().to_bytes();
        std::memcpy(out, bytes.data(), bytes.size());
    } else {
        auto bytes = address.to_v6().to_bytes();
        std::memcpy(out, bytes.data(), bytes.size());
    }
}

sockaddr_storage ToStorage(const asio::ip::tcp::endpoint& endpoint) {
    sockaddr_storage storage{};
    std::memcpy(&storage, endpoint.data(), endpoint.size());
    return storage;
}

}  // namespace

ClientSession::ClientSession(Proxy& proxy, asio::ip::tcp::socket socket,
                             std::optional<FixedOrigin> fixed, bool transparent)
    : proxy_(proxy),
      program_(proxy.Program()),
      client_(std::make_unique<PlainTransport>(std::move(socket))),
      executor_(client_->Socket().get_executor()),
      fixed_(std::move(fixed)),
      transparent_(transparent),
      in_(kInitialReadBuffer),
      reader_(proxy.GetLimits().maxHeadBytes),
      deadline_(executor_, [this] { OnTimeout(); }) {}

ClientSession::~ClientSession() = default;

void ClientSession::Abort() {
    announced_ = false;
    Close();
}

std::optional<std::pair<asio::ip::tcp::endpoint, asio::ip::tcp::endpoint>> ClientSession::Endpoints(
    asio::ip::tcp::socket& socket) {
    asio::error_code peerError;
    asio::error_code localError;
    auto peer = socket.remote_endpoint(peerError);
    auto local = socket.local_endpoint(localError);
    if (peerError || localError) {
        return std::nullopt;
    }
    return std::pair{peer, local};
}

void ClientSession::Start() {
    id_ = proxy_.Register(shared_from_this());
    deadline_.SetOwner(weak_from_this());
    auto endpoints = Endpoints(client_->Socket());
    if (!endpoints) {
        Close();
        return;
    }
    auto [peer, local] = *endpoints;
    asio::error_code error;
    client_->Socket().set_option(asio::ip::tcp::no_delay(true), error);

    ConnectionFacts facts;
    facts.family = peer.address().is_v4() ? uint16_t{NF_AF_INET} : uint16_t{AF_INET6};
    FillAddressBytes(peer.address(), facts.localAddress);
    facts.localPort = peer.port();
    asio::ip::tcp::endpoint remote;
    if (fixed_) {
        asio::ip::address address = asio::ip::make_address(fixed_->host, error);
        if (!error) {
            remote = asio::ip::tcp::endpoint(address, fixed_->port);
            facts.remoteKnown = true;
            FillAddressBytes(address, facts.remoteAddress);
            facts.remotePort = fixed_->port;
        }
    }
    // The client's socket is connected to the original destination of a redirected
    // connection, not to the listener that accepted it.
    owner_ = proxy_.Processes().FindClientProcess(ToStorage(peer),
                                                  ToStorage(facts.remoteKnown ? remote : local));
    facts.processId = owner_.pid;
    account_.store(owner_.account, std::memory_order_release);
    std::optional<uint32_t> flag = proxy_.Rules().Decide(facts);
    filtered_ = flag && (*flag & NF_FILTER) != 0;
    if (filtered_) {
        ConnectionAnnouncement connection{*flag, facts.processId, peer, std::nullopt};
        if (facts.remoteKnown) {
            connection.server = remote;
        }
        Announce(connection);
    }
    if (transparent_) {
        if (!filtered_ || !httpFilter_) {
            StartRawRelay();  // not for the program, or left without filters: relayed untouched
            return;
        }
        phase_ = Phase::FirstBytes;
        firstBytesDeadline_ = Clock::now() + proxy_.GetLimits().firstBytesTimeout;
    }
    ProcessInput();
}

// ---- reading and cutting the client's bytes ----

void ClientSession::ReadClient() {
    if (reading_ || closed_ || clientEof_ || suspended_ || splicing_) {
        return;
    }
    if (inStart_ == inEnd_) {
        inStart_ = inEnd_ = 0;
    } else if (inEnd_ == in_.size() || (inStart_ > 0 && phase_ == Phase::Head)) {
        std::memmove(in_.data(), in_.data() + inStart_, inEnd_ - inStart_);
        inEnd_ -= inStart_;
        inStart_ = 0;
    }
    size_t largest = std::max(proxy_.GetLimits().maxHeadBytes, kReadChunk) + 8192;
    if ((inEnd_ == in_.size() || lastReadFilled_) && in_.size() < largest) {
        in_.resize(std::min(largest, in_.size() * 4));
    }
    if (inEnd_ == in_.size()) {
        return;  // full: the phase that owns the bytes must move them on first
    }
    reading_ = true;
    UpdateDeadline();
    client_->ReadSome(asio::buffer(in_.data() + inEnd_, in_.size() - inEnd_),
                      [self = shared_from_this()](const asio::error_code& error, size_t n) {
                          self->OnClientRead(error, n);
                      });
}

void ClientSession::OnClientRead(const asio::error_code& error, size_t n) {
    reading_ = false;
    lastReadFilled_ = !error && n == in_.size() - inEnd_;
    if (closed_) {
        return;
    }
    if (error) {
        clientEof_ = true;
        if (phase_ == Phase::Http2) {
            Close();  // the streams still open have nobody to answer
            return;
        }
        if (phase_ == Phase::Tunnel && bodyOrigin_) {
            bodyOrigin_->ShutdownAfterFlush();
            return;
        }
        bool midRequest = inEnd_ > inStart_ || reader_.InHead() || phase_ == Phase::BodyToOrigin ||
                          phase_ == Phase::BodyCollect || phase_ == Phase::Sniff ||
                          phase_ == Phase::FirstBytes;
        if (midRequest || error != asio::error::eof) {
            Close();
        } else {
            MaybeClose();
        }
        return;
    }
    inEnd_ += n;
    ProcessInput();
}

bool ClientSession::ResumeInput() {
    return !closed_ && !suspended_;
}

void ClientSession::ProcessInput() {
    while (ResumeInput()) {
        size_t available = inEnd_ - inStart_;
        switch (phase_) {
            case Phase::Head:
                if (tlsFirstRequest_ && !FirstTlsRequestIsHttp()) {
                    if (!closed_) {
                        ReadClient();
                    }
                    return;
                }
                if (responses_.Owed() >= kMaxOwedResponses) {
                    pausedForResponses_ = true;  // resumed by ResumeAfterResponses
                    return;
                }
                if (!TakeHead()) {
                    if (phase_ == Phase::Head) {
                        ReadClient();
                    }
                    return;
                }
                break;
            case Phase::BodyToOrigin:
            case Phase::BodyDiscard:
            case Phase::BodyCollect:
                if (available == 0) {
                    ReadClient();
                    return;
                }
                if (phase_ == Phase::BodyToOrigin && bodyOrigin_->Backlogged()) {
                    return;  // resumed by OriginDrained
                }
                StreamBody(available);
                break;
            case Phase::FirstBytes:
            case Phase::Sniff: {
                // Is it HTTP? Until the first bytes tell, read more.
                const Phase undecided = phase_;
                if (available > 0) {
                    undecided == Phase::FirstBytes ? DecideFirstBytes() : DecideSniff();
                }
                if (phase_ == undecided) {
                    ReadClient();
                    return;
                }
                break;
            }
            case Phase::Http2:
                if (available > 0) {
                    const bool going = h2_->Receive(in_.data() + inStart_, available);
                    inStart_ = inEnd_;
                    if (!going || h2_->Finished()) {
                        phase_ = Phase::Closing;
                        MaybeClose();
                        return;
                    }
                    UpdateDeadline();
                }
                ReadClient();
                return;
            case Phase::Tunnel:
                if (available > 0) {
                    if (bodyOrigin_->Backlogged()) {
                        return;
                    }
                    bodyOrigin_->SendBytes(in_.data() + inStart_, available);
                    inStart_ = inEnd_;
                }
                if (!SpliceToOrigin()) {
                    ReadClient();
                }
                return;
            default:
                return;  // waiting for the program, an origin or the end
        }
    }
}

bool ClientSession::TakeHead() {
    const bool wasInHead = reader_.InHead();
    Http1RequestReader::Result result =
        reader_.Next(std::string_view(in_.data() + inStart_, inEnd_ - inStart_));
    inStart_ += result.used;
    if (!wasInHead && reader_.InHead()) {
        headDeadline_ = Clock::now() + proxy_.GetLimits().headerTimeout;
    }
    switch (result.step) {
        case Http1RequestReader::Step::NeedMore:
            if (inStart_ == inEnd_ && clientEof_) {
                MaybeClose();
            }
            return false;
        case Http1RequestReader::Step::Refused:
            Refuse(result.status);
            return false;
        case Http1RequestReader::Step::Head:
            break;
    }
    HandleRequest(std::move(result.head));
    return true;
}

void ClientSession::HandleRequest(RequestHead head) {
    if (head.isConnect) {
        if (fixed_) {
            Refuse(400);  // a tunnel inside a tunnel, or CONNECT sent to a server directly
        } else {
            StartConnect(std::move(head));
        }
        return;
    }
    current_ = Request{};
    if (fixed_) {
        current_.originHost = fixed_->host;
        current_.originPort = fixed_->port;
        bool tls = !tlsServerName_.empty();
        if (head.host.empty() && !head.absoluteForm) {
            // An HTTP/1.0 request may name no host; the server it goes to is known, and the
            // program judges the address with that host, as a client naming it would send it.
            head.host = tls ? tlsServerName_ : fixed_->host;
            head.port = fixed_->port;
            head.portNamed = true;
            head.fields.insert(
                0, "Host: " + AuthorityFor(head.host, fixed_->port, tls ? 443 : 80) + "\r\n");
        }
        // The request must name the server its TLS was set up for, port included (a Host
        // without a port names 443 inside TLS).
        const uint16_t namedPort = head.portNamed ? head.port : 443;
        if (tls && (!tls::SameServerName(head.host, tlsServerName_) || namedPort != fixed_->port)) {
            Refuse(421);
            return;
        }
    } else if (!head.absoluteForm) {
        Refuse(400);  // not a proxy request: it names no origin
        return;
    } else {
        current_.originHost = head.host;
        current_.originPort = head.port;
        asio::error_code error;
        auto address = asio::ip::make_address(head.host, error);
        if (!error && proxy_.IsOwnListener({address, head.port})) {
            Refuse(508);
            return;
        }
    }
    current_.head = std::move(head);
    current_.slot = NewSlot(current_.head.closeAfter);
    JudgeAndRoute();
}

void ClientSession::Forward(std::string bytes, bool streamBody) {
    auto origin = OriginFor(current_.originHost, current_.originPort);
    if (origin->Busy()) {
        parked_ = std::move(bytes);
        parkedStreamBody_ = streamBody;
        parkedOrigin_ = origin;
        phase_ = Phase::AwaitOrigin;
        return;
    }
    current_.slot->origin = origin;
    origin->BeginRequest(current_.slot, bytes, current_.head.method, current_.head.upgrade);
    if (streamBody) {
        body_.Start(current_.head.body);
        if (!body_.Done()) {
            bodyOrigin_ = origin;
            phase_ = Phase::BodyToOrigin;
            return;
        }
    }
    AfterRequest();
}

void ClientSession::AfterRequest() {
    bodyOrigin_.reset();
    if (closed_ || phase_ == Phase::Closing) {
        return;
    }
    if (current_.head.upgrade && current_.slot && !current_.slot->answered) {
        phase_ = Phase::AwaitUpgrade;
    } else if (current_.head.closeAfter || (current_.slot && current_.slot->closeAfter)) {
        // The client or the answer (a block page says "Connection: Close") ends the connection
        // after this response: requests pipelined behind it are not sent on.
        phase_ = Phase::Closing;
    } else {
        phase_ = Phase::Head;
    }
}

void ClientSession::StreamBody(size_t available) {
    const char* data = in_.data() + inStart_;
    size_t used = body_.Consume(data, available);
    if (body_.Failed()) {
        RefuseCurrent(400);
        return;
    }
    if (phase_ == Phase::BodyToOrigin) {
        bodyOrigin_->SendBytes(data, used);
    } else if (phase_ == Phase::BodyCollect) {
        if (collected_.size() + used > proxy_.GetLimits().maxCollectedBody) {
            RefuseCurrent(413);
            return;
        }
        collected_.append(data, used);
    }
    inStart_ += used;
    if (!body_.Done()) {
        return;
    }
    if (phase_ == Phase::BodyCollect) {
        DeliverWholeRequest();
    } else {
        AfterRequest();
    }
}

void ClientSession::ReleaseOwner() {
    proxy_.Processes().ConnectionEnded(owner_);
    owner_ = SocketOwner{};
}

void ClientSession::MaybeClose() {
    if (closed_ || !toClient_.Empty()) {
        return;
    }
    bool nothingOwed = responses_.Empty();
    if (responses_.Ended() || (phase_ == Phase::Closing && nothingOwed) ||
        (clientEof_ && nothingOwed && phase_ != Phase::Tunnel)) {
        Close();
    }
}

void ClientSession::Close() {
    if (closed_) {
        return;
    }
    closed_ = true;
    tunnelOpen_ = false;
    client_->Close();
    deadline_.Cancel();
    if (toOrigin_) {
        toOrigin_->Stop();
    }
    splicing_ = false;
    if (h2_) {
        h2_->CloseAll();
    }
    auto origins = std::move(origins_);
    for (auto& entry : origins) {
        entry.second->Close();
    }
    if (bodyOrigin_) {
        bodyOrigin_->Close();
        bodyOrigin_.reset();
    }
    parkedOrigin_.reset();
    responses_.Clear();
    ReleaseOwner();
    proxy_.Unregister(id_);
    if (announced_) {
        program_.Closed(id_);
    }
}

// ---- time-outs ----

void ClientSession::UpdateDeadline() {
    const Limits& limits = proxy_.GetLimits();
    Clock::time_point now = Clock::now();
    switch (phase_) {
        case Phase::Head:
            if (reader_.InHead() || inEnd_ > inStart_) {
                deadline_.Set(reader_.InHead() ? headDeadline_ : now + limits.headerTimeout);
            } else if (responses_.Empty() || !toClient_.Empty()) {
                deadline_.Set(now + limits.idleTimeout);  // idle, or a client that stopped reading
            } else {
                deadline_.Set(Clock::time_point::max());  // the origins time their responses
            }
            break;
        case Phase::BodyToOrigin:
        case Phase::BodyDiscard:
        case Phase::BodyCollect:
        case Phase::Closing:
            deadline_.Set(now + limits.idleTimeout);
            break;
        case Phase::Sniff:
        case Phase::TlsHandshake:
            deadline_.Set(headDeadline_);
            break;
        case Phase::FirstBytes:
            deadline_.Set(firstBytesDeadline_);
            break;
        case Phase::Tunnel:
            deadline_.Set(now + limits.tunnelIdleTimeout);
            break;
        case Phase::AwaitProgram:
            deadline_.Set(now + limits.responseTimeout);  // a program that never posts
            break;
        case Phase::Http2:
            // Quiet without a stream: idle. With streams, their servers are timed.
            deadline_.Set(h2_->OpenStreams() == 0 ? now + limits.idleTimeout
                                                  : Clock::time_point::max());
            break;
        default:
            deadline_.Set(Clock::time_point::max());
            break;
    }
}

void ClientSession::OnTimeout() {
    if (phase_ == Phase::FirstBytes) {
        // Perhaps a server that speaks first (mail, FTP...): connect and see who talks. HTTP
        // that the client sends later is still judged before it goes on.
        ConnectAndSniff();
        return;
    }
    if (phase_ == Phase::Head && (reader_.InHead() || inEnd_ > inStart_)) {
        Refuse(408);  // a head that trickles in (slowloris)
    } else {
        Close();
    }
}

}  // namespace gx::interception
