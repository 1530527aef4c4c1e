// An origin connection whose server chose HTTP/2: many requests at once, one stream each. The
// client side hands requests over as HTTP/1.1 heads (the same it would send on HTTP/1.1) and
// gets each response back as an HTTP/1.1 response: a head, a body in chunks when the server
// gave no length, trailer fields in the last chunk. Nothing of a message is lost on the way.
#include <nghttp2/nghttp2.h>

#include "platform/interception/Http1BodyReader.h"
#include "platform/interception/Http1ResponseReader.h"
#include "platform/interception/Http2Codec.h"
#include "platform/interception/OriginConnection.h"
#include "platform/interception/Proxy.h"
#include "platform/text/Hex.h"

namespace gx::interception {
namespace {

std::string ChunkSize(size_t n) {
    return LowerHexNumber(n) + "\r\n";
}

bool StatusHasBody(const std::string& status, const std::string& method) {
    return method != "HEAD" && status != "204" && status != "304";
}

}  // namespace

class OriginConnection::Http2Side : public Http2Codec::Events {
  public:
    explicit Http2Side(OriginConnection& origin)
        : origin_(origin), codec_(*this, Http2Codec::Role::Client) {}

    bool Submit(const std::shared_ptr<ResponseSlot>& slot, const std::string& head,
                const std::string& method) {
        RequestHead parsed;
        if (ParseRequestHead(head, parsed) != 0) {
            return false;
        }
        Http2Fields fields = {{":method", parsed.method},
                              {":scheme", "https"},
                              {":authority", AuthorityFor(parsed.host, parsed.port, 443)},
                              {":path", parsed.target}};
        Http2Fields carried;
        ReadFieldBlock(parsed.fields, carried);
        carried = ForHttp2(carried);
        fields.insert(fields.end(), carried.begin(), carried.end());
        const bool withBody = parsed.body.kind == BodyKind::Chunked ||
                              (parsed.body.kind == BodyKind::Length && parsed.body.length > 0);
        const int32_t stream = codec_.SubmitRequest(fields, withBody);
        if (stream < 0) {
            return false;
        }
        streams_[stream] = Up{slot, method};
        bySlot_[slot.get()] = stream;
        Write();
        return true;
    }
    void Body(const ResponseSlot* slot, const char* data, size_t n) {
        if (auto found = bySlot_.find(slot); found != bySlot_.end()) {
            codec_.AppendBody(found->second, data, n);
            Write();
        }
    }
    void EndBody(const ResponseSlot* slot) {
        if (auto found = bySlot_.find(slot); found != bySlot_.end()) {
            codec_.EndBody(found->second);
            Write();
        }
    }
    void Cancel(const ResponseSlot* slot) {
        if (auto found = bySlot_.find(slot); found != bySlot_.end()) {
            codec_.ResetStream(found->second, NGHTTP2_CANCEL);
            streams_.erase(found->second);
            bySlot_.erase(found);
            Write();
        }
    }
    bool Receive(const char* data, size_t n) {
        const bool going = codec_.Receive(data, n);
        Write();
        return going && !codec_.Finished();
    }
    bool CanTake() const { return codec_.CanOpenStream(); }
    bool GoneAway() const { return codec_.GoneAway(); }
    size_t OpenStreams() const { return streams_.size(); }
    size_t Buffered() const {
        size_t total = 0;
        for (const auto& [id, up] : streams_) {
            total += codec_.Buffered(id);
        }
        return total;
    }
    // The client side took bytes: the server may send as many more on those streams.
    // Only the streams held back are looked at: this runs for every write to the client.
    void Resume() {
        std::erase_if(held_, [this](int32_t id) {
            auto found = streams_.find(id);
            if (found == streams_.end()) {
                return true;
            }
            Up& up = found->second;
            if (!origin_.session_.CanTakeMore(up.slot.get())) {
                return false;
            }
            codec_.Consumed(id, up.unconsumed);
            up.unconsumed = 0;
            return true;
        });
        Write();
    }
    void FailAll(int status) {
        auto streams = std::move(streams_);
        streams_.clear();
        bySlot_.clear();
        for (auto& [id, up] : streams) {
            Fail(up, status);
        }
    }

