// The HTTP/2 side of an inspected client connection, without a socket: the client's bytes go in,
// requests come out stream by stream, responses go in stream by stream, and the bytes for the
// client come out. Framing, HPACK and flow control are libnghttp2's; what the proxy does with
// the requests (judging, relaying) is the caller's.
//
// Bounds that hold whatever the client sends (each refusal ends the stream or the connection,
// never the process):
//   - at most kMaxStreams streams open at once (SETTINGS_MAX_CONCURRENT_STREAMS);
//   - a request's header list at most kMaxHeaderList bytes once decompressed (name + value + 32
//     per field, as SETTINGS_MAX_HEADER_LIST_SIZE counts): an HPACK bomb resets its stream as
//     soon as it passes the bound; a HEADERS frame followed by more than kMaxContinuations
//     CONTINUATION frames ends the connection;
//   - streams reset by the client faster than kResetRate a second (after a burst of
//     kResetBurst) end the connection (rapid reset);
//   - SETTINGS and PING floods: the acknowledgements owed are bounded, past which the
//     connection ends;
//   - request bodies: the client may send only what the window it was given allows, and the
//     window opens again only as the caller reports bytes passed on (Consumed): a server that
//     does not read stops the client, the proxy buffers no more than the window
//     (kStreamWindow per stream, kConnectionWindow for the connection);
//   - response bodies wait in the codec only up to what the caller puts there; Buffered says
//     how much, so the caller reads its server no faster than the client takes the bytes.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct nghttp2_session;

namespace gx::interception {

using Http2Fields = std::vector<std::pair<std::string, std::string>>;

inline constexpr uint32_t kMaxStreams = 100;
inline constexpr size_t kMaxHeaderList = 64 * 1024;
inline constexpr size_t kMaxContinuations = 8;
inline constexpr uint64_t kResetBurst = 200;
inline constexpr uint64_t kResetRate = 33;
inline constexpr int32_t kStreamWindow = 1 << 20;
inline constexpr int32_t kConnectionWindow = 16 << 20;

class Http2Codec {
  public:
    // What the client asks, stream by stream (stream ids are odd, from 1).
    class Events {
      public:
        virtual ~Events() = default;
        // A request's header list (pseudo-fields ":method", ":path", ":authority", ":scheme"
        // first, names in lower case, as checked by the library's HTTP rules). endStream: no
        // body follows.
        virtual void OnRequest(int32_t stream, Http2Fields fields, bool endStream) = 0;
        virtual void OnRequestData(int32_t stream, const char* data, size_t n) = 0;
        virtual void OnRequestEnd(int32_t stream) = 0;
        // The stream is gone (answered whole, reset by either side, or the connection ended):
        // nothing more is asked or answered on it.
        virtual void OnStreamClosed(int32_t stream) = 0;
    };

    explicit Http2Codec(Events& events);
    ~Http2Codec();
    Http2Codec(const Http2Codec&) = delete;
    Http2Codec& operator=(const Http2Codec&) = delete;

    // The client's bytes. False when the connection must end (a protocol error, a flood); the
    // GOAWAY that says so waits in the output.
    bool Receive(const char* data, size_t n);
    // The bytes for the client produced since the last call.
    std::string TakeOutput();
    // Neither side has more to say: the connection may end.
    bool Finished() const;

    // The response head of a stream; its body follows through AppendBody and EndBody unless
    // withBody is false.
    void SubmitResponse(int32_t stream, int status, const Http2Fields& fields, bool withBody);
    void AppendBody(int32_t stream, const char* data, size_t n);
    // The body is whole; trailer fields, when given, end the stream after it.
    void EndBody(int32_t stream, const Http2Fields& trailers = {});
    // Ends a stream with an error code (RST_STREAM).
    void ResetStream(int32_t stream, uint32_t errorCode);
    // Ends the connection politely: no new streams, those open finish.
    void GoAway();
    // n bytes of a request body went on: the client may send as many more.
    void Consumed(int32_t stream, size_t n);
    // Response bytes of a stream that wait for the client's window.
    size_t Buffered(int32_t stream) const;
    size_t OpenStreams() const { return streams_.size(); }

  private:
    struct Stream {
        Http2Fields fields;
        size_t headerBytes = 0;
        bool refused = false;    // its header list broke the bound
        std::string body;        // response bytes not yet framed
        bool bodyEnded = false;  // no more will be appended
        Http2Fields trailers;
        bool deferred = false;  // the library waits for more body
    };
    friend struct Http2CodecCallbacks;

    Stream* Find(int32_t stream);
    void Resume(int32_t stream, Stream& s);
    // One more reset from the client; false once they come faster than the rate allows.
    bool TakeResetToken();

    Events& events_;
    nghttp2_session* session_ = nullptr;
    std::map<int32_t, Stream> streams_;
    bool failed_ = false;
    double resetTokens_ = kResetBurst;
    std::chrono::steady_clock::time_point resetClock_ = std::chrono::steady_clock::now();
};

}  // namespace gx::interception
