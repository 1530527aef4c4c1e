// Moves bytes from one TCP socket to another inside the kernel (splice(2) through a pipe of the
// relay's own), for what the proxy passes on without looking at it: a response body of known
// length, a tunnel, a TLS connection relayed unopened. The bytes never enter the process.
//
// The pipe is the relay's whole buffer: while the receiving socket takes nothing, the pipe
// fills and the relay stops reading, so a stalled reader holds at most the pipe's capacity.
// Where the kernel refuses (a socket or file system without splice, no descriptors left for
// the pipe) the relay reports it, and hands back what the pipe holds: the caller carries on
// through its buffers, no byte lost or reordered.
//
// One direction per relay; both sockets must belong to the event loop the relay runs on.
#pragma once

#include <asio.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace gx::interception {

// The system call the relay makes (splice(2) between a socket and a pipe); a seam for the
// tests, which make the kernel refuse. Same contract as splice with null offsets.
using SpliceCall = ssize_t (*)(int from, int to, size_t length, unsigned flags);
void SetSpliceCallForTesting(SpliceCall call);  // nullptr: the real one

// May a relay write into a socket now? Later: once what is being written through the buffers
// is out (the owner of the socket says when); Never: the bytes go through the buffers.
enum class SpliceReadiness { Never, Later, Now };

class SpliceRelay {
  public:
    enum class End {
        LimitReached,  // the bytes asked for are all written
        SourceEnded,   // the sending side ended (its end of stream); all it sent is written
        Failed,        // a socket failed (reset, closed)
        Refused,       // the kernel refuses to splice these sockets: use TakeHeld, then buffers
    };
    using Progress = std::function<void()>;
    using Finished = std::function<void(End)>;

    static constexpr uint64_t kUnlimited = UINT64_MAX;

    // capacity: the pipe's size asked for (the kernel may give less, never more than allowed).
    SpliceRelay(asio::ip::tcp::socket& from, asio::ip::tcp::socket& to, size_t capacity);
    ~SpliceRelay();
    SpliceRelay(const SpliceRelay&) = delete;
    SpliceRelay& operator=(const SpliceRelay&) = delete;

    // Moves up to `limit` bytes. `owner` is kept alive while a wait is pending; `progress` runs
    // after bytes moved, `finished` once, at the end. False (nothing started) when no pipe can
    // be had: the caller relays through its buffers.
    bool Run(uint64_t limit, std::weak_ptr<void> owner, Progress progress, Finished finished);
    // No step runs any more; a wait that is pending ends without effect.
    void Stop();
    bool Running() const { return running_; }
    // The relay moves bytes between these two sockets (a connection whose socket changed needs
    // a new relay).
    bool Joins(const asio::ip::tcp::socket& from, const asio::ip::tcp::socket& to) const {
        return &from_ == &from && &to_ == &to;
    }

    // Bytes read from the source so far, and those of them still in the pipe.
    uint64_t Read() const { return read_; }
    size_t Held() const { return held_; }
    // Empties the pipe into memory (after Refused or Stop); the bytes the source gave and the
    // destination has not had, in order.
    std::string TakeHeld();

  private:
    bool OpenPipe();
    void Step();
    void WaitFor(asio::ip::tcp::socket& socket, asio::socket_base::wait_type type);
    void Finish(End end);

    asio::ip::tcp::socket& from_;
    asio::ip::tcp::socket& to_;
    size_t capacity_;
    int pipeRead_ = -1;
    int pipeWrite_ = -1;
    bool running_ = false;
    bool sourceEnded_ = false;
    uint64_t remaining_ = 0;
    uint64_t read_ = 0;
    size_t held_ = 0;
    uint64_t generation_ = 0;  // a Stop or a new Run makes the waits of an older one void
    std::weak_ptr<void> owner_;
    Progress progress_;
    Finished finished_;
};

}  // namespace gx::interception
