// What the proxy relays without looking at it (a long body of known length, a tunnel) moves
// inside the kernel: byte for byte, bounded when the client stops reading, and through the
// buffers, still byte for byte, where the kernel refuses to splice.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "platform/interception/ProxyTestSupport.h"
#include "platform/interception/SpliceRelay.h"

namespace gx::test {
namespace {

constexpr uint64_t kMiB = 1024 * 1024;

// The bytes a side sends: byte i of stream `seed`, computable anywhere in the stream, so that
// the receiver checks every byte against what was sent. The first byte is TLS's, so that a
// tunnel carrying it is never taken for HTTP.
char PatternByte(uint64_t seed, uint64_t i) {
    if (i == 0) {
        return '\x16';
    }
    uint64_t x = (seed << 40) ^ (i >> 3);
    x *= 0x9E3779B97F4A7C15ULL;
    x ^= x >> 29;
    x *= 0xBF58476D1CE4E5B9ULL;
    x ^= x >> 32;
    return static_cast<char>(x >> ((i & 7) * 8));
}

void FillPattern(uint64_t seed, uint64_t offset, char* out, size_t n) {
    for (size_t k = 0; k < n; ++k) {
        out[k] = PatternByte(seed, offset + k);
    }
}

// Waits for the descriptor to be readable; false when the time ran out.
bool WaitReadable(int fd, std::chrono::milliseconds limit) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, static_cast<int>(limit.count())) > 0;
}

// Reads to the end of a head ("\r\n\r\n"); what came after it is left in `rest`.
std::string ReadHead(int fd, std::string& rest) {
    std::string received;
    char buffer[4096];
    while (received.find("\r\n\r\n") == std::string::npos && WaitReadable(fd, 10s)) {
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            break;
        }
        received.append(buffer, static_cast<size_t>(n));
    }
    size_t end = received.find("\r\n\r\n");
    if (end == std::string::npos) {
        return received;
    }
    rest = received.substr(end + 4);
    return received.substr(0, end + 4);
}

// What a receiver saw of a pattern stream.
struct Received {
    uint64_t bytes = 0;
    int64_t firstMismatch = -1;  // the offset of the first byte that differs; -1 = none
};

void CheckAgainstPattern(uint64_t seed, const char* data, size_t n, Received& received) {
    if (received.firstMismatch >= 0) {
        received.bytes += n;
        return;
    }
    for (size_t k = 0; k < n; ++k) {
        if (data[k] != PatternByte(seed, received.bytes + k)) {
            received.firstMismatch = static_cast<int64_t>(received.bytes + k);
            break;
        }
    }
    received.bytes += n;
}

// Reads up to `limit` bytes (or to the end of the stream), each checked against the pattern.
Received ReceivePattern(int fd, uint64_t seed, uint64_t limit, const std::string& first = {}) {
    Received received;
    CheckAgainstPattern(seed, first.data(), first.size(), received);
    std::vector<char> buffer(256 * 1024);
    while (received.bytes < limit && WaitReadable(fd, 20s)) {
        size_t wanted =
            static_cast<size_t>(std::min<uint64_t>(buffer.size(), limit - received.bytes));
        ssize_t n = ::recv(fd, buffer.data(), wanted, 0);
        if (n <= 0) {
            break;
        }
        CheckAgainstPattern(seed, buffer.data(), static_cast<size_t>(n), received);
    }
    return received;
}

// Sends `size` bytes of the pattern; false when the peer went away first.
bool SendPattern(int fd, uint64_t seed, uint64_t size) {
    std::vector<char> buffer(256 * 1024);
    for (uint64_t sent = 0; sent < size;) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), size - sent));
        FillPattern(seed, sent, buffer.data(), n);
        for (size_t off = 0; off < n;) {
            ssize_t written = ::send(fd, buffer.data() + off, n - off, MSG_NOSIGNAL);
            if (written <= 0) {
                return false;
            }
            off += static_cast<size_t>(written);
        }
        sent += n;
    }
    return true;
}

// An origin for one connection. As a web server it answers the request with `size` bytes of
// pattern 1 and a Content-Length; as a tunnel's end it sends `size` bytes of pattern 1 while it
// checks what it receives against pattern 2.
class PatternOrigin {
  public:
    enum class Mode { Web, Tunnel };

