// An HTTPS origin for the interception tests that speaks HTTP/2 alone: it refuses every TLS
// client that does not offer h2 (as gRPC services and some APIs do) and answers each stream
// itself:
//   /trailers   a body and trailer fields, as gRPC does
//   /page       a page of 100 images (/img/0 to /img/99) whose script, once the page has
//               loaded, writes into the page how many resources came over which protocol
//   else        "h2 origin saw <method> <path>"
// Its HTTP/2 is the program's own codec, as a server. One connection at a time: the proxy keeps
// one to a server.
#pragma once

#include <openssl/ssl.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/interception/Http2Codec.h"
#include "platform/interception/TlsTestOrigin.h"
#include "platform/program/OpenSslHandles.h"

namespace gx::test {

class Http2OnlyOrigin : private interception::Http2Codec::Events {
  public:
    explicit Http2OnlyOrigin(const TestAuthority& authority);
    ~Http2OnlyOrigin() override;
    Http2OnlyOrigin(const Http2OnlyOrigin&) = delete;
    Http2OnlyOrigin& operator=(const Http2OnlyOrigin&) = delete;

    std::string Url(const std::string& path) const;
    int Requests() const { return requests_; }
    int Connections() const { return connections_; }
    // On its first connection the server waits for three requests, answers the first, and
    // sends GOAWAY naming it the last it processed, as a server that restarts or has served its
    // share of requests on one connection does; then it ends that connection.
    void GoAwayAfterThreeStreams() { goAwayAfterThree_ = true; }
    // Its streams open no window: a request body never gets in.
    void NeverOpenWindow() { streamWindow_ = 0; }
    // Handshakes refused because the client did not offer h2.
    int Refused() const { return refused_; }
    // The request bodies received whole, in the order their streams ended.
    std::vector<std::string> Bodies() const {
        std::lock_guard lock(mutex_);
        return received_;
    }

  private:
    static int SelectH2Only(SSL*, const unsigned char** out, unsigned char* outLength,
                            const unsigned char* offered, unsigned int offeredLength, void*);
    void Serve();
    void Answer(int32_t stream, const std::string& method, const std::string& path);

    void OnHead(int32_t stream, interception::Http2Fields fields, bool) override;
    void OnData(int32_t stream, const char*, size_t n) override;
    void OnEnd(int32_t stream, interception::Http2Fields) override;
    void OnStreamClosed(int32_t, uint32_t) override {}

    gx::testing::TestPair identity_;
    SSL_CTX* context_ = nullptr;
    int listenFd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> requests_{0};
    std::atomic<int> connections_{0};
    std::atomic<int> refused_{0};
    std::atomic<bool> goAwayAfterThree_{false};
    std::atomic<int32_t> streamWindow_{interception::kStreamWindow};
    std::vector<int32_t> held_;
    int32_t goAwayLast_ = 0;  // a GOAWAY naming this stream is due
    mutable std::mutex mutex_;
    std::vector<std::string> received_;
    std::map<int32_t, std::string> bodies_;
    std::thread server_;
    interception::Http2Codec* codec_ = nullptr;
    std::map<int32_t, std::string> paths_;
    std::map<int32_t, std::string> methods_;
};

}  // namespace gx::test
