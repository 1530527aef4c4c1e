// HTTP/2 on inspected HTTPS: curl as the client a user's program would be, and a small client of
// the test's own (TLS through the proxy's CONNECT, frames by libnghttp2's client side) for what
// no well-behaved client does. The origin behind is the plain TestOrigin behind a TLS front
// that speaks HTTP/1.1 only, as most servers the program relays to today.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <nghttp2/nghttp2.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "platform/interception/Http2Codec.h"
#include "platform/interception/Http2Front.h"
#include "platform/interception/Http2TestOrigin.h"
#include "platform/interception/HttpsTestFixture.h"
#include "platform/interception/ProxyTestSupport.h"
#include "platform/interception/TlsTestOrigin.h"
#include "platform/tls/CertificateBuilder.h"
#include "platform/tls/RootAuthority.h"
#include "platform/tls/TrustMarker.h"
#include "support/Loopback.h"
#include "support/TempFolder.h"

namespace gx::test {
namespace {

using interception::Http2Fields;
using interception::RequestHeadText;

// How a stream's fields become the request head that the program judges and the server gets.
TEST(Http2Streams, BecomeTheHttp11RequestTheProgramJudges) {
    const Http2Fields get = {
        {":method", "GET"}, {":scheme", "https"}, {":authority", "site.example"},
        {":path", "/a?b"},  {"cookie", "a=1"},    {"accept", "*/*"},
        {"cookie", "b=2"},  {"te", "trailers"}};
    struct Case {
        const char* description;
        Http2Fields fields;
        bool hasBody;
        std::string head;  // "" when the stream is refused
    };
    auto with = [&get](std::initializer_list<std::pair<std::string, std::string>> more) {
        Http2Fields fields = get;
        fields.insert(fields.end(), more);
        return fields;
    };
    auto without = [&get](const std::string& name) {
        Http2Fields fields;
        for (const auto& field : get) {
            if (field.first != name) {
                fields.push_back(field);
            }
        }
        return fields;
    };
    const std::vector<Case> cases = {
        {"a GET: request line, Host, the cookies joined, te left out", get, false,
         "GET /a?b HTTP/1.1\r\nHost: site.example\r\ncookie: a=1; b=2\r\naccept: */*\r\n\r\n"},
        {"a body without a length goes in chunks", without("cookie"), true,
         "GET /a?b HTTP/1.1\r\nHost: site.example\r\naccept: */*\r\n"
         "transfer-encoding: chunked\r\n\r\n"},
        {"a body with its length keeps it", with({{"content-length", "3"}}), true,
         "GET /a?b HTTP/1.1\r\nHost: site.example\r\ncookie: a=1; b=2\r\naccept: */*\r\n"
         "content-length: 3\r\n\r\n"},
        {"no :authority: the Host field names the server",
         [&] {
             Http2Fields fields = without(":authority");
             fields.emplace_back("host", "other.example");
             return fields;
         }(),
         false,
         "GET /a?b HTTP/1.1\r\nHost: other.example\r\ncookie: a=1; b=2\r\naccept: */*\r\n\r\n"},
        {"no server named at all", without(":authority"), false, ""},
        {"no :path", without(":path"), false, ""},
        {"no :method", without(":method"), false, ""},
        {"two :path", with({{":path", "/b"}}), false, ""},
        {"an unknown pseudo-field", with({{":protocol", "websocket"}}), false, ""},
        {"CONNECT", {{":method", "CONNECT"}, {":authority", "a:443"}}, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        EXPECT_EQ(RequestHeadText(c.fields, c.hasBody), c.head);
    }
}

constexpr char kSubject[] = "Gardalix test root";

class Http2Test : public InspectedHttpsTest {
  protected:
    void SetUp() override {
        ProxyTest::SetUp();
        SetUpHttps(kSubject, "bloqu\xE9");
        front_ = std::make_unique<TlsFront>(*authority_);
        ASSERT_TRUE(StartHttps());
    }

    CurlResult Curl(const std::string& arguments) {
        return RunCurl("--http2 --proxy http://127.0.0.1:" + std::to_string(ProxyPort()) +
                       " --cacert '" + RootPem() + "' " + arguments);
    }

    std::unique_ptr<TlsFront> front_;
};

// One connection, several streams at once: the listed one gets the block page on its stream,
// the others their server's answer, and the program hears of one connection.
TEST_F(Http2Test, ABlockedStreamBesidePassingStreamsOnOneConnection) {
    CurlResult result = Curl(
        "--parallel --parallel-max 10 --no-progress-meter -o /dev/null -o /dev/null -o /dev/null "
        "-w '[%{url_effective} %{http_code} %{http_version} %{size_download}]' " +
        front_->Url("/one") + " " + front_->Url("/listed") + " " + front_->Url("/two"));
    EXPECT_EQ(result.exitCode, 0) << result.output;
    for (const std::string& expected :
         {front_->Url("/one") + " 200 2 19]", front_->Url("/two") + " 200 2 19]",
          front_->Url("/listed") + " 404 2 6]"}) {
        EXPECT_NE(result.output.find(expected), std::string::npos) << result.output;
    }
    EXPECT_EQ(front_->Origin().RequestCount(), 2);
    std::lock_guard lock(Program().mutex);
    EXPECT_EQ(Program().connected.size(), 1u);
}

// What the server's HTTP/1.1 framing held reaches the HTTP/2 client as it was meant: a body
// out of its chunks, no body where there is none, a body that ends with the connection.
TEST_F(Http2Test, ResponsesLoseTheirHttp11FramingAndKeepTheirContent) {
    struct Case {
        const char* path;
        const char* options;
        std::string expected;  // body, then " <status>"
    };
    const std::vector<Case> cases = {
        {"/chunked", "", "hello world 200"},
        {"/until-close", "", "until close 200"},
        {"/204", "", " 204"},
        {"/304", "", " 304"},
        {"/big/10", "--head -o /dev/null", " 200"},
        {"/big/70000", "-o /dev/null", " 200"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        CurlResult result =
            Curl(std::string(c.options) + " -w ' %{http_code}' " + front_->Url(c.path));
        EXPECT_EQ(result.exitCode, 0) << result.output;
        EXPECT_EQ(result.output, c.expected);
    }
}

TEST_F(Http2Test, AHundredMebibyteBodyArrivesByteForByte) {
    gx::testing::TempFolder folder;
    const std::string file = folder.File("body");
    const size_t size = 100u << 20;
    CurlResult result =
        Curl("--max-time 120 -o '" + file + "' -w '%{http_version} %{size_download}' " +
             front_->Url("/big/" + std::to_string(size)));
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.output, "2 " + std::to_string(size));
    std::ifstream in(file, std::ios::binary);
    std::vector<char> chunk(1 << 20);
    size_t seen = 0;
    bool onlyX = true;
    while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0) {
        const auto n = static_cast<size_t>(in.gcount());
        onlyX = onlyX && std::all_of(chunk.begin(), chunk.begin() + static_cast<long>(n),
                                     [](char c) { return c == 'x'; });
        seen += n;
    }
    EXPECT_EQ(seen, size);
    EXPECT_TRUE(onlyX);
}

TEST_F(Http2Test, ARequestBodyReachesTheServerWhole) {
    gx::testing::TempFolder folder;
    const std::string file = folder.File("upload");
    std::string body(300000, '\0');
    for (size_t i = 0; i < body.size(); ++i) {
        body[i] = static_cast<char>('a' + i % 26);
    }
    std::ofstream(file, std::ios::binary) << body;
    CurlResult result =
        Curl("--data-binary '@" + file + "' -w ' %{http_code}' " + front_->Url("/upload"));
    EXPECT_EQ(result.output, "origin saw POST /upload 200");
    ASSERT_EQ(front_->Origin().Bodies().size(), 1u);
    EXPECT_EQ(front_->Origin().Bodies()[0], body);
}

// A server that speaks HTTP/2 alone works for an HTTP/2 client: its streams travel on one
// connection, untouched by translation as far as the client can see, trailer fields included.
TEST_F(Http2Test, AServerThatSpeaksOnlyHttp2IsReachedWithItsTrailers) {
    Http2OnlyOrigin origin(*authority_);
    CurlResult result = Curl("--parallel --no-progress-meter -w ' [%{http_version}]' " +
                             origin.Url("/a") + " " + origin.Url("/b") + " " + origin.Url("/c"));
    EXPECT_EQ(result.exitCode, 0) << result.output;
    // Transfers in parallel: their bodies and their figures come in any order.
    for (const char* expected :
         {"h2 origin saw GET /a", "h2 origin saw GET /b", "h2 origin saw GET /c"}) {
        EXPECT_NE(result.output.find(expected), std::string::npos) << result.output;
    }
    EXPECT_NE(result.output.find(" [2] [2] [2]"), std::string::npos) << result.output;
    EXPECT_EQ(origin.Connections(), 1);

    CurlResult grpc = Curl("-i " + origin.Url("/trailers"));
    EXPECT_EQ(grpc.exitCode, 0) << grpc.output;
    EXPECT_NE(grpc.output.find("content-type: application/grpc"), std::string::npos) << grpc.output;
    EXPECT_NE(grpc.output.find("grpc-body"), std::string::npos) << grpc.output;
    EXPECT_NE(grpc.output.find("grpc-status: 0"), std::string::npos) << grpc.output;
    EXPECT_NE(grpc.output.find("grpc-message: fine"), std::string::npos) << grpc.output;
    EXPECT_EQ(origin.Requests(), 4);
}

// A server that goes away after its first request: the two it never processed go again on a
// new connection, and the client sees three answers.
TEST_F(Http2Test, RequestsAServerGoingAwayDidNotProcessGoAgainOnANewConnection) {
    Http2OnlyOrigin origin(*authority_);
    origin.GoAwayAfterThreeStreams();
    CurlResult result = Curl("--parallel --no-progress-meter -w ' [%{http_code}]' " +
                             origin.Url("/a") + " " + origin.Url("/b") + " " + origin.Url("/c"));
    EXPECT_EQ(result.exitCode, 0) << result.output;
    for (const char* expected :
         {"h2 origin saw GET /a", "h2 origin saw GET /b", "h2 origin saw GET /c"}) {
        EXPECT_NE(result.output.find(expected), std::string::npos) << result.output;
    }
    EXPECT_EQ(result.output.find("[502]"), std::string::npos) << result.output;
    EXPECT_EQ(origin.Connections(), 2);
}

// An HTTP/1.1 client reaches a server that speaks HTTP/2 alone: the first handshake is refused
// and tried again offering h2, the next connections offer it at once. Bodies in either framing
// arrive whole, and trailer fields come back in the last chunk.
TEST_F(Http2Test, AServerThatSpeaksOnlyHttp2IsReachedFromAnHttp11Client) {
    Http2OnlyOrigin origin(*authority_);
    gx::testing::TempFolder folder;
    const std::string file = folder.File("upload");
    std::string body(200000, '\0');
    for (size_t i = 0; i < body.size(); ++i) {
        body[i] = static_cast<char>('a' + i % 26);
    }
    std::ofstream(file, std::ios::binary) << body;
    const std::string http11 = "--http1.1 --proxy http://127.0.0.1:" + std::to_string(ProxyPort()) +
                               " --cacert '" + RootPem() + "' ";

    CurlResult get = RunCurl(http11 + "-w ' [%{http_version}]' " + origin.Url("/a"));
    EXPECT_EQ(get.output, "h2 origin saw GET /a [1.1]");
    EXPECT_EQ(origin.Refused(), 1);

    struct Upload {
        const char* description;
        const char* options;
    };
    for (const Upload& upload :
         {Upload{"with its length", ""}, Upload{"in chunks", "-H 'Transfer-Encoding: chunked' "}}) {
        SCOPED_TRACE(upload.description);
        CurlResult post = RunCurl(http11 + upload.options + "--data-binary '@" + file + "' " +
                                  origin.Url("/upload"));
        EXPECT_EQ(post.output, "h2 origin saw POST /upload");
        ASSERT_FALSE(origin.Bodies().empty());
        EXPECT_EQ(origin.Bodies().back(), body);
    }

    CurlResult grpc = RunCurl(http11 + "--raw -i " + origin.Url("/trailers"));
    EXPECT_NE(grpc.output.find("transfer-encoding: chunked"), std::string::npos) << grpc.output;
    EXPECT_NE(grpc.output.find("grpc-body"), std::string::npos) << grpc.output;
    EXPECT_NE(grpc.output.find("grpc-status: 0"), std::string::npos) << grpc.output;
    EXPECT_EQ(origin.Refused(), 1);  // learnt once
    EXPECT_EQ(origin.Connections(), 4);
}

// A body still arriving for a server that could not be reached goes nowhere: the stream gets
// its 502, and the proxy goes on serving.
TEST_F(Http2Test, ABodyForAServerThatCannotBeReachedIsDropped) {
    gx::testing::TempFolder folder;
    const std::string file = folder.File("upload");
    std::ofstream(file, std::ios::binary) << std::string(2 << 20, 'u');
    uint16_t closed = 0;
    ::close(gx::testing::ListenLoopback(closed));  // nobody listens there any more
    CurlResult result =
        Curl("--data-binary '@" + file + "' -o /dev/null -w '%{http_code} ' https://localhost:" +
             std::to_string(closed) + "/upload " + front_->Url("/after"));
    EXPECT_NE(result.output.find("502 "), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("origin saw POST /after"), std::string::npos) << result.output;
}

// ---- a client of the test's own, for what well-behaved clients never send ----

class RawHttp2Client {
  public:
    // Through the proxy's CONNECT to localhost:port, TLS trusting `rootPem`, ALPN h2 only.
    // readSettings false: nothing is read before the first request goes out, so the client does
    // not yet know the proxy's bounds (and cannot keep to them).
    RawHttp2Client(uint16_t proxyPort, uint16_t port, const std::string& rootPem,
                   bool readSettings = true)
        : port_(std::to_string(port)) {
        fd_ = ConnectThrough(proxyPort, "localhost:" + std::to_string(port));
        context_ = SSL_CTX_new(TLS_client_method());
        SSL_CTX_load_verify_locations(context_, rootPem.c_str(), nullptr);
        SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
        static const unsigned char kH2[] = {2, 'h', '2'};
        SSL_CTX_set_alpn_protos(context_, kH2, sizeof kH2);
        ssl_ = SSL_new(context_);
        SSL_set_fd(ssl_, fd_);
        SSL_set_tlsext_host_name(ssl_, "localhost");
        connected_ = fd_ >= 0 && SSL_connect(ssl_) == 1;

        nghttp2_session_callbacks* callbacks = nullptr;
        nghttp2_session_callbacks_new(&callbacks);
        nghttp2_session_callbacks_set_on_frame_recv_callback(callbacks, OnFrame);
        nghttp2_session_callbacks_set_on_stream_close_callback(callbacks, OnClose);
        nghttp2_session_callbacks_set_on_data_chunk_recv_callback(callbacks, OnData);
        nghttp2_option* options = nullptr;
        nghttp2_option_new(&options);
        nghttp2_option_set_no_auto_window_update(options, 1);  // this client never reads on
        nghttp2_option_set_peer_max_concurrent_streams(options, 1000);
        nghttp2_option_set_max_send_header_block_length(options, 1 << 20);
        nghttp2_session_client_new2(&session_, callbacks, this, options);
        nghttp2_option_del(options);
        nghttp2_session_callbacks_del(callbacks);
        nghttp2_submit_settings(session_, NGHTTP2_FLAG_NONE, nullptr, 0);
        if (readSettings) {
            Pump();
        }
    }
    ~RawHttp2Client() {
        nghttp2_session_del(session_);
        SSL_free(ssl_);
        SSL_CTX_free(context_);
        ::close(fd_);
    }

