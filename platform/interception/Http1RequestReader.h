// The HTTP/1.x side of a client connection, without a socket: cuts the bytes a client sent into
// request heads, one at a time, parsed strictly (HttpHead.h). The session owns the bytes and the
// time-outs; this says how many bytes a head took and what it holds.
//
//   - Empty lines (CR LF) before a request are skipped, as servers do, even when a read ends
//     between their CR and LF.
//   - A head is found however it arrives (byte by byte included) in linear time: the search
//     resumes where it stopped.
//   - A head longer than the bound is refused with 431 as soon as that many bytes are there
//     without its end; a malformed one with the status ParseRequestHead gives (400, 505...).
// The body that follows a head is the caller's (BodyScanner frames it).
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/interception/HttpHead.h"

namespace gx::interception {

class Http1RequestReader {
  public:
    enum class Step {
        NeedMore,  // no whole head yet: call again with the same bytes and more
        Head,      // `head` holds the request; `used` bytes were its own
        Refused,   // `status` says why; the connection answers it and ends
    };
    struct Result {
        Step step = Step::NeedMore;
        size_t used = 0;  // bytes at the start of the data that were taken (skipped lines too)
        int status = 0;
        RequestHead head;
    };

    explicit Http1RequestReader(size_t maxHeadBytes) : maxHeadBytes_(maxHeadBytes) {}

    // `data`: the bytes waiting, from the end of the previous head (less what `used` took).
    Result Next(std::string_view data);

    // Bytes of a head have arrived and its end has not (for the head's time-out).
    bool InHead() const { return inHead_; }

  private:
    size_t maxHeadBytes_;
    bool inHead_ = false;
    size_t scanFrom_ = 0;
};

}  // namespace gx::interception