  private:
    struct Up {
        std::shared_ptr<ResponseSlot> slot;
        std::string method;
        bool chunked = false;  // the response's body is given on in chunks
        bool ended = false;
        size_t unconsumed = 0;
    };

    void OnHead(int32_t id, Http2Fields fields, bool endStream) override {
        auto found = streams_.find(id);
        if (found == streams_.end() || fields.empty()) {
            return;
        }
        Up& up = found->second;
        const std::string status = fields.front().second;
        std::string head = "HTTP/1.1 " + status + " \r\n";
        bool hasLength = false;
        for (const auto& [name, value] : fields) {
            if (name.front() == ':') {
                continue;
            }
            hasLength = hasLength || name == "content-length";
            head += name + ": " + value + "\r\n";
        }
        if (StatusHasBody(status, up.method) && !hasLength) {
            if (endStream) {
                head += "content-length: 0\r\n";
            } else {
                head += "transfer-encoding: chunked\r\n";
                up.chunked = true;
            }
        }
        head += "\r\n";
        up.slot->started = true;
        origin_.session_.Deliver(up.slot.get(), head.data(), head.size());
    }

    void OnData(int32_t id, const char* data, size_t n) override {
        auto found = streams_.find(id);
        if (found == streams_.end()) {
            codec_.Consumed(id, n);
            return;
        }
        Up& up = found->second;
        if (up.chunked) {
            const std::string size = ChunkSize(n);
            origin_.session_.Deliver(up.slot.get(), size.data(), size.size());
            origin_.session_.Deliver(up.slot.get(), data, n);
            origin_.session_.Deliver(up.slot.get(), "\r\n", 2);
        } else {
            origin_.session_.Deliver(up.slot.get(), data, n);
        }
        const bool held = up.unconsumed > 0;
        up.unconsumed += n;
        if (!held && origin_.session_.CanTakeMore(up.slot.get())) {
            codec_.Consumed(id, up.unconsumed);
            up.unconsumed = 0;
        } else if (!held) {
            held_.push_back(id);  // given back by Resume once the client has taken more
        }
    }

    void OnEnd(int32_t id, Http2Fields trailers) override {
        auto found = streams_.find(id);
        if (found == streams_.end() || found->second.ended) {
            return;
        }
        Up& up = found->second;
        up.ended = true;
        if (up.chunked) {
            std::string last = "0\r\n";
            for (const auto& [name, value] : trailers) {
                last += name + ": " + value + "\r\n";
            }
            last += "\r\n";
            origin_.session_.Deliver(up.slot.get(), last.data(), last.size());
        }
        origin_.session_.FinishSlot(up.slot.get(), false);
    }

    void OnStreamClosed(int32_t id, uint32_t errorCode) override {
        auto found = streams_.find(id);
        if (found == streams_.end()) {
            return;
        }
        Up up = std::move(found->second);
        bySlot_.erase(up.slot.get());
        streams_.erase(found);
        if (!up.ended && !(errorCode == NGHTTP2_REFUSED_STREAM && !up.slot->started &&
                           origin_.session_.RetryElsewhere(&origin_, up.slot.get()))) {
            Fail(up, 502);  // reset by the server
        }
        // A stream less: the client side may hand over another request.
        origin_.session_.OriginIdle(&origin_);
    }

    void Fail(Up& up, int status) {
        if (up.slot->complete) {
            return;
        }
        if (!up.slot->started) {
            const std::string answer = ErrorResponse(status);
            origin_.session_.Deliver(up.slot.get(), answer.data(), answer.size());
        }
        origin_.session_.FinishSlot(up.slot.get(), true);
    }

