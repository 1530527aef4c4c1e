#include "platform/interception/Http2Front.h"

#include <nghttp2/nghttp2.h>

#include <algorithm>

#include "platform/interception/ClientSession.h"
#include "platform/interception/OriginConnection.h"
#include "platform/interception/Proxy.h"
#include "platform/text/AsciiText.h"

namespace gx::interception {
namespace {

// Fields that name an HTTP/1.1 connection's own business, never sent on an HTTP/2 stream (the
// library refuses them already; "te" other than "trailers" too). "te: trailers" means nothing
// to the HTTP/1.1 server behind and is not passed on.
bool SkippedOnTheWay(const std::string& name) {
    return name == "te" || name == "host";
}

}  // namespace

std::string RequestHeadText(const Http2Fields& fields, bool hasBody) {
    std::string method;
    std::string path;
    std::string authority;
    std::string host;
    std::string cookies;
    std::string others;
    bool hasLength = false;
    int pseudo[4] = {0, 0, 0, 0};  // method, path, authority, scheme
    for (const auto& [name, value] : fields) {
        if (!name.empty() && name.front() == ':') {
            if (name == ":method") {
                method = value, ++pseudo[0];
            } else if (name == ":path") {
                path = value, ++pseudo[1];
            } else if (name == ":authority") {
                authority = value, ++pseudo[2];
            } else if (name == ":scheme") {
                ++pseudo[3];
            } else {
                return {};
            }
            continue;
        }
        if (name == "cookie") {
            // Split over several fields in HTTP/2; one field for HTTP/1.1 (RFC 9113, 8.2.3).
            cookies += cookies.empty() ? value : "; " + value;
            continue;
        }
        if (name == "host") {
            host = value;
        }
        if (SkippedOnTheWay(name)) {
            continue;
        }
        hasLength = hasLength || name == "content-length";
        others += name + ": " + value + "\r\n";
    }
    if (pseudo[0] != 1 || pseudo[1] != 1 || pseudo[3] != 1 || pseudo[2] > 1 ||
        method == "CONNECT" || (authority.empty() && host.empty())) {
        return {};
    }
    std::string text = method + " " + path +
                       " HTTP/1.1\r\nHost: " + (authority.empty() ? host : authority) + "\r\n";
    if (!cookies.empty()) {
        text += "cookie: " + cookies + "\r\n";
    }
    text += others;
    if (hasBody && !hasLength) {
        text += "transfer-encoding: chunked\r\n";
    }
    return text + "\r\n";
}

struct Http2Front::Stream {
    int32_t id = 0;
    RequestHead head;
    std::string wire;  // the request head as it goes to the server
    std::string key;   // the server: "host:port"
    std::shared_ptr<ResponseSlot> slot = std::make_shared<ResponseSlot>();
    std::shared_ptr<OriginConnection> origin;
    std::unique_ptr<ResponseToStream> response;
    bool hasBody = false;
    bool chunked = false;  // the body is sent to the server in chunks
    bool requestEnded = false;
    bool forwarded = false;    // on a connection to the server
    bool discardBody = false;  // answered or refused: the rest of the body goes nowhere
    bool collecting = false;   // the whole request goes to the program first
    std::string pendingBody;   // arrived before a connection took the request
    std::string collected;
    size_t unconsumed = 0;  // passed on, not yet given back to the client's window
    bool retried = false;   // sent again once after a server refused it unprocessed
};

// The HTTP/1.1 response of a stream, as HTTP/2 frames on it.
class Http2Front::ResponseToStream : public Http1ResponseReader::Sink {
  public:
    ResponseToStream(Http2Codec& codec, int32_t id, std::string method)
        : codec_(codec), id_(id), reader_(std::move(method)) {}
    bool Feed(const char* data, size_t n) { return reader_.Feed(data, n, *this); }
    bool Finish() {
        reader_.Finish(*this);
        return reader_.Ended();
    }
    bool Started() const { return reader_.HeadSeen(); }

