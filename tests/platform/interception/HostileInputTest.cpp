// Requests that two HTTP parsers could read differently, oversized or slow input, servers that
// never answer: the proxy refuses or times out, and never lets an unjudged request through.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>

#include "platform/interception/ProxyTestSupport.h"
#include "platform/interception/TestOrigin.h"

namespace gx::test {
namespace {

class HostileInputTest : public ProxyTest {
  protected:
    TestOrigin origin_;
};

TEST_F(HostileInputTest, AmbiguousOrMalformedRequestsAreRefusedAndNeverJudgedOrRelayed) {
    ASSERT_TRUE(StartLibrary());
    const std::string url = origin_.Url("/x");
    const std::string self = "http://127.0.0.1:" + std::to_string(ProxyPort()) + "/";
    struct Case {
        const char* name;
        std::string request;
        int status;
    };
    const Case cases[] = {
        {"two spaces in the request line", "GET  " + url + " HTTP/1.1\r\nHost: h\r\n\r\n", 400},
        {"words after the version", "GET " + url + " HTTP/1.1 x\r\nHost: h\r\n\r\n", 400},
        {"version in lower case", "GET " + url + " http/1.1\r\nHost: h\r\n\r\n", 400},
        {"unsupported version", "GET " + url + " HTTP/2.0\r\nHost: h\r\n\r\n", 505},
        {"header block over 64 KiB",
         "GET " + url + " HTTP/1.1\r\nX-Big: " + std::string(70 * 1024, 'a') + "\r\n\r\n", 431},
        {"length and chunked together",
         "POST " + url + " HTTP/1.1\r\nContent-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n",
         400},
        {"two different lengths",
         "POST " + url + " HTTP/1.1\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\nabcd", 400},
        {"a length list that disagrees",
         "POST " + url + " HTTP/1.1\r\nContent-Length: 3, 4\r\n\r\nabcd", 400},
        {"a length that is not a number",
         "POST " + url + " HTTP/1.1\r\nContent-Length: +3\r\n\r\nabc", 400},
        {"folded header line", "GET " + url + " HTTP/1.1\r\nX-A: b\r\n c\r\n\r\n", 400},
        {"NUL in the header",
         "GET " + url + " HTTP/1.1\r\nX-A: b" + std::string(1, '\0') + "c\r\n\r\n", 400},
        {"bare CR in the header", "GET " + url + " HTTP/1.1\r\nX-A: b\rc\r\n\r\n", 400},
        {"bare LF line ends", "GET " + url + " HTTP/1.1\nHost: h\n\n", 400},
        {"space before the colon", "GET " + url + " HTTP/1.1\r\nHost : h\r\n\r\n", 400},
        {"unknown transfer coding",
         "POST " + url + " HTTP/1.1\r\nTransfer-Encoding: foo, chunked\r\n\r\n0\r\n\r\n", 400},
        {"chunked not last",
         "POST " + url + " HTTP/1.1\r\nTransfer-Encoding: chunked, gzip\r\n\r\n0\r\n\r\n", 400},
        {"chunked twice",
         "POST " + url +
             " HTTP/1.1\r\nTransfer-Encoding: chunked\r\nTransfer-Encoding: "
             "chunked\r\n\r\n0\r\n\r\n",
         400},
        {"request for the proxy itself", "GET " + self + " HTTP/1.1\r\nHost: h\r\n\r\n", 508},
        {"CONNECT to the proxy itself",
         "CONNECT 127.0.0.1:" + std::to_string(ProxyPort()) + " HTTP/1.1\r\nHost: h\r\n\r\n", 508},
        {"origin form: names no origin",
         "GET /x HTTP/1.1\r\nHost: " + origin_.Authority() + "\r\n\r\n", 400},
        {"user information in the address",
         "GET http://good.example@" + origin_.Authority() + "/ HTTP/1.1\r\nHost: h\r\n\r\n", 400},
        {"another scheme", "GET ftp://" + origin_.Authority() + "/ HTTP/1.1\r\nHost: h\r\n\r\n",
         400},
        {"two Host fields", "GET " + url + " HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n", 400},
        {"not HTTP at all",
         std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11) + std::string(64, 'r') +
             "\r\n\r\n",
         400},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RawClient client(ProxyPort());
        client.Send(c.request);
        std::string response = client.ReadToEnd();
        EXPECT_EQ(StatusOf(response), c.status) << response.substr(0, 200);
        EXPECT_TRUE(client.PeerClosed());
    }
    EXPECT_EQ(Program().PartCount(), 0u);
    EXPECT_EQ(origin_.RequestCount(), 0);
}

TEST_F(HostileInputTest, ARefusalComesAfterTheResponsesOwedToEarlierRequests) {
    ASSERT_TRUE(StartLibrary());
    RawClient client(ProxyPort());
    client.Send("GET " + origin_.Url("/fine") + " HTTP/1.1\r\nHost: h\r\n\r\n" + "GET " +
                origin_.Url("/bad") + " HTTP/1.1\r\nX-A: b\r\n c\r\n\r\n" + "GET " +
                origin_.Url("/never-sent") + " HTTP/1.1\r\nHost: h\r\n\r\n");
    std::string response = client.ReadToEnd();
    std::string first = TestOrigin::ResponseFor("GET", "/fine");
    ASSERT_TRUE(response.starts_with(first)) << response;
    EXPECT_EQ(StatusOf(response.substr(first.size())), 400);
    EXPECT_EQ(origin_.RequestCount(), 1);
    EXPECT_EQ(Program().PartCount(), 1u);
}

TEST_F(HostileInputTest, AChunkedBodyIsRelayedWhole) {
    ASSERT_TRUE(StartLibrary());
    RawClient client(ProxyPort());
    client.Send("POST " + origin_.Url("/upload") +
                " HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n"
                "4;name=v\r\nabcd\r\n3\r\nefg\r\n0\r\nX-T: 1\r\n\r\n" +
                "GET " + origin_.Url("/next") + " HTTP/1.1\r\nHost: h\r\n\r\n");
    std::string expected =
        TestOrigin::ResponseFor("POST", "/upload") + TestOrigin::ResponseFor("GET", "/next");
    EXPECT_EQ(client.ReadAtLeast(expected.size()), expected);
    EXPECT_EQ(origin_.Bodies().at(0), "abcdefg");
    EXPECT_EQ(Program().PartCount(), 2u);  // the bytes after the body were a request of its own
}

TEST_F(HostileInputTest, CollectedRequestsAreBounded) {
    limits_.maxCollectedBody = 1000;
    Program().onPart = [](ENDPOINT_ID, PFObject*) { return DPCR_FILTER; };
    ASSERT_TRUE(StartLibrary());
    RawClient client(ProxyPort());
    client.Send("POST " + origin_.Url("/x") + " HTTP/1.1\r\nContent-Length: 5000\r\n\r\n" +
                std::string(5000, 'b'));
    EXPECT_EQ(StatusOf(client.ReadToEnd()), 413);
    EXPECT_EQ(origin_.RequestCount(), 0);
}

TEST_F(HostileInputTest, SlowHeadersIdleClientsAndSilentServersTimeOut) {
    limits_.headerTimeout = 1s;
    limits_.idleTimeout = 1s;
    limits_.responseTimeout = 1s;
    ASSERT_TRUE(StartLibrary());
    // Slowloris: a header line now and then, never the end of the head.
    RawClient slow(ProxyPort());
    slow.Send("GET " + origin_.Url("/x") + " HTTP/1.1\r\n");
    auto start = std::chrono::steady_clock::now();
    std::string response;
    for (int i = 0; i < 100 && !slow.PeerClosed(); ++i) {
        slow.Send("X-" + std::to_string(i) + ": a\r\n");
        response += slow.ReadAtLeast(1, 200ms);
    }
    response += slow.ReadToEnd(5s);
    EXPECT_EQ(StatusOf(response), 408);
    EXPECT_TRUE(slow.PeerClosed());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 15s);