    void Write() {
        const std::string out = codec_.TakeOutput();
        if (!out.empty()) {
            origin_.out_.Append(out.data(), out.size());
            origin_.Flush();
        }
    }

    OriginConnection& origin_;
    Http2Codec codec_;
    std::map<int32_t, Up> streams_;
    std::map<const ResponseSlot*, int32_t> bySlot_;
    std::vector<int32_t> held_;  // streams with bytes not yet given back to the server's window
};

// An HTTP/1.1 client's request body, out of its framing, onto its stream.
class OriginConnection::RequestToStream : public Http1BodyReader::Sink {
  public:
    RequestToStream(OriginConnection& origin, std::shared_ptr<ResponseSlot> slot,
                    BodyFraming framing)
        : origin_(origin), slot_(std::move(slot)) {
        reader_.Start(framing);
    }
    // False when the framing is broken (the client side refuses such a body before it gets
    // here: this only guards).
    bool Feed(const char* data, size_t n) { return reader_.Feed(data, n, *this); }
    bool Ended() const { return reader_.Ended(); }
    const ResponseSlot* Slot() const { return slot_.get(); }

  private:
    void Body(const char* data, size_t n) override { origin_.SendBody(slot_.get(), data, n); }
    // Trailer fields of a request are rare enough to go without.
    void End(Http2Fields) override { origin_.EndBody(slot_.get()); }

