// The session's responses and its origins: which origin connection carries a request, what
// the origins report back, and the responses written to the client in request order (the
// order itself is the ResponseQueue's).
#include "platform/interception/ClientSession.h"
#include "platform/interception/Http2Front.h"
#include "platform/interception/HttpText.h"
#include "platform/interception/OriginConnection.h"
#include "platform/interception/Proxy.h"
#include "platform/interception/SessionLimits.h"

namespace gx::interception {
namespace {

std::string OriginKey(const std::string& host, uint16_t port) {
    return ascii::Lower(host) + ":" + std::to_string(port);
}

}  // namespace

std::shared_ptr<OriginConnection> ClientSession::OriginFor(const std::string& host, uint16_t port) {
    // The requests of an inspected HTTPS connection go to the server over TLS.
    std::string key = (tlsServerName_.empty() ? "" : "tls|") + OriginKey(host, port);
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
    // A server known to refuse HTTP/1.1 is offered HTTP/2 at once; the origin translates.
    const bool onlyHttp2 =
        !tlsServerName_.empty() && proxy_.Tls() &&
        proxy_.Tls()->OnlyHttp2().Has(tlsServerName_ + ":" + std::to_string(port));
    auto origin = OriginConnection::Create(*this, host, port, tlsServerName_, onlyHttp2);
    origins_[key] = origin;
    return origin;
}

// ---- the origins report back ----

void ClientSession::OriginFailed(OriginConnection* origin, ResponseSlot* slot, int status) {
    bool relayed =
        phase_ == Phase::AwaitConnect || phase_ == Phase::Sniff || phase_ == Phase::Tunnel;
    if (rawRelay_ || ((transparent_ || connectAnswered_) && relayed)) {
        Close();  // the client expects no HTTP answer from us on a relayed connection
        return;
    }
    if (slot && !slot->complete) {
        if (!slot->started) {
            std::string answer = origin && !origin->FailurePage().empty() ? origin->FailurePage()
                                                                          : ErrorResponse(status);
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

// A request parked behind a busy origin goes out once that origin is free (or gone: a new
// connection is opened for it).
void ClientSession::ParkedOriginFreed() {
    auto bytes = std::move(parked_);
    parkedOrigin_.reset();
    phase_ = Phase::Head;
    Forward(std::move(bytes), parkedStreamBody_);
    ProcessInput();
}

void ClientSession::OriginIdle(OriginConnection* origin) {
    if (phase_ == Phase::AwaitOrigin && parkedOrigin_.get() == origin) {
        ParkedOriginFreed();
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
        ParkedOriginFreed();
    }
}

void ClientSession::OriginDrained(OriginConnection* origin) {
    if ((phase_ == Phase::BodyToOrigin || phase_ == Phase::Tunnel) && bodyOrigin_.get() == origin) {
        ProcessInput();
    }
}

// ---- responses to the client, in order ----

void ClientSession::Deliver(ResponseSlot* slot, const char* data, size_t n) {
    if (h2_ && !closed_) {
        h2_->Deliver(slot, data, n);  // the program's answer to a stream
    } else if (!closed_) {
        responses_.Deliver(slot, data, n);
    }
}

void ClientSession::SendToClient(const std::string& bytes) {
    toClient_.Append(bytes.data(), bytes.size());
    FlushClient();
}

void ClientSession::Write(const char* data, size_t n) {
    toClient_.Append(data, n);
    FlushClient();
}

bool ClientSession::CanTakeMore(const ResponseSlot* slot) const {
    if (h2_) {
        return h2_->CanTakeMore(slot);
    }
    return responses_.CanTakeMore(slot, proxy_.GetLimits().maxBuffered);
}

void ClientSession::FinishSlot(ResponseSlot* slot, bool closeAfter) {
    if (h2_) {
        h2_->FinishSlot(slot, closeAfter);
        return;
    }
    bool moved;
    {
        WriteBatch batch(*this);  // the responses that move up leave in one write
        moved = responses_.Finish(slot, closeAfter);
    }
    if (moved) {
        if (responses_.Ended()) {
            phase_ = Phase::Closing;
        } else if (ResponseSlot* head = responses_.Head()) {
            if (auto origin = head->origin.lock()) {
                origin->ResumeReading();
            }
        }
    }
    FlushClient();
    MaybeClose();
    ResumeAfterResponses();
}

// A client that pipelined as many requests as may be owed is read again once responses left.
void ClientSession::ResumeAfterResponses() {
    if (pausedForResponses_ && responses_.Owed() < kMaxOwedResponses && !closed_) {
        pausedForResponses_ = false;
        asio::post(executor_, [self = shared_from_this()] { self->ProcessInput(); });
    }
}

SpliceReadiness ClientSession::SpliceToClient(const ResponseSlot* slot) const {
    if (closed_ || !client_->Plain() || responses_.Ended() || responses_.Head() != slot) {
        return SpliceReadiness::Never;
    }
    if (toClient_.writing) {
        return SpliceReadiness::Later;  // its completion resumes the head slot's origin
    }
    return toClient_.pending.empty() && flushHeld_ == 0 ? SpliceReadiness::Now
                                                        : SpliceReadiness::Never;
}

void ClientSession::FlushClient() {
    if (closed_ || toClient_.writing || toClient_.pending.empty() || flushHeld_ > 0) {
        return;
    }
    toClient_.inflight.swap(toClient_.pending);
    toClient_.pending.clear();
    toClient_.writing = true;
    client_->Write(asio::buffer(toClient_.inflight),
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
                       if (self->h2_) {
                           self->h2_->ClientWritten();
                       }
                       if (self->endClientSideWhenFlushed_ && !self->toClient_.writing) {
                           self->client_->ShutdownSend();
                       }
                       if (self->phase_ == Phase::FirstBytes) {
                           self->ProcessInput();  // a ClientHello waited for this write
                       }
                       if (ResponseSlot* head = self->responses_.Head()) {
                           if (auto origin = head->origin.lock()) {
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

}  // namespace gx::interception
