// The session and the program: the connection's announcement, the program's verdict on each
// request, whole requests handed over, and the objects the program posts back (from any thread,
// through the inbox).
#include "platform/interception/ClientSession.h"
#include "platform/interception/Http2Front.h"
#include "platform/interception/Proxy.h"
#include "platform/text/AsciiText.h"

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

}  // namespace

void ClientSession::Announce(const ConnectionAnnouncement& connection) {
    {
        CallbackScope scope(this);
        announced_ = program_.Connected(id_, connection);
    }
    DrainInbox();
}

void ClientSession::AttachFilter(PF_FilterType type, uint32_t flags) {
    // The proxy filter (500) is how every connection here is carried anyway.
    if (type == FT_HTTP) {
        httpFilter_ = true;
    } else if (type == FT_SSL) {
        tlsFilter_ = true;  // HTTPS is inspected once the root is trusted
    }
}

void ClientSession::PostFromProgram(PF_ObjectType type, std::string wire) {
    {
        std::lock_guard lock(inboxMutex_);
        inbox_.push_back({type, std::move(wire), false});
    }
    PostInboxDrain();
}

void ClientSession::PostRawToClient(std::string bytes) {
    {
        std::lock_guard lock(inboxMutex_);
        inbox_.push_back({OT_NULL, std::move(bytes), true});
    }
    PostInboxDrain();
}

// Posts made inside one of this session's callbacks are taken up when it returns; others wake
// the session's thread.
void ClientSession::PostInboxDrain() {
    if (tCallbackSession != this) {
        asio::post(executor_, [self = shared_from_this()] {
            self->DrainInbox();
            self->ProcessInput();
        });
    }
}

void ClientSession::SetSuspended(bool suspended) {
    suspended_ = suspended;
    if (!suspended) {
        asio::post(executor_, [self = shared_from_this()] { self->ProcessInput(); });
    }
}

// The program's verdict on a head, with what it posted meanwhile taken up.
HeadVerdict ClientSession::AskProgramFor(const std::shared_ptr<ResponseSlot>& slot,
                                         const RequestHead& head) {
    judging_ = slot;
    HeadVerdict verdict;
    {
        CallbackScope scope(this);
        verdict = program_.JudgeHead(id_, head);
    }
    DrainInbox();
    judging_ = nullptr;
    return verdict;
}

// A request on a connection whose server is known (redirected, or in a CONNECT tunnel) goes to
// that server whatever its Host says: one that names another server is judged under both names,
// so that a listed server is not reached by naming a harmless one. Inside inspected HTTPS the
// Host agrees with the TLS server name, which may itself differ from the CONNECT host or the
// original destination: the request is judged under that server too. The copy names it.
std::optional<RequestHead> ClientSession::UnderTheConnectionsServer(const RequestHead& head) const {
    if (!fixed_ || head.host.empty() || tls::SameServerName(head.host, fixed_->host)) {
        return std::nullopt;
    }
    RequestHead renamed = head;
    renamed.host = fixed_->host;
    const uint16_t defaultPort = tlsServerName_.empty() ? 80 : 443;
    std::string hostLine =
        "Host: " + AuthorityFor(fixed_->host, fixed_->port, defaultPort) + "\r\n";
    size_t at = 0;
    while (at < renamed.fields.size() &&
           !ascii::StartsWithNoCase(std::string_view(renamed.fields).substr(at), "host:")) {
        size_t next = renamed.fields.find("\r\n", at);
        at = next == std::string::npos ? renamed.fields.size() : next + 2;
    }
    if (at < renamed.fields.size()) {
        size_t end = renamed.fields.find("\r\n", at);
        renamed.fields.replace(at, end + 2 - at, hostLine);
    } else {
        renamed.fields.insert(0, hostLine);
    }
    return renamed;
}

void ClientSession::JudgeAndRoute() {
    RequestHead& head = current_.head;
    std::string wire = head.line + "\r\n" + head.fields;
    if (!filtered_ || !httpFilter_ || !program_.JudgesRequests()) {
        Forward(std::move(wire), true);
        return;
    }
    HeadVerdict verdict = AskProgram(head);
    if (closed_) {
        return;
    }
    ResponseSlot* slot = current_.slot.get();
    if (verdict == HeadVerdict::Pass && !slot->answered) {
        if (std::optional<RequestHead> renamed = UnderTheConnectionsServer(head)) {
            verdict = AskProgram(*renamed);
            if (closed_) {
                return;
            }
        }
    }
    if (slot->answered || verdict == HeadVerdict::Blocked) {
        if (!slot->answered) {
            // Blocked without an answer: end the connection rather than leave the client waiting.
            FinishSlot(slot, true);
        }
        body_.Start(head.body);
        phase_ = Phase::BodyDiscard;
        return;
    }
    if (verdict == HeadVerdict::Pass) {
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

void ClientSession::DeliverWholeRequest() {
    phase_ = Phase::AwaitProgram;
    judging_ = current_.slot;
    std::string body = std::move(collected_);
    collected_ = std::string();
    {
        CallbackScope scope(this);
        program_.HandWhole(id_, current_.head, body);
    }
    DrainInbox();
    UpdateDeadline();
}

std::optional<std::string> ClientSession::HandWholeFor(const std::shared_ptr<ResponseSlot>& slot,
                                                       const RequestHead& head,
                                                       const std::string& body) {
    std::optional<std::string> posted;
    judging_ = slot;
    postedRequest_ = &posted;
    {
        CallbackScope scope(this);
        program_.HandWhole(id_, head, body);
    }
    DrainInbox();
    postedRequest_ = nullptr;
    judging_ = nullptr;
    return posted;
}

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
        if (h2_) {
            // On HTTP/2 every answer belongs to a stream: raw bytes have none.
            if (item.type == OT_HTTP_RESPONSE && judging_ && !judging_->answered) {
                judging_->answered = true;
                AnswerSlot(judging_.get(), item.wire);
            } else if (item.type == OT_HTTP_REQUEST && postedRequest_ && judging_ &&
                       !judging_->answered) {
                *postedRequest_ = std::move(item.wire);
            }
            continue;
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

}  // namespace gx::interception