    OriginConnection& origin_;
    std::shared_ptr<ResponseSlot> slot_;
    Http1BodyReader reader_;
};

void OriginConnection::TranslateRequest(std::shared_ptr<ResponseSlot> slot,
                                        const std::string& bytes, const std::string& method) {
    const size_t headEnd = FindHeadEnd(bytes, 0);
    RequestHead parsed;
    if (headEnd == std::string::npos || ParseRequestHead(bytes.substr(0, headEnd), parsed) != 0) {
        const std::string answer = ErrorResponse(502);
        session_.Deliver(slot.get(), answer.data(), answer.size());
        session_.FinishSlot(slot.get(), true);
        return;
    }
    BeginStream(slot, bytes.substr(0, headEnd), method, parsed.body.kind == BodyKind::Chunked);
    if (Http1BodyReader::HasBytes(parsed.body)) {
        translating_ = std::make_unique<RequestToStream>(*this, std::move(slot), parsed.body);
        SendBytes(bytes.data() + headEnd, bytes.size() - headEnd);
    }
}

void OriginConnection::SendBytes(const char* data, size_t n) {
    if (!translating_) {
        Write(data, n);
        return;
    }
    const bool fine = translating_->Feed(data, n);
    if (!fine) {
        CancelStream(translating_->Slot());
    }
    if (!fine || translating_->Ended()) {
        translating_.reset();
    }
}

// The server refused a handshake that offered HTTP/1.1 alone. Nothing went out before the
// handshake, so what the client side handed over is all still here: it goes again, as a
// stream, on a new connection to the same address that offers HTTP/2.
void OriginConnection::RetryOfferingHttp2() {
    std::string handed(out_.pending.begin(), out_.pending.end());
    out_ = OutQueue{};
    auto slot = std::move(slot_);
    reading_state_ = Reading::Idle;
    offerHttp2_ = true;
    // The failed stream is let go here, outside its own handshake's completion.
    stream_ = std::make_unique<PlainTransport>(asio::ip::tcp::socket(session_.Executor()));
    connecting_ = true;  // the requests queue until the new handshake says the protocol
    if (slot) {
        TranslateRequest(std::move(slot), handed, method_);
    }
    --nextEndpoint_;
    SetDeadline(Clock::now() + session_.Owner().GetLimits().connectTimeout);
    ConnectNext();
}

// Here, where Http2Side is whole.
OriginConnection::OriginConnection(OriginEvents& session, std::string host, uint16_t port,
                                   std::string tlsName, bool offerHttp2)
    : session_(session),
      host_(std::move(host)),
      port_(port),
      tlsName_(std::move(tlsName)),
      stream_(std::make_unique<PlainTransport>(asio::ip::tcp::socket(session.Executor()))),
      resolver_(session.Executor()),
      deadline_(session.Executor(), [this] { OnTimeout(); }),
      offerHttp2_(offerHttp2 && !tlsName_.empty()) {}

OriginConnection::~OriginConnection() = default;

void OriginConnection::StartHttp2() {
    h2_ = std::make_unique<Http2Side>(*this);
}

bool OriginConnection::ReceiveHttp2(const char* data, size_t n) {
    WriteBatch batch(session_);
    return h2_->Receive(data, n);
}

void OriginConnection::ResumeHttp2() {
    h2_->Resume();
}

size_t OriginConnection::Http2Buffered() const {
    return h2_->Buffered();
}

void OriginConnection::FailHttp2(int status) {
    auto side = std::move(h2_);  // nothing more goes out on this connection
    Close();
    side->FailAll(status);
    session_.OriginClosed(this);
}

bool OriginConnection::Busy() const {
    return slot_ != nullptr || !queued_.empty() || (h2_ && h2_->OpenStreams() > 0);
}

bool OriginConnection::GoingAway() const {
    return h2_ && h2_->GoneAway();
}

bool OriginConnection::CanTakeRequest() const {
    if (closed_ || !connected_) {
        return false;
    }
    return h2_ ? h2_->CanTake() : slot_ == nullptr;
}

void OriginConnection::BeginStream(std::shared_ptr<ResponseSlot> slot, const std::string& head,
                                   const std::string& method, bool chunked) {
    if (!connected_ && offerHttp2_ && !closed_) {
        queued_.push_back(Queued{std::move(slot), head, method, chunked, {}, false});
        if (!connecting_) {
            Connect();
        }
        return;
    }
    if (h2_) {
        if (!h2_->Submit(slot, head, method)) {
            const std::string answer = ErrorResponse(502);
            session_.Deliver(slot.get(), answer.data(), answer.size());
            session_.FinishSlot(slot.get(), true);
        }
        SetDeadline(Clock::now() + session_.Owner().GetLimits().responseTimeout);
        return;
    }
    chunked_ = chunked;
    WriteRequest(std::move(slot), head, method, false);
}

void OriginConnection::SendBody(const ResponseSlot* slot, const char* data, size_t n) {
    for (Queued& queued : queued_) {
        if (queued.slot.get() == slot) {
            queued.body.append(data, n);
            return;
        }
    }
    if (h2_) {
        h2_->Body(slot, data, n);
        return;
    }
    if (chunked_) {
        const std::string size = ChunkSize(n);
        Write(size.data(), size.size());
        Write(data, n);
        Write("\r\n", 2);
    } else {
        Write(data, n);
    }
}

void OriginConnection::EndBody(const ResponseSlot* slot) {
    for (Queued& queued : queued_) {
        if (queued.slot.get() == slot) {
            queued.bodyEnded = true;
            return;
        }
    }
    if (h2_) {
        h2_->EndBody(slot);
    } else if (chunked_) {
        Write("0\r\n\r\n", 5);
    }
}

void OriginConnection::CancelStream(const ResponseSlot* slot) {
    std::erase_if(queued_, [slot](const Queued& queued) { return queued.slot.get() == slot; });
    if (h2_) {
        h2_->Cancel(slot);
    }
}

// The protocol is known: the requests handed over meanwhile go out.
void OriginConnection::StartQueued() {
    if (h2_) {
        h2_->Resume();  // the connection preface and our settings
    }
    auto queued = std::move(queued_);
    queued_.clear();
    for (Queued& request : queued) {
        BeginStream(request.slot, request.head, request.method, request.chunked);
        if (!request.body.empty()) {
            SendBody(request.slot.get(), request.body.data(), request.body.size());
        }
        if (request.bodyEnded) {
            EndBody(request.slot.get());
        }
    }
    session_.OriginReady(this);
}

}  // namespace gx::interception
