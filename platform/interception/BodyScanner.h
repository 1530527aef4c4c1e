// Finds where a message body ends while its bytes pass through unchanged: a fixed length, the
// chunked coding (sizes, extensions, trailers; each piece bounded), or the end of the connection.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/interception/HttpHead.h"

namespace gx::interception {

class BodyScanner {
  public:
    void Start(BodyFraming framing);

    // How many of the n bytes at data belong to the body (all of them until its end is seen).
    size_t Consume(const char* data, size_t n);

    // Bytes left of a fixed-length body (0 for any other framing): they may go on unseen.
    uint64_t LengthLeft() const { return state_ == State::Length ? remaining_ : 0; }
    // n of those bytes went on without passing through Consume.
    void SkipLength(uint64_t n);

    bool Done() const { return state_ == State::Done; }
    bool Failed() const { return state_ == State::Failed; }

  private:
    enum class State {
        Done,
        Failed,
        Length,      // a fixed count of bytes left
        UntilClose,  // everything until the connection ends
        Size,        // chunk size digits
        Extension,   // chunk extension up to CR
        SizeLf,
        Data,
        DataCr,
        DataLf,
        TrailerStart,  // start of a trailer line, or the final empty line
        Trailer,
        TrailerLf,
        FinalLf,
    };
    bool Step(char c);

    State state_ = State::Done;
    uint64_t remaining_ = 0;
    int sizeDigits_ = 0;
    size_t pieceLength_ = 0;  // bytes of the current extension or trailer section
};

}  // namespace gx::interception
