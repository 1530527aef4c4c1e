// An HTTP/1.x response as a server (or the program) wrote it, read for a client that speaks
// HTTP/2, without a socket: the head becomes a status and fields, less those that belong to one
// HTTP/1.1 connection (Connection and the fields it names, Keep-Alive, Proxy-Connection,
// Transfer-Encoding, Upgrade); the body comes out of its framing (chunks decoded, trailer
// fields kept for the stream's end). Interim responses (1xx) are skipped: HTTP/2 clients get
// the final one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/interception/Http1BodyReader.h"
#include "platform/interception/Http2Codec.h"
#include "platform/interception/HttpHead.h"

namespace gx::interception {

class Http1ResponseReader {
  public:
    class Sink : public Http1BodyReader::Sink {
      public:
        // withBody false: no Body and no End follow.
        virtual void Head(int status, Http2Fields fields, bool withBody) = 0;
    };

    // method: the request's, which decides whether a body follows (HEAD).
    explicit Http1ResponseReader(std::string method) : method_(std::move(method)) {}

    // Bytes of the response. False when they are not a response (the caller answers 502).
    bool Feed(const char* data, size_t n, Sink& sink);
    // The sender says the response is complete (a body that runs until the connection ends).
    void Finish(Sink& sink);
    bool HeadSeen() const { return headSeen_; }
    bool Ended() const { return headSeen_ && body_.Ended(); }

  private:
    bool TakeHead(Sink& sink);

    std::string method_;
    bool headSeen_ = false;
    std::string head_;
    Http1BodyReader body_;
};

// Lower-case field name.
std::string LowerName(std::string_view name);

// "Name: value" lines (CR LF each, an empty line allowed) into fields, names lowered and values
// trimmed; false on a line without a name and a colon.
bool ReadFieldBlock(std::string_view block, Http2Fields& fields);

// The fields that may travel on an HTTP/2 stream: without those that belong to one HTTP/1.1
// connection (Connection and the fields it names, Keep-Alive, Proxy-Connection,
// Transfer-Encoding, Upgrade), Host (":authority" says it) and TE other than "trailers".
Http2Fields ForHttp2(const Http2Fields& fields);

}  // namespace gx::interception
