#include "platform/interception/ClientSession.h"

#include <algorithm>
#include <cstring>

#include "platform/interception/HttpText.h"
#include "platform/interception/OriginConnection.h"
#include "platform/interception/ProtocolObjects.h"
#include "platform/interception/Proxy.h"

namespace gx::interception {
namespace {

// The session whose callback is running on this thread: objects it posts meanwhile are taken up
// as soon as the callback returns, in order, before anything else happens on the connection.
thread_local ClientSession* tCallbackSession = nullptr;

class CallbackScope {
  public:
    explicit CallbackScope(ClientSession* session) : previous_(tCallbackSession) {
        tCallbackSession = session;
    }
    ~CallbackScope() { tCallbackSession = previous_; }
    CallbackScope(const CallbackScope&) = delete;
    CallbackScope& operator=(const CallbackScope&) = delete;

  private:
    ClientSession* previous_;
};

constexpr size_t kReadChunk = 64 * 1024;
// An idle keep-alive connection holds this much; the buffer grows for long heads and busy
// transfers (up to the head limit plus some, at least kReadChunk).
constexpr size_t kInitialReadBuffer = 16 * 1024;
constexpr size_t kMaxOriginsPerClient = 32;
constexpr size_t kMaxOwedResponses = 64;  // pipelined requests read ahead of their responses
constexpr char kConnectEstablished[] = "HTTP/1.1 200 Connection established\r\n\r\n";

void FillSockaddr(const asio::ip::tcp::endpoint& endpoint, uint8_t* out, size_t size) {
    std::memcpy(out, endpoint.data(), std::min<size_t>(endpoint.size(), size));
}

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

// Do the first bytes of a connection start like an HTTP request line: a method, a space and
// a request target ("/...", "*", "http://...", or host:port after CONNECT)? Other protocols
// with a word and a space up front (an SSH banner, for one) are not taken for HTTP. Empty lines
// before the request line and a run of blanks before the target are what servers accept too:
// the bytes are taken for HTTP (and judged, or refused) rather than relayed unjudged. nullopt:
// too few bytes to tell.
std::optional<bool> LooksLikeHttp(const char* data, size_t n) {
    constexpr size_t kLongestMethod = 24;
    size_t start = 0;
    while (start < n && (data[start] == '\r' || data[start] == '\n')) {
        ++start;
    }
    if (start == n) {
        return std::nullopt;
    }
    data += start;
    n -= start;
    // Servers may split the request line on any blank, not only on a space.
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; };
    size_t space = 0;
    while (space < n && space <= kLongestMethod && !isBlank(data[space])) {
        if (!IsTokenChar(data[space])) {
            return false;
        }
        ++space;
    }
    if (space >= n) {
        return n > kLongestMethod ? std::optional<bool>(false) : std::nullopt;
    }
    if (space == 0 || space > kLongestMethod) {
        return false;
    }
    std::string_view method(data, space);
    size_t targetStart = space;
    while (targetStart < n && isBlank(data[targetStart])) {
        ++targetStart;
    }
    std::string_view target(data + targetStart, n - targetStart);
    if (target.empty()) {
        return std::nullopt;
    }
    if (method == "CONNECT" || target.front() == '/' || target.front() == '*') {
        return true;
    }
    constexpr std::string_view kScheme = "http";
    size_t compared = std::min(target.size(), kScheme.size());
    if (!StartsWithNoCase(target.substr(0, compared), kScheme.substr(0, compared))) {
        return false;
    }
    return target.size() >= kScheme.size() ? std::optional<bool>(true) : std::nullopt;
}

// "host" or "host:port" as a Host field names a server; IPv6 addresses in brackets.
std::string AuthorityOf(const std::string& host, uint16_t port) {
    std::string authority = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    return port == 80 ? authority : authority + ":" + std::to_string(port);
}

std::string OriginKey(const std::string& host, uint16_t port) {
    std::string key;
    for (char c : host) {
        key += LowerAscii(c);
    }
    return key + ":" + std::to_string(port);
}

}  // namespace

ClientSession::ClientSession(Proxy& proxy, asio::ip::tcp::socket socket,
                             std::optional<FixedOrigin> fixed, bool transparent)
    : proxy_(proxy),
      client_(std::move(socket)),
      executor_(client_.get_executor()),
      fixed_(std::move(fixed)),
      transparent_(transparent),
      events_(proxy.Events()),
      in_(kInitialReadBuffer),
      timer_(executor_) {}