  private:
    void Head(int status, Http2Fields fields, bool withBody) override {
        codec_.SubmitResponse(id_, status, fields, withBody);
    }
    void Body(const char* data, size_t n) override { codec_.AppendBody(id_, data, n); }
    void End(Http2Fields trailers) override { codec_.EndBody(id_, trailers); }

    Http2Codec& codec_;
    int32_t id_;
    Http1ResponseReader reader_;
};

Http2Front::Http2Front(ClientSession& session) : session_(session), codec_(*this) {
    FlushOutput();  // our SETTINGS go first
}

Http2Front::~Http2Front() {
    CloseAll();
}

Proxy& Http2Front::Owner() {
    return session_.Owner();
}
const asio::any_io_executor& Http2Front::Executor() {
    return session_.Executor();
}
std::shared_ptr<void> Http2Front::KeepAlive() {
    return session_.KeepAlive();
}
asio::ip::tcp::socket& Http2Front::ClientSocket() {
    return session_.ClientSocket();
}
void Http2Front::TlsServerCannotBeInspected() {
    session_.TlsServerCannotBeInspected();
}

bool Http2Front::Receive(const char* data, size_t n) {
    WriteBatch batch(*this);
    return codec_.Receive(data, n);
}

void Http2Front::CloseAll() {
    closed_ = true;
    auto origins = std::move(origins_);
    for (auto& [key, list] : origins) {
        for (auto& origin : list) {
            origin->Close();
        }
    }
    waiting_.clear();
}

// ---- requests ----

void Http2Front::OnHead(int32_t id, Http2Fields fields, bool endStream) {
    auto stream = std::make_unique<Stream>();
    stream->id = id;
    stream->hasBody = !endStream;
    stream->requestEnded = endStream;
    Stream& s = *stream;
    streams_[id] = std::move(stream);
    bySlot_[s.slot.get()] = id;
    const std::string text = RequestHeadText(fields, s.hasBody);
    if (text.empty()) {
        codec_.ResetStream(id, NGHTTP2_PROTOCOL_ERROR);
        s.discardBody = true;
        return;
    }
    const int status = ParseRequestHead(text, s.head);
    s.response = std::make_unique<ResponseToStream>(codec_, id, s.head.method);
    if (status != 0) {
        Answer(s, ErrorResponse(status));
        return;
    }
    // The stream must name the server its TLS was set up for, port included.
    const uint16_t namedPort = s.head.portNamed ? s.head.port : 443;
    if (!tls::SameServerName(s.head.host, session_.tlsServerName_) ||
        namedPort != session_.fixed_->port) {
        Answer(s, ErrorResponse(421));
        return;
    }
    s.head.port = session_.fixed_->port;
    s.chunked = s.head.body.kind == BodyKind::Chunked;
    s.wire = s.head.line + "\r\n" + s.head.fields;
    s.key = ascii::Lower(session_.fixed_->host) + ":" + std::to_string(session_.fixed_->port);
    Judge(s);
}

void Http2Front::Judge(Stream& s) {
    if (!session_.filtered_ || !session_.httpFilter_ || !session_.program_.JudgesRequests()) {
        Forward(s);
        return;
    }
    HeadVerdict verdict = session_.AskProgramFor(s.slot, s.head);
    if (!streams_.count(s.id) || session_.closed_) {
        return;
    }
    if (verdict == HeadVerdict::Pass && !s.slot->answered) {
        if (std::optional<RequestHead> renamed = session_.UnderTheConnectionsServer(s.head)) {
            verdict = session_.AskProgramFor(s.slot, *renamed);
            if (!streams_.count(s.id) || session_.closed_) {
                return;
            }
        }
    }
    if (s.slot->answered || verdict == HeadVerdict::Blocked) {
        s.discardBody = true;
        if (!s.slot->answered) {
            codec_.ResetStream(s.id, NGHTTP2_REFUSED_STREAM);  // blocked, and nothing to show
        }
        return;
    }
    if (verdict == HeadVerdict::Pass) {
        Forward(s);
        return;
    }
    s.collecting = true;
    if (s.requestEnded) {
        OnEnd(s.id, {});
    }
}

// A response of the proxy's own or the program's, on the stream alone.
void Http2Front::Answer(Stream& s, const std::string& wire) {
    s.discardBody = true;
    s.slot->answered = true;
    Deliver(s.slot.get(), wire.data(), wire.size());
    FinishSlot(s.slot.get(), false);
}

void Http2Front::OnData(int32_t id, const char* data, size_t n) {
    auto found = streams_.find(id);
    if (found == streams_.end() || found->second->discardBody) {
        codec_.Consumed(id, n);
        return;
    }
    Stream& s = *found->second;
    if (s.collecting) {
        if (s.collected.size() + n > Owner().GetLimits().maxCollectedBody) {
            Answer(s, ErrorResponse(413));
        } else {
            s.collected.append(data, n);
        }
        codec_.Consumed(id, n);
        return;
    }
    if (!s.forwarded) {
        s.pendingBody.append(data, n);  // bounded by the window the client was given
        return;
    }
    SendBody(s, data, n);
}

void Http2Front::SendBody(Stream& s, const char* data, size_t n) {
    if (!s.origin) {
        codec_.Consumed(s.id, n);
        return;
    }
    s.origin->SendBody(s.slot.get(), data, n);
    s.unconsumed += n;
    if (!s.origin->Backlogged()) {
        codec_.Consumed(s.id, s.unconsumed);
        s.unconsumed = 0;
    }
}

void Http2Front::EndBody(Stream& s) {
    if (s.hasBody && s.origin) {
        s.origin->EndBody(s.slot.get());
    }
}

void Http2Front::OnEnd(int32_t id, Http2Fields) {
    auto found = streams_.find(id);
    if (found == streams_.end()) {
        return;
    }
    Stream& s = *found->second;
    s.requestEnded = true;
    if (s.discardBody) {
        return;
    }
    if (s.collecting) {
        s.collecting = false;
        s.discardBody = true;
        std::optional<std::string> posted = session_.HandWholeFor(s.slot, s.head, s.collected);
        s.collected.clear();
        if (!streams_.count(id) || s.slot->answered) {
            return;
        }
        if (!posted) {
            // The program neither answered nor let the request go while it was asked.
            codec_.ResetStream(id, NGHTTP2_REFUSED_STREAM);
            return;
        }
        s.wire = std::move(*posted);  // the whole request as the program let it go
        s.hasBody = false;
        s.chunked = false;
        Forward(s);
        return;
    }
    if (s.forwarded) {
        EndBody(s);
    }
}

void Http2Front::OnStreamClosed(int32_t id, uint32_t) {
    auto found = streams_.find(id);
    if (found == streams_.end()) {
        return;
    }
    Stream& s = *found->second;
    // A request still on its way is taken back on HTTP/2 (its stream reset); on HTTP/1.1 only
    // closing its connection does.
    if (s.origin && s.origin->SpeaksHttp2() && !s.slot->complete) {
        s.origin->CancelStream(s.slot.get());
    } else if (s.origin && s.origin->Busy() && !s.slot->complete) {
        s.origin->Close();
        DropOrigin(s.origin.get());
    }
    for (auto& [key, queue] : waiting_) {
        std::erase(queue, id);
    }
    bySlot_.erase(s.slot.get());
    streams_.erase(found);
}

// ---- the pool of connections to the server ----

void Http2Front::Forward(Stream& s) {
    if (std::shared_ptr<OriginConnection> origin = FreeOrigin(s.key)) {
        StartOnOrigin(s, origin);
    } else {
        waiting_[s.key].push_back(s.id);
    }
}

// A connection to the server that takes this request now: one on HTTP/2 while it has room (all
// the streams share it); else a free one of up to kOriginsPerServer on HTTP/1.1. While the
// first connection is still finding out which protocol the server speaks, requests wait.
std::shared_ptr<OriginConnection> Http2Front::FreeOrigin(const std::string& key) {
    auto& list = origins_[key];
    std::erase_if(list, [](const auto& origin) { return origin->Closed(); });
    bool pending = false;
    bool http2 = false;
    for (auto& origin : list) {
        if (origin->GoingAway()) {
            continue;  // ends with its streams under way; a new connection takes the next
        }
        if (origin->SpeaksHttp2()) {
            http2 = true;
            if (origin->CanTakeRequest()) {
                return origin;
            }
        } else if (origin->ProtocolPending()) {
            pending = true;
        } else if (origin->CanTakeRequest() && StreamOf(origin.get()) == nullptr) {
            return origin;
        }
    }
    if (pending || http2 || list.size() >= kOriginsPerServer || closed_) {
        return nullptr;
    }
    auto origin =
        OriginConnection::Create(*this, session_.fixed_->host, session_.fixed_->port,
                                 session_.tlsServerName_, session_.proxy_.GetLimits().http2);
    list.push_back(origin);
    return origin;
}

void Http2Front::StartOnOrigin(Stream& s, const std::shared_ptr<OriginConnection>& origin) {
    s.origin = origin;
    s.forwarded = true;
    s.slot->origin = origin;
    origin->BeginStream(s.slot, s.wire, s.head.method, s.chunked);
    if (!s.pendingBody.empty()) {
        std::string pending = std::move(s.pendingBody);
        s.pendingBody.clear();
        SendBody(s, pending.data(), pending.size());
    }
    if (s.requestEnded && s.hasBody) {
        EndBody(s);
    }
}

Http2Front::Stream* Http2Front::StreamOf(const ResponseSlot* slot) {
    auto found = bySlot_.find(slot);
    if (found == bySlot_.end()) {
        return nullptr;
    }
    auto stream = streams_.find(found->second);
    return stream == streams_.end() ? nullptr : stream->second.get();
}

// The stream whose request a connection carries (or whose body it still takes).
Http2Front::Stream* Http2Front::StreamOf(OriginConnection* origin) {
    for (auto& [id, stream] : streams_) {
        if (stream->origin.get() == origin && (!stream->slot->complete || !stream->requestEnded)) {
            return stream.get();
        }
    }
    return nullptr;
}

void Http2Front::DropOrigin(OriginConnection* origin) {
    for (auto& [key, list] : origins_) {
        std::erase_if(list, [origin](const auto& kept) { return kept.get() == origin; });
    }
    for (auto& [id, stream] : streams_) {
        if (stream->origin.get() == origin) {
            // The rest of its body has nowhere to go (its answer, a 502, is on its way).
            stream->origin.reset();
            stream->discardBody = stream->discardBody || !stream->requestEnded;
        }
    }
}

// ---- responses ----

void Http2Front::Deliver(ResponseSlot* slot, const char* data, size_t n) {
    Stream* s = StreamOf(slot);
    if (!s) {
        return;
    }
    slot->started = true;
    if (!s->response->Feed(data, n)) {
        codec_.ResetStream(s->id, NGHTTP2_INTERNAL_ERROR);
    }
    FlushOutput();
}

bool Http2Front::CanTakeMore(const ResponseSlot* slot) const {
    auto found = bySlot_.find(slot);
    return found == bySlot_.end() ||
           codec_.Buffered(found->second) < session_.proxy_.GetLimits().maxBuffered;
}

void Http2Front::FinishSlot(ResponseSlot* slot, bool) {
    slot->complete = true;
    if (Stream* s = StreamOf(slot)) {
        if (!s->response->Finish()) {
            codec_.ResetStream(s->id, NGHTTP2_INTERNAL_ERROR);  // cut short
        }
    }
    FlushOutput();
}

void Http2Front::OriginFailed(OriginConnection* origin, ResponseSlot* slot, int status) {
    if (slot && !slot->complete && StreamOf(slot)) {
        if (!slot->started) {
            const std::string answer = origin && !origin->FailurePage().empty()
                                           ? origin->FailurePage()
                                           : ErrorResponse(status);
            Deliver(slot, answer.data(), answer.size());
        }
        FinishSlot(slot, true);
    }
    OriginClosed(origin);
}

void Http2Front::OriginIdle(OriginConnection* origin) {
    if (Stream* s = StreamOf(origin); s && !origin->SpeaksHttp2() && !s->requestEnded) {
        // Answered before its whole body was sent: the connection cannot carry another request.
        s->discardBody = true;
        origin->Close();
        OriginClosed(origin);
        return;
    }
    DispatchWaiting();
}

void Http2Front::OriginReady(OriginConnection*) {
    DispatchWaiting();
}

// A request the server never processed goes again, once, as browsers send it again: on a new
// connection when the old one is going away. One with a body is not, since its body went on
// as it came and is not kept.
bool Http2Front::RetryElsewhere(OriginConnection*, ResponseSlot* slot) {
    Stream* s = StreamOf(slot);
    if (!s || s->retried || s->hasBody || slot->started || slot->complete || closed_) {
        return false;
    }
    s->retried = true;
    s->origin.reset();
    s->forwarded = false;
    waiting_[s->key].push_back(s->id);
    return true;  // it goes out with the others waiting once the pool has room
}

// Requests that waited for a connection go out as far as the pool has room.
void Http2Front::DispatchWaiting() {
    for (auto& [key, queue] : waiting_) {
        while (!queue.empty()) {
            std::shared_ptr<OriginConnection> free = FreeOrigin(key);
            if (!free) {
                break;
            }
            const int32_t id = queue.front();
            queue.pop_front();
            if (auto found = streams_.find(id); found != streams_.end()) {
                StartOnOrigin(*found->second, free);
            }
        }
    }
}

void Http2Front::OriginClosed(OriginConnection* origin) {
    DropOrigin(origin);
    DispatchWaiting();  // streams that waited for this server get a new connection
    FlushOutput();
}

void Http2Front::OriginDrained(OriginConnection* origin) {
    for (auto& [id, stream] : streams_) {
        if (stream->origin.get() == origin && stream->unconsumed > 0) {
            codec_.Consumed(id, stream->unconsumed);
            stream->unconsumed = 0;
        }
    }
    FlushOutput();
}

// ---- the bytes for the client ----

void Http2Front::ReleaseWrites() {
    if (--held_ == 0) {
        FlushOutput();
    }
}

void Http2Front::FlushOutput() {
    if (held_ > 0 || flushing_ || session_.closed_) {
        return;
    }
    // While the client's socket has not taken a good part of what was written, frames wait in
    // the codec (bounded by what each stream may buffer).
    if (session_.toClient_.Size() >= session_.proxy_.GetLimits().maxBuffered) {
        return;
    }
    flushing_ = true;
    std::string out = codec_.TakeOutput();
    flushing_ = false;
    if (!out.empty()) {
        session_.SendToClient(out);
    }
    // Servers paused for a stream whose client had not taken its bytes may go on: each
    // connection once, however many of its streams are under way.
    std::vector<std::shared_ptr<OriginConnection>> resumed;
    for (auto& [id, stream] : streams_) {
        const std::shared_ptr<OriginConnection>& origin = stream->origin;
        if (origin && !stream->slot->complete &&
            std::find(resumed.begin(), resumed.end(), origin) == resumed.end() &&
            codec_.Buffered(id) < session_.proxy_.GetLimits().maxBuffered) {
            resumed.push_back(origin);
        }
    }
    for (const auto& origin : resumed) {
        origin->ResumeReading();
    }
}

}  // namespace gx::interception