    RawClient idle(ProxyPort());
    EXPECT_EQ(idle.ReadToEnd(15s), "");
    EXPECT_TRUE(idle.PeerClosed());

    RawClient waiting(ProxyPort());
    waiting.Send("GET " + origin_.Url("/never") + " HTTP/1.1\r\nHost: h\r\n\r\n");
    EXPECT_EQ(StatusOf(waiting.ReadToEnd(15s)), 504);
    EXPECT_TRUE(waiting.PeerClosed());
}

TEST_F(HostileInputTest, AnOriginThatRefusesTheConnectionGivesBadGateway) {
    ASSERT_TRUE(StartLibrary());
    uint16_t closedPort = 0;
    {
        TestOrigin gone;
        closedPort = gone.Port();
    }
    RawClient client(ProxyPort());
    client.Send("GET http://127.0.0.1:" + std::to_string(closedPort) +
                "/ HTTP/1.1\r\nHost: h\r\n\r\n");
    EXPECT_EQ(StatusOf(client.ReadToEnd()), 502);
}

TEST_F(HostileInputTest, AClientThatDoesNotReadDoesNotMakeTheProxyBufferTheResponse) {
    ASSERT_TRUE(StartLibrary());
    constexpr size_t kSize = 96 * 1024 * 1024;
    RawClient client(ProxyPort());
    client.Send("GET " + origin_.Url("/big/" + std::to_string(kSize)) +
                " HTTP/1.1\r\nHost: h\r\n\r\n");
    // The head arrives once the origin has made its copy of the body, which is then counted
    // before the measurement starts (a sanitizer's shadow of that copy too).
    std::string head = client.ReadUntil("\r\n\r\n");
    std::this_thread::sleep_for(300ms);  // let the transfer stall against the client
    long before = ResidentKiB();
    std::this_thread::sleep_for(700ms);
    long stalled = ResidentKiB();
    // The proxy adds little on top of what was counted.
    EXPECT_LT(stalled - before, 32 * 1024);
    size_t received = 0;
    while (received < kSize) {
        std::string part = client.ReadAtLeast(std::min<size_t>(kSize - received, 1 << 20));
        if (part.empty()) {
            break;
        }
        received += part.size();
    }
    EXPECT_EQ(received, kSize);
}