ClientSession::~ClientSession() = default;

void ClientSession::Abort() {
    announced_ = false;
    Close();
}

void ClientSession::Start() {
    id_ = proxy_.Register(shared_from_this());
    asio::error_code error;
    auto peer = client_.remote_endpoint(error);
    auto local = client_.local_endpoint(error);
    if (error) {
        Close();
        return;
    }
    client_.set_option(asio::ip::tcp::no_delay(true), error);

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
    std::optional<uint32_t> flag = proxy_.Rules().Decide(facts);
    filtered_ = flag && (*flag & NF_FILTER) != 0;
    if (filtered_ && events_.tcpConnected) {
        NF_TCP_CONN_INFO info{};
        info.filteringFlag = *flag;
        info.processId = facts.processId;
        info.direction = NF_D_OUT;
        info.ip_family = facts.family;
        FillSockaddr(peer, info.localAddress, sizeof info.localAddress);
        if (facts.remoteKnown) {
            FillSockaddr(remote, info.remoteAddress, sizeof info.remoteAddress);
        }
        announced_ = true;
        CallbackScope scope(this);
        events_.tcpConnected(id_, &info);
    }
    DrainInbox();
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

void ClientSession::AttachFilter(PF_FilterType type, uint32_t flags) {
    // TLS (100) and proxy (500) filters are accepted; TLS connections are relayed untouched.
    if (type == FT_HTTP) {
        httpFilter_ = true;
    }
}

void ClientSession::PostFromProgram(PF_ObjectType type, std::string wire) {
    {
        std::lock_guard lock(inboxMutex_);
        inbox_.push_back({type, std::move(wire), false});
    }
    if (tCallbackSession != this) {
        asio::post(executor_, [self = shared_from_this()] {
            self->DrainInbox();
            self->ProcessInput();
        });
    }
}

void ClientSession::PostRawToClient(std::string bytes) {
    {
        std::lock_guard lock(inboxMutex_);
        inbox_.push_back({OT_NULL, std::move(bytes), true});
    }
    if (tCallbackSession != this) {
        asio::post(executor_, [self = shared_from_this()] {
            self->DrainInbox();
            self->ProcessInput();
        });
    }
}

bool ClientSession::PostRawToOrigin(std::string bytes) {
    asio::post(executor_, [self = shared_from_this(), bytes = std::move(bytes)] {
        if (self->phase_ == Phase::Tunnel && self->bodyOrigin_) {
            self->bodyOrigin_->SendBytes(bytes.data(), bytes.size());
        }
    });
    return true;
}

void ClientSession::SetSuspended(bool suspended) {
    suspended_ = suspended;
    if (!suspended) {
        asio::post(executor_, [self = shared_from_this()] { self->ProcessInput(); });
    }
}

// ---- reading and cutting the client's bytes ----

void ClientSession::ReadClient() {
    if (reading_ || closed_ || clientEof_ || suspended_) {
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
    client_.async_read_some(asio::buffer(in_.data() + inEnd_, in_.size() - inEnd_),
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
        if (phase_ == Phase::Tunnel && bodyOrigin_) {
            bodyOrigin_->ShutdownAfterFlush();
            return;
        }
        bool midRequest = inEnd_ > inStart_ || headStarted_ || phase_ == Phase::BodyToOrigin ||
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
                if (slots_.size() >= kMaxOwedResponses) {
                    pausedForResponses_ = true;  // resumed by AdvanceSlots
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
            case Phase::Tunnel:
                if (available > 0) {
                    if (bodyOrigin_->Backlogged()) {
                        return;
                    }
                    bodyOrigin_->SendBytes(in_.data() + inStart_, available);
                    inStart_ = inEnd_;
                }
                ReadClient();
                return;
            default:
                return;  // waiting for the program, an origin or the end
        }
    }
}

bool ClientSession::TakeHead() {
    // Empty lines between requests are tolerated.
    while (inEnd_ - inStart_ >= 2 && !headStarted_ && in_[inStart_] == '\r' &&
           in_[inStart_ + 1] == '\n') {
        inStart_ += 2;
    }
    size_t available = inEnd_ - inStart_;
    if (available == 0) {
        if (clientEof_) {
            MaybeClose();
        }
        return false;
    }
    const Limits& limits = proxy_.GetLimits();
    if (!headStarted_) {
        headStarted_ = true;
        headScanFrom_ = 0;
        headDeadline_ = Clock::now() + limits.headerTimeout;
    }
    std::string_view data(in_.data() + inStart_, available);
    size_t end = FindHeadEnd(data, headScanFrom_);
    if (end == std::string_view::npos) {
        if (available > limits.maxHeadBytes) {
            Refuse(431);
        } else {
            headScanFrom_ = available >= 3 ? available - 3 : 0;
        }
        return false;
    }
    headStarted_ = false;
    if (end > limits.maxHeadBytes) {
        Refuse(431);
        return false;
    }
    RequestHead head;
    int status = ParseRequestHead(data.substr(0, end), head);
    inStart_ += end;
    if (status != 0) {
        Refuse(status);
        return false;
    }
    HandleRequest(std::move(head));
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
        if (head.host.empty() && !head.absoluteForm) {
            // An HTTP/1.0 request may name no host; the server it goes to is known, and the
            // program judges the address with that host, as a client naming it would send it.
            head.fields.insert(0, "Host: " + AuthorityOf(fixed_->host, fixed_->port) + "\r\n");
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

void ClientSession::JudgeAndRoute() {
    RequestHead& head = current_.head;
    std::string wire = head.line + "\r\n" + head.fields;
    bool judged = filtered_ && httpFilter_ && (events_.dataPartAvailable || events_.dataAvailable);
    if (!judged) {
        Forward(std::move(wire), true);
        return;
    }
    PF_DATA_PART_CHECK_RESULT result = DPCR_FILTER;
    if (events_.dataPartAvailable) {
        judging_ = current_.slot;
        PFObject* object = NewRequestObject(head.line + "\r\n", head.fields, {});
        {
            CallbackScope scope(this);
            // The program owns the object from here and frees it.
            result = events_.dataPartAvailable(id_, object);
        }
        DrainInbox();
        judging_ = nullptr;
        if (closed_) {
            return;
        }
    }
    ResponseSlot* slot = current_.slot.get();
    if (slot->answered || result == DPCR_BLOCK) {
        if (!slot->answered) {
            // Blocked without an answer: end the connection rather than leave the client waiting.
            FinishSlot(slot, true);
        }
        body_.Start(head.body);
        phase_ = Phase::BodyDiscard;
        return;
    }
    if (result == DPCR_BYPASS || !events_.dataAvailable) {
        Forward(std::move(wire), true);
        return;
    }
    collected_.clear();
    body_.Start(head.body);
    phase_ = Phase::BodyCollect;
    if (body_.Done()) {
        DeliverWholeRequest();
    }
}

std::shared_ptr<OriginConnection> ClientSession::OriginFor(const std::string& host, uint16_t port) {
    std::string key = OriginKey(host, port);
    auto found = origins_.find(key);
    if (found != origins_.end() && !found->second->Closed()) {
        return found->second;
    }
    if (origins_.size() >= kMaxOriginsPerClient) {
        for (auto it = origins_.begin(); it != origins_.end(); ++it) {
            if (!it->second->Busy()) {
                it->second->Close();
                origins_.erase(it);
                break;
            }
        }
    }
    auto origin = std::make_shared<OriginConnection>(*this, host, port);
    origins_[key] = origin;
    return origin;
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

void ClientSession::DeliverWholeRequest() {
    phase_ = Phase::AwaitProgram;
    judging_ = current_.slot;
    PFObject* object =
        NewRequestObject(current_.head.line + "\r\n", current_.head.fields, collected_);
    collected_.clear();
    collected_.shrink_to_fit();
    {
        CallbackScope scope(this);
        events_.dataAvailable(id_, object);
    }
    DrainInbox();
    UpdateDeadline();
}

// ---- the program's posts ----

void ClientSession::DrainInbox() {
    std::vector<Posted> items;
    {
        std::lock_guard lock(inboxMutex_);
        items.swap(inbox_);
    }
    for (Posted& item : items) {
        if (closed_) {
            return;
        }
        if (item.raw) {
            auto slot = NewSlot(false);
            Deliver(slot.get(), item.wire.data(), item.wire.size());
            FinishSlot(slot.get(), false);
        } else if (item.type == OT_HTTP_RESPONSE) {
            if (judging_ && !judging_->answered) {
                judging_->answered = true;
                AnswerSlot(judging_.get(), item.wire);
            } else {
                auto slot = NewSlot(false);
                slot->answered = true;
                AnswerSlot(slot.get(), item.wire);
            }
        } else if (item.type == OT_HTTP_REQUEST && phase_ == Phase::AwaitProgram && judging_ &&
                   !judging_->answered) {
            // The program lets the request travel. A request it already answered never does.
            judging_ = nullptr;
            Forward(std::move(item.wire), false);
        }
    }
    if (phase_ == Phase::AwaitProgram && judging_ && judging_->answered) {
        judging_ = nullptr;
        AfterRequest();
    }
}

// Exactly the announced body goes on the wire: the program's page may be padded with zeros.
void ClientSession::AnswerSlot(ResponseSlot* slot, const std::string& wire) {
    size_t headEnd = FindHeadEnd(wire);
    ResponseHead parsed;
    bool closeAfter = true;
    size_t length = wire.size();
    if (headEnd != std::string::npos &&
        ParseResponseHead(std::string_view(wire).substr(0, headEnd), "GET", parsed) == 0) {
        closeAfter = parsed.closeAfter;
        size_t bodySize = wire.size() - headEnd;
        if (parsed.body.kind == BodyKind::Length) {
            if (parsed.body.length <= bodySize) {
                length = headEnd + parsed.body.length;
            } else {
                closeAfter = true;  // shorter than announced: only closing ends it
            }
        } else if (parsed.body.kind == BodyKind::None) {
            length = headEnd;
        }
    }
    Deliver(slot, wire.data(), length);
    FinishSlot(slot, closeAfter);
}

// ---- CONNECT ----

void ClientSession::StartConnect(RequestHead head) {
    asio::error_code error;
    auto address = asio::ip::make_address(head.host, error);
    if (!error && proxy_.IsOwnListener({address, head.port})) {
        Refuse(508);
        return;
    }
    current_ = Request{};
    current_.head = std::move(head);
    current_.originHost = current_.head.host;
    current_.originPort = current_.head.port;
    current_.slot = NewSlot(false);
    auto origin = OriginFor(current_.originHost, current_.originPort);
    current_.slot->origin = origin;
    bodyOrigin_ = origin;
    phase_ = Phase::AwaitConnect;
    origin->ConnectForTunnel(current_.slot);
}

void ClientSession::OriginConnectedForTunnel(OriginConnection* origin) {
    if (phase_ != Phase::AwaitConnect || bodyOrigin_.get() != origin) {
        return;
    }
    if (rawRelay_) {
        phase_ = Phase::Tunnel;
        bodyOrigin_->StartTunnel(current_.slot);
        ProcessInput();
        return;
    }
    if (transparent_) {
        phase_ = Phase::Sniff;  // nothing to answer: the client believes it talks to the server
        ProcessInput();
        return;
    }
    Deliver(current_.slot.get(), kConnectEstablished, sizeof kConnectEstablished - 1);
    phase_ = Phase::Sniff;
    headDeadline_ = Clock::now() + proxy_.GetLimits().headerTimeout;
    ProcessInput();
}

// Plain HTTP inside a tunnel is filtered like any other: a CONNECT must not be a way around
// the filter. Anything else (TLS above all) is relayed.
void ClientSession::DecideSniff() {
    const char* data = in_.data() + inStart_;
    size_t available = inEnd_ - inStart_;
    std::optional<bool> http = LooksLikeHttp(data, available);
    if (!http) {
        return;
    }
    constexpr std::string_view kConnect = "CONNECT ";
    bool connect =
        available >= kConnect.size() && std::string_view(data, kConnect.size()) == kConnect;
    if (*http && !(transparent_ && connect)) {
        fixed_ = FixedOrigin{current_.originHost, current_.originPort};
        bodyOrigin_->ServeRequests();
        bodyOrigin_.reset();
        FinishSlot(current_.slot.get(), false);
        phase_ = Phase::Head;
    } else {
        phase_ = Phase::Tunnel;
        bodyOrigin_->StartTunnel(current_.slot);
    }
}

// A redirected connection that starts like an HTTP request goes to the filter; anything else
// (TLS above all, or a CONNECT meant for a proxy further on) is relayed to its destination.
void ClientSession::DecideFirstBytes() {
    const char* data = in_.data() + inStart_;
    size_t available = inEnd_ - inStart_;
    std::optional<bool> http = LooksLikeHttp(data, available);
    if (!http) {
        return;
    }
    constexpr std::string_view kConnect = "CONNECT ";
    bool connect =
        available >= kConnect.size() && std::string_view(data, kConnect.size()) == kConnect;
    if (*http && !connect) {
        phase_ = Phase::Head;
    } else {
        StartRawRelay();
    }
}

void ClientSession::StartRawRelay() {
    rawRelay_ = true;
    current_ = Request{};
    current_.originHost = fixed_->host;
    current_.originPort = fixed_->port;
    current_.slot = NewSlot(false);
    auto origin = OriginFor(current_.originHost, current_.originPort);
    current_.slot->origin = origin;
    bodyOrigin_ = origin;
    phase_ = Phase::AwaitConnect;
    origin->ConnectForTunnel(current_.slot);
}

void ClientSession::ConnectAndSniff() {
    current_ = Request{};
    current_.originHost = fixed_->host;
    current_.originPort = fixed_->port;
    current_.slot = NewSlot(false);
    auto origin = OriginFor(current_.originHost, current_.originPort);
    current_.slot->origin = origin;
    bodyOrigin_ = origin;
    phase_ = Phase::AwaitConnect;
    headDeadline_ = Clock::now() + proxy_.GetLimits().headerTimeout;
    origin->ConnectForTunnel(current_.slot);
}

void ClientSession::OriginSpokeFirst(OriginConnection* origin) {
    // A server that speaks first (mail, FTP...) through the tunnel: relay both ways.
    if (phase_ == Phase::Sniff && bodyOrigin_.get() == origin) {
        phase_ = Phase::Tunnel;
        bodyOrigin_->StartTunnel(current_.slot);
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
    ProcessInput();
}

void ClientSession::TunnelEnded() {
    phase_ = Phase::Closing;
    closeAfterFlush_ = true;
    MaybeClose();
}

// ---- origins report back ----

void ClientSession::OriginFailed(OriginConnection* origin, ResponseSlot* slot, int status) {
    bool relayed =
        phase_ == Phase::AwaitConnect || phase_ == Phase::Sniff || phase_ == Phase::Tunnel;
    if (rawRelay_ || (transparent_ && relayed)) {
        Close();  // the client expects no HTTP answer from us on a relayed connection
        return;
    }
    if (slot && !slot->complete) {
        if (!slot->started) {
            std::string answer = ErrorResponse(status);
            Deliver(slot, answer.data(), answer.size());
        }
        FinishSlot(slot, true);
    }
    bool carriesClientBytes = bodyOrigin_.get() == origin;
    OriginClosed(origin);
    if (carriesClientBytes) {
        bodyOrigin_.reset();
        phase_ = Phase::Closing;  // the rest of this request, or the tunnel, has nowhere to go
    }
    MaybeClose();
}

void ClientSession::OriginIdle(OriginConnection* origin) {
    if (phase_ == Phase::AwaitOrigin && parkedOrigin_.get() == origin) {
        auto bytes = std::move(parked_);
        parkedOrigin_.reset();
        phase_ = Phase::Head;
        Forward(std::move(bytes), parkedStreamBody_);
        ProcessInput();
    } else if (phase_ == Phase::AwaitUpgrade && current_.slot &&
               current_.slot->origin.lock().get() == origin) {
        phase_ = current_.head.closeAfter ? Phase::Closing : Phase::Head;  // upgrade declined
        ProcessInput();
    }
}

void ClientSession::OriginClosed(OriginConnection* origin) {
    for (auto it = origins_.begin(); it != origins_.end(); ++it) {
        if (it->second.get() == origin) {
            origins_.erase(it);
            break;
        }
    }
    if (phase_ == Phase::AwaitUpgrade && current_.slot &&
        current_.slot->origin.lock().get() == origin) {
        phase_ = current_.head.closeAfter ? Phase::Closing : Phase::Head;  // upgrade declined
        ProcessInput();
        return;
    }
    if (phase_ == Phase::AwaitOrigin && parkedOrigin_.get() == origin) {
        auto bytes = std::move(parked_);
        parkedOrigin_.reset();
        phase_ = Phase::Head;
        Forward(std::move(bytes), parkedStreamBody_);
        ProcessInput();
    }
}

void ClientSession::OriginDrained(OriginConnection* origin) {
    if ((phase_ == Phase::BodyToOrigin || phase_ == Phase::Tunnel) && bodyOrigin_.get() == origin) {
        ProcessInput();
    }
}

// ---- responses to the client, in order ----

std::shared_ptr<ResponseSlot> ClientSession::NewSlot(bool closeAfter) {
    auto slot = std::make_shared<ResponseSlot>();
    slot->closeAfter = closeAfter;
    slots_.push_back(slot);
    return slot;
}

void ClientSession::Deliver(ResponseSlot* slot, const char* data, size_t n) {
    if (closed_ || n == 0) {
        return;
    }
    slot->started = true;
    if (!slots_.empty() && slots_.front().get() == slot) {
        toClient_.Append(data, n);
        FlushClient();
    } else {
        slot->held.insert(slot->held.end(), data, data + n);
    }
}

bool ClientSession::CanTakeMore(const ResponseSlot* slot) const {
    size_t limit = proxy_.GetLimits().maxBuffered;
    if (!slots_.empty() && slots_.front().get() == slot) {
        return toClient_.Size() < limit;
    }
    return slot->held.size() < limit;
}

void ClientSession::FinishSlot(ResponseSlot* slot, bool closeAfter) {
    slot->complete = true;
    slot->closeAfter = slot->closeAfter || closeAfter;
    AdvanceSlots();
}

void ClientSession::AdvanceSlots() {
    while (!slots_.empty() && slots_.front()->complete && !closeAfterFlush_) {
        bool close = slots_.front()->closeAfter;
        slots_.pop_front();
        if (close) {
            // Nothing after this response reaches the client; what is still open is abandoned.
            closeAfterFlush_ = true;
            phase_ = Phase::Closing;
            slots_.clear();
            break;
        }
        if (!slots_.empty()) {
            ResponseSlot& next = *slots_.front();
            toClient_.Append(next.held.data(), next.held.size());
            std::vector<char>().swap(next.held);
            if (auto origin = next.origin.lock()) {
                origin->ResumeReading();
            }
        }
    }
    FlushClient();
    MaybeClose();
    if (pausedForResponses_ && slots_.size() < kMaxOwedResponses && !closed_) {
        pausedForResponses_ = false;
        asio::post(executor_, [self = shared_from_this()] { self->ProcessInput(); });
    }
}

void ClientSession::FlushClient() {
    if (closed_ || toClient_.writing || toClient_.pending.empty() || flushHeld_ > 0) {
        return;
    }
    toClient_.inflight.swap(toClient_.pending);
    toClient_.pending.clear();
    toClient_.writing = true;
    asio::async_write(client_, asio::buffer(toClient_.inflight),
                      [self = shared_from_this()](const asio::error_code& error, size_t) {
                          self->toClient_.writing = false;
                          self->toClient_.inflight.clear();
                          if (self->closed_) {
                              return;
                          }
                          if (error) {
                              self->Close();
                              return;
                          }
                          self->FlushClient();
                          if (!self->slots_.empty()) {
                              if (auto origin = self->slots_.front()->origin.lock()) {
                                  origin->ResumeReading();
                              }
                          }
                          self->UpdateDeadline();
                          self->MaybeClose();
                      });
}

void ClientSession::Refuse(int status) {
    auto slot = NewSlot(true);
    std::string answer = ErrorResponse(status);
    phase_ = Phase::Closing;
    Deliver(slot.get(), answer.data(), answer.size());
    FinishSlot(slot.get(), true);
    UpdateDeadline();
}

// The request being read cannot go on: its own slot carries the refusal, unless a response
// to it has begun already, and its origin connection is given up.
void ClientSession::RefuseCurrent(int status) {
    ResponseSlot* slot = current_.slot.get();
    if (!slot || slot->complete) {
        Refuse(status);
        return;
    }
    phase_ = Phase::Closing;
    if (auto origin = slot->origin.lock()) {
        origin->Close();
        OriginClosed(origin.get());
    }
    bodyOrigin_.reset();
    if (!slot->started) {
        std::string answer = ErrorResponse(status);
        Deliver(slot, answer.data(), answer.size());
    }
    FinishSlot(slot, true);
    UpdateDeadline();
}

void ClientSession::ReleaseOwner() {
    proxy_.Processes().ConnectionEnded(owner_);
    owner_ = SocketOwner{};
}

void ClientSession::MaybeClose() {
    if (closed_ || !toClient_.Empty()) {
        return;
    }
    bool nothingOwed = slots_.empty();
    if (closeAfterFlush_ || (phase_ == Phase::Closing && nothingOwed) ||
        (clientEof_ && nothingOwed && phase_ != Phase::Tunnel)) {
        Close();
    }
}

void ClientSession::Close() {
    if (closed_) {
        return;
    }
    closed_ = true;
    asio::error_code ignored;
    client_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    client_.close(ignored);
    timer_.cancel();
    auto origins = std::move(origins_);
    for (auto& entry : origins) {
        entry.second->Close();
    }
    if (bodyOrigin_) {
        bodyOrigin_->Close();
        bodyOrigin_.reset();
    }
    parkedOrigin_.reset();
    slots_.clear();
    ReleaseOwner();
    proxy_.Unregister(id_);
    if (announced_ && events_.tcpClosed) {
        NF_TCP_CONN_INFO info{};
        info.direction = NF_D_OUT;
        events_.tcpClosed(id_, &info);
    }
}

// ---- time-outs ----

void ClientSession::UpdateDeadline() {
    const Limits& limits = proxy_.GetLimits();
    Clock::time_point now = Clock::now();
    switch (phase_) {
        case Phase::Head:
            if (headStarted_ || inEnd_ > inStart_) {
                SetDeadline(headStarted_ ? headDeadline_ : now + limits.headerTimeout);
            } else if (slots_.empty() || !toClient_.Empty()) {
                SetDeadline(now + limits.idleTimeout);  // idle, or a client that stopped reading
            } else {
                SetDeadline(Clock::time_point::max());  // the origins time their responses
            }
            break;
        case Phase::BodyToOrigin:
        case Phase::BodyDiscard:
        case Phase::BodyCollect:
        case Phase::Closing:
            SetDeadline(now + limits.idleTimeout);
            break;
        case Phase::Sniff:
            SetDeadline(headDeadline_);
            break;
        case Phase::FirstBytes:
            SetDeadline(firstBytesDeadline_);
            break;
        case Phase::Tunnel:
            SetDeadline(now + limits.tunnelIdleTimeout);
            break;
        case Phase::AwaitProgram:
            SetDeadline(now + limits.responseTimeout);  // a program that never posts
            break;
        default:
            SetDeadline(Clock::time_point::max());
            break;
    }
}

void ClientSession::SetDeadline(Clock::time_point when) {
    deadline_ = when;
    if (when != Clock::time_point::max() && (!timerArmed_ || when < timerAt_)) {
        ArmTimer(when);
    }
}

void ClientSession::ArmTimer(Clock::time_point when) {
    timerAt_ = when;
    timerArmed_ = true;
    uint64_t generation = ++timerGeneration_;
    timer_.expires_at(when);
    timer_.async_wait([self = shared_from_this(), generation](const asio::error_code&) {
        if (generation != self->timerGeneration_ || self->closed_) {
            return;
        }
        self->timerArmed_ = false;
        if (self->deadline_ == Clock::time_point::max()) {
            return;
        }
        if (Clock::now() >= self->deadline_) {
            self->OnTimeout();
        } else {
            self->ArmTimer(self->deadline_);
        }
    });
}

void ClientSession::OnTimeout() {
    if (phase_ == Phase::FirstBytes) {
        // Perhaps a server that speaks first (mail, FTP...): connect and see who talks. HTTP
        // that the client sends later is still judged before it goes on.
        ConnectAndSniff();
        return;
    }
    if (phase_ == Phase::Head && (headStarted_ || inEnd_ > inStart_)) {
        Refuse(408);  // a head that trickles in (slowloris)
    } else {
        Close();
    }
}

}  // namespace gx::interception