    bool Connected() const { return connected_; }
    int32_t Get(const std::string& path, const Http2Fields& more = {}) {
        Http2Fields fields = {{":method", "GET"},
                              {":scheme", "https"},
                              {":authority", "localhost:" + port_},
                              {":path", path}};
        fields.insert(fields.end(), more.begin(), more.end());
        std::vector<nghttp2_nv> nva;
        for (auto& [name, value] : fields) {
            nva.push_back({reinterpret_cast<uint8_t*>(name.data()),
                           reinterpret_cast<uint8_t*>(value.data()), name.size(), value.size(),
                           NGHTTP2_NV_FLAG_NONE});
        }
        return nghttp2_submit_request(session_, nullptr, nva.data(), nva.size(), nullptr, nullptr);
    }
    // Bytes as they are, after what the client's own session sent: frames no session would
    // write. How many of them went out before the proxy stopped taking them (it closed, or
    // stopped reading for `patienceMs`).
    size_t WriteRaw(const std::string& bytes, int patienceMs = 2000) {
        // What the proxy answers stays in its own buffers, not in this client's.
        const int small = 4096;
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        timeval wait{patienceMs / 1000, (patienceMs % 1000) * 1000};
        ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
        size_t sent = 0;
        while (sent < bytes.size()) {
            const int piece = static_cast<int>(std::min<size_t>(bytes.size() - sent, 16384));
            const int n = SSL_write(ssl_, bytes.data() + sent, piece);
            if (n <= 0) {
                break;
            }
            sent += static_cast<size_t>(n);
        }
        return sent;
    }
    void Reset(int32_t stream) {
        nghttp2_submit_rst_stream(session_, NGHTTP2_FLAG_NONE, stream, NGHTTP2_CANCEL);
    }
    // Sends what is queued, then reads what arrives until the proxy is quiet for `quiet`.
    // False once the connection is gone.
    bool Pump(int quietMs = 300) {
        const uint8_t* data = nullptr;
        ssize_t n = 0;
        while ((n = nghttp2_session_mem_send(session_, &data)) > 0) {
            if (SSL_write(ssl_, data, static_cast<int>(n)) <= 0) {
                return false;
            }
        }
        timeval wait{0, quietMs * 1000};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        char buffer[16384];
        while (true) {
            const int got = SSL_read(ssl_, buffer, sizeof buffer);
            if (got <= 0) {
                return SSL_get_error(ssl_, got) == SSL_ERROR_WANT_READ ||
                       (SSL_get_error(ssl_, got) == SSL_ERROR_SYSCALL && errno == EAGAIN);
            }
            if (nghttp2_session_mem_recv(session_, reinterpret_cast<uint8_t*>(buffer),
                                         static_cast<size_t>(got)) < 0) {
                return false;
            }
        }
    }

