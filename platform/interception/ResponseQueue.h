// The responses owed on one client connection, in the order of its requests.
//
// Every request (and every answer the proxy or the program makes on its own) opens a slot. The
// slot at the head writes straight to the client; the others keep what they are given until
// they reach the head. A slot completed with "close after" ends the connection once written:
// nothing behind it ever reaches the client. No sockets here: bytes go to a ByteSink.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <vector>

namespace gx::interception {

class OriginConnection;

// Where the head slot's bytes go: the client's output queue.
class ByteSink {
  public:
    virtual ~ByteSink() = default;
    virtual void Write(const char* data, size_t n) = 0;
    // Bytes accepted and not yet written out.
    virtual size_t Backlog() const = 0;
};

// The response owed to one request.
struct ResponseSlot {
    std::vector<char> held;  // produced before the slot reached the head of the queue
    bool complete = false;
    bool closeAfter = false;  // the client connection ends once this response is written
    bool started = false;     // bytes of a response were produced
    bool answered = false;    // the program posted the response itself
    std::weak_ptr<OriginConnection> origin;
};

class ResponseQueue {
  public:
    explicit ResponseQueue(ByteSink& sink) : sink_(sink) {}

    // A new slot at the end of the queue.
    std::shared_ptr<ResponseSlot> Open(bool closeAfter);
    // Bytes of the slot's response: written when the slot is at the head, else held.
    void Deliver(ResponseSlot* slot, const char* data, size_t n);
    // May the slot's producer give more now? Bounded by `limit` bytes waiting for the client.
    bool CanTakeMore(const ResponseSlot* slot, size_t limit) const;
    // The slot's response is whole. Completed slots leave the head in order; the next slot's
    // held bytes follow. Returns true when the queue moved.
    bool Finish(ResponseSlot* slot, bool closeAfter);

    // Nothing more is written: a response that ends the connection went out, or End was called
    // (the connection ends once what was written is flushed).
    bool Ended() const { return ended_; }
    void End() { ended_ = true; }
    bool Empty() const { return slots_.empty(); }
    size_t Owed() const { return slots_.size(); }
    ResponseSlot* Head() const { return slots_.empty() ? nullptr : slots_.front().get(); }
    void Clear() { slots_.clear(); }

  private:
    bool IsHead(const ResponseSlot* slot) const {
        return !slots_.empty() && slots_.front().get() == slot;
    }

    ByteSink& sink_;
    std::deque<std::shared_ptr<ResponseSlot>> slots_;
    bool ended_ = false;
};

}  // namespace gx::interception
