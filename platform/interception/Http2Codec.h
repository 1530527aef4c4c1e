// One HTTP/2 connection without a socket, on either side: as the server of an inspected client
// (the client's bytes go in, requests come out stream by stream, responses go in) or as the
// client of a server that speaks HTTP/2 (requests go in, responses come out). Framing, HPACK
// and flow control are libnghttp2's; what the proxy does with the messages is the caller's.
//
// Bounds that hold whatever the peer sends (each refusal ends the stream or the connection,
// never the process); the peer's header lists are bounded on both sides:
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
inline constexpr int32_t kConnectionWindow = 6 << 20;

class Http2Codec {
  public:
    enum class Role { Server, Client };

    // What the peer sends, stream by stream.
    class Events {
      public:
        virtual ~Events() = default;
        // A message's head: a request's header list (":method", ":path", ":authority",
        // ":scheme" first) to a server, a final response's (":status" first) to a client; names
        // in lower case, as checked by the library's HTTP rules. endStream: no body follows.
        virtual void OnHead(int32_t stream, Http2Fields fields, bool endStream) = 0;
        virtual void OnData(int32_t stream, const char* data, size_t n) = 0;
        // The message is whole, with its trailer fields when it had some.
        virtual void OnEnd(int32_t stream, Http2Fields trailers) = 0;
        // The stream is gone (answered whole, reset by either side, or the connection ended):
        // nothing more is sent or received on it. errorCode 0 when it ended well.
        virtual void OnStreamClosed(int32_t stream, uint32_t errorCode) = 0;
    };

    // streamWindow: what each stream lets the peer send before it is consumed; a test's peer
    // that never lets a body in says 0.
    explicit Http2Codec(Events& events, Role role = Role::Server,
                        int32_t streamWindow = kStreamWindow);
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
    // A client's request (pseudo-fields first); its stream id, or -1 when it cannot be sent
    // (the server went away). The body follows as for a response.
    int32_t SubmitRequest(const Http2Fields& fields, bool withBody);
    // A client may open another stream now (below the server's bound, no GOAWAY received).
    bool CanOpenStream() const;
    void AppendBody(int32_t stream, const char* data, size_t n);
    // The body is whole; trailer fields, when given, end the stream after it.
    void EndBody(int32_t stream, const Http2Fields& trailers = {});
    // Ends a stream with an error code (RST_STREAM).
    void ResetStream(int32_t stream, uint32_t errorCode);
    // Ends the connection politely: no new streams, those open finish.
    void GoAway();
    // n bytes of a request body went on: the client may send as many more.
    void Consumed(int32_t stream, size_t n);
    // Body bytes of a stream that wait for the peer's window.
    size_t Buffered(int32_t stream) const;
    size_t OpenStreams() const { return streams_.size(); }
    // The peer sent GOAWAY: no new stream may open on this connection.
    bool GoneAway() const { return goneAway_; }

  private:
    struct Stream {
        Http2Fields received;  // a response's trailer fields, as they come
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
    Role role_;
    nghttp2_session* session_ = nullptr;
    std::map<int32_t, Stream> streams_;
    bool failed_ = false;
    bool goneAway_ = false;  // the peer sent GOAWAY
    // Inside Receive: the library must not be asked for output from its own callbacks.
    bool receiving_ = false;
    double resetTokens_ = kResetBurst;
    std::chrono::steady_clock::time_point resetClock_ = std::chrono::steady_clock::now();
};

}  // namespace gx::interception