    std::map<int32_t, int> status;           // :status per stream
    std::map<int32_t, uint32_t> closedWith;  // error code per closed stream
    std::map<int32_t, size_t> received;      // body bytes per stream
    bool goaway = false;
    uint32_t goawayCode = 0;

  private:
    static RawHttp2Client& Of(void* user) { return *static_cast<RawHttp2Client*>(user); }
    static int OnFrame(nghttp2_session*, const nghttp2_frame* frame, void* user) {
        if (frame->hd.type == NGHTTP2_GOAWAY) {
            Of(user).goaway = true;
            Of(user).goawayCode = frame->goaway.error_code;
        }
        if (frame->hd.type == NGHTTP2_HEADERS) {
            Of(user).status[frame->hd.stream_id] = 1;
        }
        return 0;
    }
    static int OnClose(nghttp2_session*, int32_t stream, uint32_t code, void* user) {
        Of(user).closedWith[stream] = code;
        return 0;
    }
    static int OnData(nghttp2_session*, uint8_t, int32_t stream, const uint8_t*, size_t n,
                      void* user) {
        Of(user).received[stream] += n;
        return 0;
    }

    std::string port_;
    int fd_ = -1;
    SSL_CTX* context_ = nullptr;
    SSL* ssl_ = nullptr;
    nghttp2_session* session_ = nullptr;
    bool connected_ = false;
};

class Http2BoundsTest : public Http2Test {
  protected:
    std::unique_ptr<RawHttp2Client> Client(bool readSettings = true) {
        return std::make_unique<RawHttp2Client>(ProxyPort(), front_->Port(), RootPem(),
                                                readSettings);
    }
};

TEST_F(Http2BoundsTest, AnHpackBombResetsItsStreamAndTheConnectionGoesOn) {
    auto client = Client(false);
    ASSERT_TRUE(client->Connected());
    // Each field is small on the wire once indexed; decompressed, the list passes 64 KiB.
    Http2Fields huge;
    for (int i = 0; i < 200; ++i) {
        huge.emplace_back("x-filler", std::string(1000, 'a'));
    }
    const int32_t bomb = client->Get("/bomb", huge);
    ASSERT_TRUE(client->Pump());
    EXPECT_EQ(client->closedWith[bomb], static_cast<uint32_t>(NGHTTP2_ENHANCE_YOUR_CALM))
        << "goaway " << client->goaway << " code " << client->goawayCode;
    const int32_t fine = client->Get("/fine");
    ASSERT_TRUE(client->Pump());
    EXPECT_EQ(client->closedWith.count(fine), 1u);
    EXPECT_EQ(client->closedWith[fine], 0u);
    EXPECT_EQ(front_->Origin().RequestCount(), 1);  // the bomb never travelled
}

TEST_F(Http2BoundsTest, AClientThatResetsStreamsFasterThanItCouldUseThemIsDisconnected) {
    auto client = Client();
    ASSERT_TRUE(client->Connected());
    for (int round = 0; round < 10 && !client->goaway; ++round) {
        std::vector<int32_t> opened;
        for (int i = 0; i < 90; ++i) {
            opened.push_back(client->Get("/never"));
        }
        client->Pump(1);  // the requests are out: each reset ends a stream the proxy began
        for (int32_t stream : opened) {
            client->Reset(stream);
        }
        client->Pump(1);
    }
    client->Pump();
    EXPECT_TRUE(client->goaway);
    EXPECT_NE(client->goawayCode, 0u);
}

// A frame's 9-byte header: length, type, flags, stream.
std::string FrameHeader(uint32_t length, uint8_t type, uint8_t flags, uint32_t stream) {
    return {static_cast<char>(length >> 16), static_cast<char>(length >> 8),
            static_cast<char>(length),       static_cast<char>(type),
            static_cast<char>(flags),        static_cast<char>(stream >> 24),
            static_cast<char>(stream >> 16), static_cast<char>(stream >> 8),
            static_cast<char>(stream)};
}

std::string Repeated(const std::string& frame, size_t times) {
    std::string all;
    all.reserve(frame.size() * times);
    for (size_t i = 0; i < times; ++i) {
        all += frame;
    }
    return all;
}

// Frames that each cost the proxy an answer or a little state, sent by a client that never
// reads: the proxy ends the connection (or stops reading it) and its memory stays flat, and
// other clients are served meanwhile.
TEST_F(Http2BoundsTest, FloodsOfFramesEndTheConnectionAndCostLittle) {
    struct Case {
        const char* description;
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {"PING, each to be acknowledged",
         Repeated(FrameHeader(8, NGHTTP2_PING, 0, 0) + std::string(8, 'p'), 1500000)},
        {"empty SETTINGS, each to be acknowledged",
         Repeated(FrameHeader(0, NGHTTP2_SETTINGS, 0, 0), 500000)},
        {"a header block continued without end",
         FrameHeader(1, NGHTTP2_HEADERS, 0, 1) + "\x82" +
             Repeated(FrameHeader(0, NGHTTP2_CONTINUATION, 0, 1), 500000)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        auto client = Client();
        ASSERT_TRUE(client->Connected());
        const long before = ResidentKiB();
        const size_t sent = client->WriteRaw(c.bytes);
        EXPECT_LT(sent, c.bytes.size()) << "the proxy took the whole flood";
        if (kResidentMemoryMeaningful) {
            EXPECT_LT(ResidentKiB() - before, 32 * 1024) << "KiB";
        }
        auto other = Client();
        ASSERT_TRUE(other->Connected());
        const int32_t stream = other->Get("/fine");
        ASSERT_TRUE(other->Pump());
        EXPECT_EQ(other->closedWith.count(stream), 1u);
        EXPECT_EQ(other->closedWith[stream], 0u);
    }
}

// A server that never opens its window to an upload: the proxy holds what one stream may buffer
// and no more, whether the client speaks HTTP/2 or HTTP/1.1, and lets go when the client does.
TEST_F(Http2BoundsTest, AServerThatNeverOpensItsWindowHoldsAnUploadBounded) {
    Http2OnlyOrigin origin(*authority_);
    origin.NeverOpenWindow();
    gx::testing::TempFolder folder;
    const std::string file = folder.File("upload");
    std::ofstream(file, std::ios::binary) << std::string(96u << 20, 'u');
    for (const char* protocol : {"--http2", "--http1.1"}) {
        SCOPED_TRACE(protocol);
        const long before = ResidentKiB();
        long during = 0;
        std::thread measure([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(2500));
            during = ResidentKiB();
        });
        CurlResult result = RunCurl(std::string(protocol) +
                                    " --proxy http://127.0.0.1:" + std::to_string(ProxyPort()) +
                                    " --cacert '" + RootPem() + "' --max-time 4 --data-binary '@" +
                                    file + "' " + origin.Url("/upload"));
        measure.join();
        EXPECT_NE(result.exitCode, 0) << "the upload cannot have ended: " << result.output;
        EXPECT_LT(during - before, 32 * 1024) << "KiB";
    }
    EXPECT_EQ(origin.Requests(), 0);
}

// A client that opens no window: the proxy sends what the window allows, reads its server only
// as far as one stream may buffer, and its memory stays flat.
TEST_F(Http2BoundsTest, AStalledReaderIsBoundedByItsWindow) {
    auto client = Client();
    ASSERT_TRUE(client->Connected());
    const int32_t stream = client->Get("/big/" + std::to_string(96u << 20));
    // The origin sends its head once its own copy of the body exists: measure from then on.
    for (int i = 0; i < 50 && client->status.count(stream) == 0; ++i) {
        ASSERT_TRUE(client->Pump(100));
    }
    ASSERT_EQ(client->status.count(stream), 1u);
    const long before = ResidentKiB();
    ASSERT_TRUE(client->Pump(1500));
    EXPECT_LE(client->received[stream], 65535u);  // the client's initial window
    EXPECT_EQ(client->closedWith.count(stream), 0u);
    const long grown = ResidentKiB() - before;
    EXPECT_LT(grown, 32 * 1024) << "KiB";
}

}  // namespace
}  // namespace gx::test