    // endsFirst: as a tunnel's end, the origin ends its side as soon as it sent everything,
    // while the client still sends.
    PatternOrigin(Mode mode, uint64_t size, bool endsFirst = false) : endsFirst_(endsFirst) {
        listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listenFd_, 4);
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this, mode, size] { Serve(mode, size); });
    }
    ~PatternOrigin() {
        ::shutdown(listenFd_, SHUT_RDWR);
        if (thread_.joinable()) {
            thread_.join();
        }
        ::close(listenFd_);
    }

    uint16_t Port() const { return port_; }
    std::string Authority() const { return "127.0.0.1:" + std::to_string(port_); }
    // The origin's part is over: all sent (and, as a tunnel's end, all received), or the
    // connection was closed under it.
    bool Ended() const { return ended_; }
    bool SentAll() const { return sentAll_; }
    Received Got() {
        std::lock_guard lock(mutex_);
        return received_;
    }

  private:
    void Serve(Mode mode, uint64_t size) {
        if (!WaitReadable(listenFd_, 30s)) {
            ended_ = true;
            return;
        }
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            ended_ = true;
            return;
        }
        timeval timeout{30, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        if (mode == Mode::Web) {
            std::string rest;
            ReadHead(fd, rest);
            std::string head =
                "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                "Content-Length: " +
                std::to_string(size) + "\r\n\r\n";
            sentAll_ = ::send(fd, head.data(), head.size(), MSG_NOSIGNAL) ==
                           static_cast<ssize_t>(head.size()) &&
                       SendPattern(fd, 1, size);
            ended_ = true;
            WaitReadable(fd, 20s);  // the proxy closes, or keeps the connection for more
        } else {
            // Both ways at once; the origin ends its side once the client ended its own.
            std::thread reader([this, fd, size] {
                Received got = ReceivePattern(fd, 2, size);
                WaitReadable(fd, 20s);  // the end of the client's stream
                std::lock_guard lock(mutex_);
                received_ = got;
            });
            sentAll_ = SendPattern(fd, 1, size);
            if (endsFirst_) {
                ::shutdown(fd, SHUT_WR);
            }
            reader.join();
            ::shutdown(fd, SHUT_WR);
            ended_ = true;
        }
        ::close(fd);
    }

    int listenFd_ = -1;
    uint16_t port_ = 0;
    bool endsFirst_ = false;
    std::atomic<bool> ended_{false};
    std::atomic<bool> sentAll_{false};
    std::mutex mutex_;
    Received received_;
    std::thread thread_;
};

std::atomic<long> gSplices{0};
std::atomic<long> gSplicesAllowed{-1};  // calls that reach the kernel; -1 = all

ssize_t SpliceThroughTheSeam(int from, int to, size_t length, unsigned flags) {
    long call = gSplices++;
    if (gSplicesAllowed >= 0 && call >= gSplicesAllowed) {
        errno = EINVAL;  // what the kernel says of descriptors it cannot splice
        return -1;
    }
    return ::splice(from, nullptr, to, nullptr, length, flags);
}

class ZeroCopyRelayTest : public ProxyTest {
  protected:
    void SetUp() override {
        ProxyTest::SetUp();
        gSplices = 0;
        gSplicesAllowed = -1;
        interception::SetSpliceCallForTesting(SpliceThroughTheSeam);
    }
    void TearDown() override {
        ProxyTest::TearDown();
        interception::SetSpliceCallForTesting(nullptr);
    }

    // A body of `size` bytes from the origin through the proxy: what the client received.
    Received FetchBody(uint64_t size) {
        PatternOrigin origin(PatternOrigin::Mode::Web, size);
        int fd = ConnectLoopback(ProxyPort());
        std::string request = "GET http://" + origin.Authority() +
                              "/pattern HTTP/1.1\r\nHost: " + origin.Authority() + "\r\n\r\n";
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        std::string rest;
        std::string head = ReadHead(fd, rest);
        EXPECT_EQ(StatusOf(head), 200) << head;
        Received received = ReceivePattern(fd, 1, size, rest);
        ::close(fd);
        EXPECT_TRUE(WaitFor([&] { return origin.Ended(); }, 20s));
        EXPECT_TRUE(origin.SentAll());
        return received;
    }

    // `size` bytes each way through a CONNECT tunnel; what the client and the origin received.
    std::pair<Received, Received> ThroughTunnel(uint64_t size, bool originEndsFirst = false) {
        PatternOrigin origin(PatternOrigin::Mode::Tunnel, size, originEndsFirst);
        int fd = ConnectLoopback(ProxyPort());
        std::string request = "CONNECT " + origin.Authority() +
                              " HTTP/1.1\r\nHost: " + origin.Authority() + "\r\n\r\n";
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        std::string rest;
        std::string head = ReadHead(fd, rest);
        EXPECT_EQ(StatusOf(head), 200) << head;
        std::thread writer([fd, size] {
            SendPattern(fd, 2, size);
            ::shutdown(fd, SHUT_WR);
        });
        Received atClient = ReceivePattern(fd, 1, size, rest);
        writer.join();
        EXPECT_TRUE(WaitFor([&] { return origin.Ended(); }, 20s));
        ::close(fd);
        return {atClient, origin.Got()};
    }
};

