#include "platform/interception/OriginConnection.h"

#include "platform/interception/Proxy.h"
#include "platform/interception/SocketMark.h"

namespace gx::interception {
namespace {

constexpr size_t kReadChunk = 64 * 1024;
constexpr size_t kIdleReadChunk = 16 * 1024;
// A body shorter than this left to relay goes through the buffers: setting up the splice would
// cost more than the copy.
constexpr uint64_t kSpliceFrom = 32 * 1024;
// An HTTP/2 connection to a server that carries no stream is kept this long for the next ones.
constexpr auto kHttp2IdleTimeout = std::chrono::seconds(60);

}  // namespace

std::shared_ptr<OriginConnection> OriginConnection::Create(OriginEvents& session, std::string host,
                                                           uint16_t port, std::string tlsName,
                                                           bool offerHttp2) {
    auto origin = std::make_shared<OriginConnection>(session, std::move(host), port,
                                                     std::move(tlsName), offerHttp2);
    origin->deadline_.SetOwner(origin);
    return origin;
}

SpliceReadiness OriginConnection::SpliceInto() const {
    if (closed_ || !connected_ || !stream_->Plain() || shutdownAfterFlush_) {
        return SpliceReadiness::Never;
    }
    if (out_.writing) {
        return SpliceReadiness::Later;
    }
    return out_.pending.empty() ? SpliceReadiness::Now : SpliceReadiness::Never;
}

bool OriginConnection::Backlogged() const {
    const size_t waiting = out_.Size() + (h2_ ? Http2Buffered() : 0);
    return !closed_ && waiting >= session_.Owner().GetLimits().maxBuffered;
}

void OriginConnection::BeginRequest(std::shared_ptr<ResponseSlot> slot, const std::string& bytes,
                                    const std::string& method, bool upgrade) {
    if (offerHttp2_) {
        TranslateRequest(std::move(slot), bytes, method);  // no protocol switch over HTTP/2
        return;
    }
    WriteRequest(std::move(slot), bytes, method, upgrade);
}

void OriginConnection::WriteRequest(std::shared_ptr<ResponseSlot> slot, const std::string& bytes,
                                    const std::string& method, bool upgrade) {
    slot_ = std::move(slot);
    method_ = method;
    upgradeAsked_ = upgrade;
    reading_state_ = Reading::Head;
    head_.clear();
    headScanFrom_ = 0;
    out_.Append(bytes.data(), bytes.size());
    if (connected_) {
        SetDeadline(Clock::now() + session_.Owner().GetLimits().responseTimeout);
        Flush();
        ReadMore();
    } else {
        Connect();
    }
}

void OriginConnection::Write(const char* data, size_t n) {
    if (closed_ || n == 0) {
        return;
    }
    out_.Append(data, n);
    Flush();
}

void OriginConnection::ConnectForTunnel(std::shared_ptr<ResponseSlot> slot) {
    forTunnel_ = true;
    slot_ = std::move(slot);
    reading_state_ = Reading::Idle;
    Connect();
}

void OriginConnection::StartTunnel(std::shared_ptr<ResponseSlot> slot) {
    slot_ = std::move(slot);
    reading_state_ = Reading::Tunnel;
    SetDeadline(Clock::time_point::max());
    ReadMore();
}

void OriginConnection::ServeRequests() {
    forTunnel_ = false;
    slot_.reset();
    reading_state_ = Reading::Idle;
}

void OriginConnection::ShutdownAfterFlush() {
    shutdownAfterFlush_ = true;
    Flush();
}

void OriginConnection::Connect() {
    if (connecting_ || connected_ || closed_) {
        return;
    }
    connecting_ = true;
    SetDeadline(Clock::now() + session_.Owner().GetLimits().connectTimeout);
    asio::error_code error;
    asio::ip::address address = asio::ip::make_address(host_, error);
    if (!error) {
        // A literal address needs no lookup; still answer from the event loop, never inside the
        // caller.
        auto results = asio::ip::tcp::resolver::results_type::create(
            asio::ip::tcp::endpoint(address, port_), host_, std::to_string(port_));
        asio::post(session_.Executor(), [self = shared_from_this(), owner = session_.KeepAlive(),
                                         results] { self->OnResolved({}, results); });
        return;
    }
    resolver_.async_resolve(
        host_, std::to_string(port_),
        [self = shared_from_this(), owner = session_.KeepAlive()](
            const asio::error_code& error, asio::ip::tcp::resolver::results_type results) {
            self->OnResolved(error, std::move(results));
        });
}

void OriginConnection::OnResolved(const asio::error_code& error,
                                  asio::ip::tcp::resolver::results_type results) {
    if (closed_) {
        return;
    }
    if (error || results.empty()) {
        Fail(502);
        return;
    }
    for (const auto& entry : results) {
        if (session_.Owner().IsOwnListener(entry.endpoint())) {
            Fail(508);  // the request would come straight back to the proxy
            return;
        }
    }
    endpoints_.clear();
    for (const auto& entry : results) {
        endpoints_.push_back(entry.endpoint());
    }
    nextEndpoint_ = 0;
    ConnectNext();
}

// Each address in turn. The socket carries the driver's mark, so that the driver never sends
// the proxy's own connections back to it.
void OriginConnection::ConnectNext() {
    if (nextEndpoint_ >= endpoints_.size()) {
        Fail(502);
        return;
    }
    const asio::ip::tcp::endpoint& endpoint = endpoints_[nextEndpoint_++];
    asio::ip::tcp::socket& socket = stream_->Socket();
    asio::error_code error;
    socket.close(error);
    socket.open(endpoint.protocol(), error);
    if (uint32_t mark = session_.Owner().UpstreamMark();
        !error && mark != 0 && !SetSocketMark(socket.native_handle(), mark)) {
        error = asio::error_code(errno, asio::error::get_system_category());
    }
    if (error) {
        Fail(502);
        return;
    }
    socket.async_connect(endpoint,
                         [self = shared_from_this(), owner = session_.KeepAlive()](
                             const asio::error_code& error) { self->OnConnected(error); });
}

void OriginConnection::OnConnected(const asio::error_code& error) {
    if (closed_) {
        return;
    }
    if (error) {
        ConnectNext();
        return;
    }
    asio::error_code ignored;
    stream_->Socket().set_option(asio::ip::tcp::no_delay(true), ignored);
    if (!tlsName_.empty()) {
        StartTls();
        return;
    }
    Ready();
}

// The server's side of an inspected HTTPS connection: nothing is sent before the server proved
// who it is.
void OriginConnection::StartTls() {
    TlsInterceptor* tls = session_.Owner().Tls();
    auto stream = std::make_unique<TlsClientTransport>(
        std::move(stream_->Socket()), tls->ForServers(), tlsName_, offerHttp2_, &tls->Sessions(),
        SessionKey() + (offerHttp2_ ? "|h2" : ""));
    TlsClientTransport* handshaking = stream.get();
    stream_ = std::move(stream);
    handshaking->Handshake(
        [self = shared_from_this(), owner = session_.KeepAlive(),
         handshaking](const asio::error_code& error) { self->OnTlsHandshake(error, handshaking); });
}

void OriginConnection::OnTlsHandshake(const asio::error_code& error, TlsClientTransport* stream) {
    if (closed_) {
        return;
    }
    if (error) {
        if (!offerHttp2_ && RefusedEveryProtocolOffered(error)) {
            session_.Owner().Tls()->OnlyHttp2().Remember(SessionKey());
            asio::post(session_.Executor(),
                       [self = shared_from_this(), owner = session_.KeepAlive()] {
                           if (!self->closed_) {
                               self->RetryOfferingHttp2();
                           }
                       });
            return;
        }
        std::string problem = stream->CertificateProblem();
        if (problem.empty() && stream->ClientCertificateRequested()) {
            session_.TlsServerCannotBeInspected();
            problem =
                "le site demande un certificat client ; la prochaine connexion lui sera "
                "transmise sans inspection";
        } else if (problem.empty()) {
            problem =
                "la connexion s\xE9"
                "curis\xE9"
                "e avec le site a \xE9"
                "chou\xE9"
                "e";
        }
        failurePage_ = CertificateErrorResponse(tlsName_, problem);
        Fail(502);
        return;
    }
    if (offerHttp2_ && stream->SelectedProtocol() == "h2") {
        StartHttp2();
    }
    Ready();
    if (offerHttp2_) {
        StartQueued();
    }
}

void OriginConnection::Ready() {
    connecting_ = false;
    connected_ = true;
    if (forTunnel_) {
        SetDeadline(Clock::time_point::max());
        ReadMore();
        session_.OriginConnectedForTunnel(this);
        return;
    }
    SetDeadline(Clock::now() + session_.Owner().GetLimits().responseTimeout);
    Flush();
    ReadMore();
}

void OriginConnection::Flush() {
    if (!connected_ || closed_ || out_.writing) {
        return;
    }
    if (out_.pending.empty()) {
        if (shutdownAfterFlush_) {
            stream_->ShutdownSend();
            if (serverEnded_) {
                // Both sides of the tunnel have ended and all is written.
                Close();
                session_.TunnelEnded();
            }
        }
        return;
    }
    out_.inflight.swap(out_.pending);
    out_.pending.clear();
    out_.writing = true;
    stream_->Write(asio::buffer(out_.inflight),
                   [self = shared_from_this(), owner = session_.KeepAlive()](
                       const asio::error_code& error, size_t) {
                       self->out_.writing = false;
                       self->out_.inflight.clear();
                       if (self->closed_) {
                           return;
                       }
                       if (error) {
                           self->OnEnd();
                           return;
                       }
                       self->Flush();
                       if (!self->Backlogged()) {
                           self->session_.OriginDrained(self.get());
                       }
                   });
}

void OriginConnection::ResumeReading() {
    if (h2_) {
        ResumeHttp2();
    }
    ReadMore();
}

void OriginConnection::ReadMore() {
    if (reading_ || consuming_ || closed_ || !connected_ || splicing_) {
        return;
    }
    if (slot_ && !session_.CanTakeMore(slot_.get())) {
        // Resumed when the client has taken what is waiting; the server is not late meanwhile
        // (a client that stopped reading is timed out by its session).
        SetDeadline(Clock::time_point::max());
        paused_ = true;
        return;
    }
    if (paused_) {
        paused_ = false;
        if (reading_state_ == Reading::Head || reading_state_ == Reading::Body) {
            SetDeadline(Clock::now() + session_.Owner().GetLimits().responseTimeout);
        }
    }
    if (TrySplice()) {
        return;
    }
    // An idle connection only listens for its end (or for bytes nobody asked for), or for the
    // response to a request sent meanwhile: a modest buffer does. A response or tunnel that
    // fills it gets a large one.
    bool idle = reading_state_ == Reading::Idle && !forTunnel_;
    size_t wanted =
        idle ? kIdleReadChunk : (lastReadFilled_ ? kReadChunk : std::max(inSize_, kIdleReadChunk));
    if (wanted != inSize_) {
        in_.reset(new char[wanted]);
        inSize_ = wanted;
    }
    reading_ = true;
    stream_->ReadSome(asio::buffer(in_.get(), inSize_),
                      [self = shared_from_this(), owner = session_.KeepAlive()](
                          const asio::error_code& error, size_t n) { self->OnRead(error, n); });
}

// The rest of a long fixed-length body, or the tunnel, goes to the client inside the kernel
// when both sockets are plain TCP and nothing of the client's queue is before it. True when a
// relay runs, or waits for the client's queue to empty (ResumeReading comes then).
bool OriginConnection::TrySplice() {
    if (spliceRefused_ || !slot_ || !stream_->Plain()) {
        return false;
    }
    uint64_t limit = 0;
    if (reading_state_ == Reading::Body) {
        limit = body_.LengthLeft();
        if (limit < kSpliceFrom) {
            return false;
        }
    } else if (reading_state_ == Reading::Tunnel) {
        limit = SpliceRelay::kUnlimited;
    } else {
        return false;
    }
    SpliceReadiness readiness = session_.SpliceToClient(slot_.get());
    if (readiness != SpliceReadiness::Now) {
        return readiness == SpliceReadiness::Later;
    }
    if (!relay_ || !relay_->Joins(stream_->Socket(), session_.ClientSocket())) {
        relay_ = std::make_unique<SpliceRelay>(stream_->Socket(), session_.ClientSocket(),
                                               session_.Owner().GetLimits().maxBuffered);
    }
    splicing_ = true;
    bool started = relay_->Run(
        limit, weak_from_this(),
        [this] {
            if (reading_state_ == Reading::Body) {
                SetDeadline(Clock::now() + session_.Owner().GetLimits().responseTimeout);
            }
            session_.RelayedToClient();
        },
        [this](SpliceRelay::End end) { OnSpliceEnd(end); });
    if (!started) {
        splicing_ = false;
        spliceRefused_ = true;
    }
    return started;
}

void OriginConnection::OnSpliceEnd(SpliceRelay::End end) {
    splicing_ = false;
    if (closed_) {
        return;
    }
    body_.SkipLength(relay_->Read());
    switch (end) {
        case SpliceRelay::End::LimitReached:
            FinishResponse();
            break;
        case SpliceRelay::End::SourceEnded:
            if (reading_state_ == Reading::Tunnel) {
                ServerEndedTunnel();
                return;
            }
            OnEnd();
            return;
        case SpliceRelay::End::Failed:
            OnEnd();
            return;
        case SpliceRelay::End::Refused: {
            // What the pipe holds goes on through the buffers, and so does the rest.
            spliceRefused_ = true;
            std::string held = relay_->TakeHeld();
            WriteBatch batch(session_);
            session_.Deliver(slot_.get(), held.data(), held.size());
            if (reading_state_ == Reading::Body && body_.Done()) {
                FinishResponse();
            }
            break;
        }
    }
    if (!closed_) {
        ReadMore();
    }
}

void OriginConnection::OnRead(const asio::error_code& error, size_t n) {
    reading_ = false;
    lastReadFilled_ = !error && n == inSize_;
    if (closed_) {
        return;
    }
    if (error == asio::error::eof && reading_state_ == Reading::Tunnel) {
        ServerEndedTunnel();
        return;
    }
    if (error) {
        OnEnd();
        return;
    }
    if (h2_) {
        if (!ReceiveHttp2(in_.get(), n)) {
            FailHttp2(502);
            return;
        }
        SetDeadline(Clock::now() +
                    (Busy() ? session_.Owner().GetLimits().responseTimeout : kHttp2IdleTimeout));
        ReadMore();
        return;
    }
    if (reading_state_ != Reading::Idle && reading_state_ != Reading::Tunnel) {
        SetDeadline(Clock::now() + session_.Owner().GetLimits().responseTimeout);
    }
    consuming_ = true;
    {
        // Everything this read produces for the client leaves in one write.
        WriteBatch batch(session_);
        Consume(in_.get(), n);
    }
    consuming_ = false;
    if (!closed_) {
        ReadMore();
    }
}

void OriginConnection::Consume(const char* data, size_t n) {
    while (n > 0 && !closed_) {
        switch (reading_state_) {
            case Reading::Idle:
                if (forTunnel_ && slot_) {
                    session_.OriginSpokeFirst(this);
                    if (reading_state_ == Reading::Tunnel) {
                        continue;
                    }
                }
                Close();  // bytes nobody asked for: this connection cannot be trusted further
                session_.OriginClosed(this);
                return;
            case Reading::Tunnel:
                session_.Deliver(slot_.get(), data, n);
                return;
            case Reading::Head:
                if (!ConsumeHead(data, n)) {
                    return;
                }
                break;
            case Reading::Body: {
                size_t used = body_.Consume(data, n);
                if (body_.Failed()) {
                    session_.Deliver(slot_.get(), data, used);
                    auto slot = slot_;
                    Close();
                    session_.FinishSlot(slot.get(), true);
                    session_.OriginClosed(this);
                    return;
                }
                session_.Deliver(slot_.get(), data, used);
                data += used;
                n -= used;
                if (body_.Done()) {
                    FinishResponse();
                }
                break;
            }
        }
    }
}

// Collects the response head; false while it is incomplete or when the connection ended.
bool OriginConnection::ConsumeHead(const char*& data, size_t& n) {
    size_t before = head_.size();
    size_t maxHead = session_.Owner().GetLimits().maxHeadBytes;
    head_.append(data, std::min(n, maxHead + 4 - std::min(before, maxHead)));
    size_t end = FindHeadEnd(head_, headScanFrom_);
    if (end == std::string::npos) {
        if (head_.size() > maxHead) {
            Fail(502);
            return false;
        }
        headScanFrom_ = head_.size() >= 3 ? head_.size() - 3 : 0;
        data += head_.size() - before;
        n -= head_.size() - before;
        return n > 0;
    }
    size_t used = end - before;
    data += used;
    n -= used;
    response_ = ResponseHead{};
    if (ParseResponseHead(std::string_view(head_).substr(0, end), method_, response_) != 0) {
        Fail(502);
        return false;
    }
    session_.Deliver(slot_.get(), head_.data(), end);
    head_.clear();
    headScanFrom_ = 0;
    if (response_.status == 101 && upgradeAsked_) {
        reading_state_ = Reading::Tunnel;
        SetDeadline(Clock::time_point::max());
        session_.OriginUpgraded(this);
        return !closed_;
    }
    if (response_.status >= 100 && response_.status < 200) {
        return true;  // an interim response; the final one follows
    }
    body_.Start(response_.body);
    reading_state_ = Reading::Body;
    if (body_.Done()) {
        FinishResponse();
    }
    return !closed_;
}

void OriginConnection::FinishResponse() {
    auto slot = std::move(slot_);
    reading_state_ = Reading::Idle;
    SetDeadline(Clock::time_point::max());
    bool closeAfter = response_.closeAfter;
    if (closeAfter) {
        Close();
    }
    session_.FinishSlot(slot.get(), response_.body.kind == BodyKind::UntilClose);
    if (closeAfter) {
        session_.OriginClosed(this);
    } else {
        session_.OriginIdle(this);
    }
}

void OriginConnection::OnEnd() {
    if (closed_) {
        return;
    }
    if (h2_) {
        FailHttp2(502);
        return;
    }
    auto slot = slot_;
    switch (reading_state_) {
        case Reading::Idle:
            Close();
            if (forTunnel_ && slot) {
                session_.OriginFailed(this, slot.get(), 502);
            } else {
                session_.OriginClosed(this);
            }
            return;
        case Reading::Tunnel:
            Close();
            session_.TunnelEnded();
            return;
        case Reading::Head:
            Fail(502);
            return;
        case Reading::Body:
            Close();
            // A response that lasts until the connection ends is complete now; any other is
            // cut short, and only closing the client connection tells the client so.
            session_.FinishSlot(slot.get(), true);
            session_.OriginClosed(this);
            return;
    }
}

// The server ended its side of the tunnel: the client's side ends once it has had everything,
// while what the client still sends goes on to the server until the client ends too.
void OriginConnection::ServerEndedTunnel() {
    serverEnded_ = true;
    if (shutdownAfterFlush_ && !out_.writing && out_.pending.empty()) {
        Close();
        session_.TunnelEnded();
        return;
    }
    session_.ServerEndedTunnel();
}

void OriginConnection::Fail(int status) {
    if (h2_) {
        FailHttp2(status);
        return;
    }
    if (!queued_.empty()) {
        // Nothing was sent: the requests handed over meanwhile fail with the connection.
        auto queued = std::move(queued_);
        queued_.clear();
        Close();
        const std::string answer = failurePage_.empty() ? ErrorResponse(status) : failurePage_;
        for (Queued& request : queued) {
            session_.Deliver(request.slot.get(), answer.data(), answer.size());
            session_.FinishSlot(request.slot.get(), true);
        }
        session_.OriginClosed(this);
        return;
    }
    auto slot = slot_;
    Close();
    session_.OriginFailed(this, slot.get(), status);
}

void OriginConnection::Close() {
    if (closed_) {
        return;
    }
    closed_ = true;
    connected_ = false;
    resolver_.cancel();
    if (relay_) {
        relay_->Stop();
    }
    splicing_ = false;
    stream_->Close();
    deadline_.Cancel();
    slot_.reset();
}

// No connection in time, or a server that stopped answering.
void OriginConnection::OnTimeout() {
    if (closed_) {
        return;
    }
    if (h2_) {
        if (Busy()) {
            FailHttp2(504);
        } else {
            Close();  // idle long enough: the pool lets it go
            session_.OriginClosed(this);
        }
        return;
    }
    auto slot = slot_;
    if (slot && slot->started) {
        Close();
        session_.FinishSlot(slot.get(), true);
        session_.OriginClosed(this);
    } else {
        Fail(504);
    }
}

}  // namespace gx::interception
