// HTTP/2 frames from a hostile peer, to the program's codec on both sides: as the server of an
// inspected client (the bytes are what the client sends, connection preface first; each request
// is answered on its stream, bodies are taken as the proxy takes them) and as the client of a
// server (a request is sent, the bytes are the server's answer). Whatever the bytes, the codec
// must neither crash nor keep more than its bounds allow.
#include "fuzz/FuzzTargets.h"
#include "platform/interception/Http2Codec.h"

namespace gx::fuzz {
namespace {

using interception::Http2Codec;
using interception::Http2Fields;

class Answering : public Http2Codec::Events {
  public:
    Http2Codec* codec = nullptr;
    bool server = true;

  private:
    void OnHead(int32_t stream, Http2Fields fields, bool) override {
        size_t bytes = 0;
        for (const auto& [name, value] : fields) {
            bytes += name.size() + value.size() + 32;
        }
        if (bytes > interception::kMaxHeaderList) {
            __builtin_trap();  // a header list past the bound reached the caller
        }
        if (server) {
            codec->SubmitResponse(stream, 200, {{"content-type", "text/plain"}}, true);
            codec->AppendBody(stream, "fuzz", 4);
        }
    }
    void OnData(int32_t stream, const char*, size_t n) override { codec->Consumed(stream, n); }
    void OnEnd(int32_t stream, Http2Fields) override {
        if (server) {
            codec->EndBody(stream, {{"x-trailer", "1"}});
        }
    }
    void OnStreamClosed(int32_t, uint32_t) override {}
};

void Feed(Http2Codec& codec, const uint8_t* data, size_t size) {
    // In pieces, as reads would hand them over.
    for (size_t at = 0; at < size;) {
        const size_t piece = std::min<size_t>(size - at, 1 + (data[at] % 64));
        if (!codec.Receive(reinterpret_cast<const char*>(data + at), piece)) {
            break;
        }
        codec.TakeOutput();
        at += piece;
    }
    codec.TakeOutput();
}

}  // namespace

int FuzzHttp2Frames(const uint8_t* data, size_t size) {
    {
        Answering events;
        Http2Codec codec(events, Http2Codec::Role::Server);
        events.codec = &codec;
        Feed(codec, data, size);
    }
    {
        Answering events;
        events.server = false;
        Http2Codec codec(events, Http2Codec::Role::Client);
        events.codec = &codec;
        codec.SubmitRequest(
            {{":method", "GET"}, {":scheme", "https"}, {":authority", "a"}, {":path", "/"}}, false);
        codec.TakeOutput();
        Feed(codec, data, size);
    }
    return 0;
}

}  // namespace gx::fuzz