int OpenDescriptors() {
    int count = 0;
    for (int fd = 0; fd < 65536; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1) {
            ++count;
        }
    }
    return count;
}

TEST_F(HostileInputTest, RunningOutOfDescriptorsDoesNotStopTheProxy) {
    ASSERT_TRUE(StartLibrary());
    rlimit saved{};
    ::getrlimit(RLIMIT_NOFILE, &saved);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(OpenDescriptors() + 16);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    std::vector<int> fillers;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) {
        fillers.push_back(fd);
    }
    // One descriptor for the client: the proxy cannot accept it yet.
    ::close(fillers.back());
    fillers.pop_back();
    RawClient client(ProxyPort());
    ASSERT_TRUE(client.Connected());
    client.Send("GET " + origin_.Url("/after") + " HTTP/1.1\r\nHost: h\r\n\r\n");
    EXPECT_EQ(client.ReadAtLeast(1, 300ms), "");
    // Descriptors come back: the waiting connection is served.
    for (int fd : fillers) {
        ::close(fd);
    }
    ::setrlimit(RLIMIT_NOFILE, &saved);
    std::string expected = TestOrigin::ResponseFor("GET", "/after");
    EXPECT_EQ(client.ReadAtLeast(expected.size()), expected);
}

}  // namespace
}  // namespace gx::test
