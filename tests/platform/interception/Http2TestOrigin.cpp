#include "platform/interception/Http2TestOrigin.h"

#include <algorithm>

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "support/Loopback.h"

namespace gx::test {
namespace {

using interception::Http2Fields;

constexpr int kPageImages = 100;

std::string Page() {
    std::string page =
        "<!DOCTYPE html><html><head><title>images</title></head><body><script>"
        "addEventListener('load',()=>{let h2=0,all=0;"
        "for(const e of performance.getEntriesByType('resource')){all++;"
        "if(e.nextHopProtocol==='h2')h2++;}"
        "document.body.setAttribute('data-resources',all);"
        "document.body.setAttribute('data-h2',h2);});</script>\n";
    for (int i = 0; i < kPageImages; ++i) {
        page += "<img src=\"/img/" + std::to_string(i) + "\" width=4 height=4>\n";
    }
    return page + "</body></html>\n";
}

}  // namespace

Http2OnlyOrigin::Http2OnlyOrigin(const TestAuthority& authority)
    : identity_(gx::testing::MakeLocalhost(authority.Pair())) {
    context_ = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate(context_, identity_.certificate.get());
    SSL_CTX_use_PrivateKey(context_, identity_.key.get());
    SSL_CTX_set_alpn_select_cb(context_, SelectH2Only, nullptr);
    listenFd_ = gx::testing::ListenLoopback(port_, 16);
    server_ = std::thread([this] { Serve(); });
}

Http2OnlyOrigin::~Http2OnlyOrigin() {
    stopping_ = true;
    ::shutdown(listenFd_, SHUT_RDWR);
    server_.join();
    ::close(listenFd_);
    SSL_CTX_free(context_);
}

std::string Http2OnlyOrigin::Url(const std::string& path) const {
    return "https://localhost:" + std::to_string(port_) + path;
}

int Http2OnlyOrigin::SelectH2Only(SSL*, const unsigned char** out, unsigned char* outLength,
                                  const unsigned char* offered, unsigned int offeredLength, void*) {
    static const unsigned char kH2[] = {2, 'h', '2'};
    unsigned char* selected = nullptr;
    if (SSL_select_next_proto(&selected, outLength, kH2, sizeof kH2, offered, offeredLength) ==
        OPENSSL_NPN_NEGOTIATED) {
        *out = selected;
        return SSL_TLSEXT_ERR_OK;
    }
    return SSL_TLSEXT_ERR_ALERT_FATAL;  // no HTTP/1.1 here
}

void Http2OnlyOrigin::Serve() {
    while (!stopping_) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            return;
        }
        SSL* ssl = SSL_new(context_);
        SSL_set_fd(ssl, fd);
        if (SSL_accept(ssl) == 1) {
            ++connections_;
            interception::Http2Codec codec(*this, interception::Http2Codec::Role::Server,
                                           streamWindow_);
            codec_ = &codec;
            char buffer[16384];
            timeval wait{0, 200 * 1000};
            ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
            while (!stopping_) {
                const std::string out = codec.TakeOutput();
                if (!out.empty() && SSL_write(ssl, out.data(), static_cast<int>(out.size())) <= 0) {
                    break;
                }
                if (goAwayLast_ != 0) {
                    // GOAWAY: 8 bytes on stream 0, the last stream processed, no error.
                    const uint32_t last = static_cast<uint32_t>(goAwayLast_);
                    const unsigned char frame[17] = {0,
                                                     0,
                                                     8,
                                                     7,
                                                     0,
                                                     0,
                                                     0,
                                                     0,
                                                     0,
                                                     static_cast<unsigned char>(last >> 24),
                                                     static_cast<unsigned char>(last >> 16),
                                                     static_cast<unsigned char>(last >> 8),
                                                     static_cast<unsigned char>(last),
                                                     0,
                                                     0,
                                                     0,
                                                     0};
                    SSL_write(ssl, frame, sizeof frame);
                    goAwayLast_ = 0;
                    // A lingering close, as servers do: closing with the proxy's bytes unread
                    // would reset the connection and lose the GOAWAY on the way.
                    SSL_shutdown(ssl);
                    ::shutdown(fd, SHUT_WR);
                    for (int waited = 0; waited < 10 && ::read(fd, buffer, sizeof buffer) != 0;
                         ++waited) {
                    }
                    break;
                }
                const int n = SSL_read(ssl, buffer, sizeof buffer);
                if (n <= 0) {
                    if (errno == EAGAIN || errno == EWOULDBLOCK) {
                        errno = 0;
                        continue;
                    }
                    break;
                }
                if (!codec.Receive(buffer, static_cast<size_t>(n))) {
                    break;
                }
            }
            codec_ = nullptr;
        } else {
            ++refused_;
        }
        SSL_free(ssl);
        ::close(fd);
    }
}

void Http2OnlyOrigin::OnHead(int32_t stream, Http2Fields fields, bool) {
    for (const auto& [name, value] : fields) {
        if (name == ":path") {
            paths_[stream] = value;
        } else if (name == ":method") {
            methods_[stream] = value;
        }
    }
}

void Http2OnlyOrigin::OnData(int32_t stream, const char* data, size_t n) {
    bodies_[stream].append(data, n);
    codec_->Consumed(stream, n);
}

void Http2OnlyOrigin::OnEnd(int32_t stream, Http2Fields) {
    {
        std::lock_guard lock(mutex_);
        received_.push_back(std::move(bodies_[stream]));
    }
    bodies_.erase(stream);
    if (goAwayAfterThree_ && connections_ == 1) {
        held_.push_back(stream);
        if (held_.size() == 3) {
            const int32_t first = *std::min_element(held_.begin(), held_.end());
            ++requests_;
            Answer(first, methods_[first], paths_[first]);
            goAwayLast_ = first;
        }
        return;
    }
    ++requests_;
    Answer(stream, methods_[stream], paths_[stream]);
}

void Http2OnlyOrigin::Answer(int32_t stream, const std::string& method, const std::string& path) {
    if (path == "/trailers") {
        codec_->SubmitResponse(stream, 200, {{"content-type", "application/grpc"}}, true);
        codec_->AppendBody(stream, "grpc-body", 9);
        codec_->EndBody(stream, {{"grpc-status", "0"}, {"grpc-message", "fine"}});
        return;
    }
    const std::string body = path == "/page" ? Page() : "h2 origin saw " + method + " " + path;
    const std::string type = path == "/page" ? "text/html" : "text/plain";
    codec_->SubmitResponse(
        stream, 200, {{"content-type", type}, {"content-length", std::to_string(body.size())}},
        true);
    codec_->AppendBody(stream, body.data(), body.size());
    codec_->EndBody(stream);
}

}  // namespace gx::test