TEST_F(ZeroCopyRelayTest, AHundredMebibyteBodyArrivesByteForByteThroughTheKernel) {
    ASSERT_TRUE(StartLibrary());
    constexpr uint64_t kSize = 100 * kMiB;
    Received received = FetchBody(kSize);
    EXPECT_EQ(received.bytes, kSize);
    EXPECT_EQ(received.firstMismatch, -1);
    EXPECT_GT(gSplices, 0);  // the body went through the kernel, not through the buffers
}

TEST_F(ZeroCopyRelayTest, AHundredMebibyteTunnelArrivesByteForByteBothWays) {
    ASSERT_TRUE(StartLibrary());
    constexpr uint64_t kSize = 100 * kMiB;
    auto [atClient, atOrigin] = ThroughTunnel(kSize);
    EXPECT_EQ(atClient.bytes, kSize);
    EXPECT_EQ(atClient.firstMismatch, -1);
    EXPECT_EQ(atOrigin.bytes, kSize);
    EXPECT_EQ(atOrigin.firstMismatch, -1);
    EXPECT_GT(gSplices, 0);
}

TEST_F(ZeroCopyRelayTest, AServerThatEndsItsSideFirstStillGetsAllTheClientSends) {
    ASSERT_TRUE(StartLibrary());
    constexpr uint64_t kSize = 32 * kMiB;
    auto [atClient, atOrigin] = ThroughTunnel(kSize, true);
    EXPECT_EQ(atClient.bytes, kSize);
    EXPECT_EQ(atClient.firstMismatch, -1);
    EXPECT_EQ(atOrigin.bytes, kSize);
    EXPECT_EQ(atOrigin.firstMismatch, -1);
}

TEST_F(ZeroCopyRelayTest, AClientThatStopsReadingMidBodyHoldsLittleAndTheOriginIsClosed) {
    limits_.responseTimeout = 1s;
    limits_.idleTimeout = 1s;
    ASSERT_TRUE(StartLibrary());
    PatternOrigin origin(PatternOrigin::Mode::Web, 512 * kMiB);
    int fd = ConnectLoopback(ProxyPort());
    std::string request = "GET http://" + origin.Authority() +
                          "/pattern HTTP/1.1\r\nHost: " + origin.Authority() + "\r\n\r\n";
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string rest;
    EXPECT_EQ(StatusOf(ReadHead(fd, rest)), 200);
    Received some = ReceivePattern(fd, 1, kMiB, rest);  // then the client reads no more
    EXPECT_EQ(some.firstMismatch, -1);
    std::this_thread::sleep_for(300ms);
    long before = ResidentKiB();
    std::this_thread::sleep_for(500ms);
    EXPECT_LT(ResidentKiB() - before, 32 * 1024);
    EXPECT_GT(gSplices, 0);  // the stall is the kernel relay's, not the buffers'
    // The stalled transfer is given up: the origin's connection is closed under it.
    EXPECT_TRUE(WaitFor([&] { return origin.Ended(); }, 30s));
    EXPECT_FALSE(origin.SentAll());
    ::close(fd);
}

TEST_F(ZeroCopyRelayTest, WhereTheKernelRefusesTheBytesGoThroughTheBuffersUnchanged) {
    ASSERT_TRUE(StartLibrary());
    constexpr uint64_t kSize = 16 * kMiB;
    struct Case {
        const char* name;
        long allowed;  // splice calls that succeed before the kernel refuses
    };
    const Case cases[] = {
        {"refused from the first call", 0},
        {"refused while reading, the pipe empty", 2},
        {"refused while writing, the pipe full", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        gSplices = 0;
        gSplicesAllowed = c.allowed;
        Received body = FetchBody(kSize);
        EXPECT_EQ(body.bytes, kSize);
        EXPECT_EQ(body.firstMismatch, -1);
        gSplices = 0;
        auto [atClient, atOrigin] = ThroughTunnel(kSize);
        EXPECT_EQ(atClient.bytes, kSize);
        EXPECT_EQ(atClient.firstMismatch, -1);
        EXPECT_EQ(atOrigin.bytes, kSize);
        EXPECT_EQ(atOrigin.firstMismatch, -1);
    }
}

}  // namespace
}  // namespace gx::test
