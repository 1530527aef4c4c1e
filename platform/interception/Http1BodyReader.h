// The body of an HTTP/1.x message out of its framing, without a socket: a fixed length passes
// as it is, chunks are decoded (sizes and extensions dropped, each line bounded), trailer fields
// are kept for the end, and a body that runs until the connection ends ends when told. Used
// for responses given on to HTTP/2 clients and for requests of HTTP/1.1 clients given on to
// HTTP/2 servers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/interception/Http2Codec.h"
#include "platform/interception/HttpHead.h"

namespace gx::interception {

class Http1BodyReader {
  public:
    class Sink {
      public:
        virtual ~Sink() = default;
        virtual void Body(const char* data, size_t n) = 0;
        // The body is whole (trailers from a chunked body, else none).
        virtual void End(Http2Fields trailers) = 0;
    };

    // A body framed so. One without bytes (None, a length of 0) has nothing to read: Ended()
    // at once, and no End is told.
    void Start(BodyFraming framing);
    static bool HasBytes(BodyFraming framing) {
        return framing.kind != BodyKind::None &&
               !(framing.kind == BodyKind::Length && framing.length == 0);
    }
    // Bytes of the body. False when the framing is broken (the message is refused). Bytes
    // after the body's end are not its own: they are dropped.
    bool Feed(const char* data, size_t n, Sink& sink);
    // The sender says the message is complete (a body that runs until the connection ends).
    void Finish(Sink& sink);
    bool Ended() const { return state_ == State::Ended; }

  private:
    enum class State { Length, UntilClose, Size, Data, DataEnd, Trailers, Ended };

    bool TakeChunked(std::string_view& data, Sink& sink);
    void End(Sink& sink, Http2Fields trailers = {});

    State state_ = State::Ended;
    uint64_t left_ = 0;  // of a fixed-length body, or of the current chunk
    std::string line_;   // a chunk-size line or a trailer line being read
    Http2Fields trailers_;
};

}  // namespace gx::interception
