// Transparent mode end to end: the driver (gx-driver install) in a network namespace of the
// test's own, a client there that knows nothing of any proxy, an origin across a veth pair in a
// second namespace. Needs root, nftables and iproute2; skipped otherwise.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/capability.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include "platform/driver/DriverConfig.h"
#include "platform/interception/ProxyTestSupport.h"
#include "platform/interception/SocketMark.h"
#include "platform/interception/TestOrigin.h"
#include "platform/interception/TlsTestOrigin.h"
#include "platform/tls/RootAuthority.h"
#include "platform/tls/TrustMarker.h"

namespace gx::test {
namespace {

const std::string kDriverTool = std::string(GX_PROGRAM_DIR) + "/gx-driver";

bool Shell(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Output(const std::string& command) {
    std::string text;
    if (FILE* pipe = ::popen((command + " 2>&1").c_str(), "r")) {
        char chunk[4096];
        size_t n = 0;
        while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) {
            text.append(chunk, n);
        }
        ::pclose(pipe);
    }
    return text;
}

// Moves the calling thread into a named namespace; threads and sockets it creates stay there.
bool EnterNamespace(const std::string& name) {
    int fd = ::open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    bool ok = ::setns(fd, CLONE_NEWNET) == 0;
    ::close(fd);
    return ok;
}

class TransparentModeTest : public ProxyTest {
  protected:
    void SetUp() override {
        ProxyTest::SetUp();
        if (::geteuid() != 0) {
            GTEST_SKIP() << "transparent mode tests need root (network namespaces, nftables)";
        }
        if (!Shell("nft --version") || !Shell("ip -V")) {
            GTEST_SKIP() << "transparent mode tests need nftables and iproute2";
        }
        std::string id = std::to_string(::getpid());
        client_ = "gxc" + id;
        origin_ = "gxo" + id;
        home_ = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
        bool ready = Shell("ip netns add " + client_) && Shell("ip netns add " + origin_) &&
                     Shell("ip link add " + client_ + " type veth peer name " + origin_) &&
                     Shell("ip link set " + client_ + " netns " + client_) &&
                     Shell("ip link set " + origin_ + " netns " + origin_) &&
                     Shell("ip -n " + client_ + " addr add 10.77.0.1/24 dev " + client_) &&
                     Shell("ip -n " + origin_ + " addr add 10.77.0.2/24 dev " + origin_) &&
                     Shell("ip -n " + client_ + " addr add fd77::1/64 dev " + client_ + " nodad") &&
                     Shell("ip -n " + origin_ + " addr add fd77::2/64 dev " + origin_ + " nodad") &&
                     Shell("ip -n " + client_ + " link set lo up") &&
                     Shell("ip -n " + origin_ + " link set lo up") &&
                     Shell("ip -n " + client_ + " link set " + client_ + " up") &&
                     Shell("ip -n " + origin_ + " link set " + origin_ + " up");
        ASSERT_TRUE(ready) << "cannot build the test namespaces";
        namespaces_ = true;
        ASSERT_TRUE(EnterNamespace(origin_));
        server_ = std::make_unique<TestOrigin>(true);
        ASSERT_TRUE(EnterNamespace(client_));
        conf_ = dataHome_ + "/driver.conf";
        program_ = dataHome_ + "/gardalix";
        ASSERT_TRUE(Shell("cp /bin/true " + program_));
        ::setenv(gx::kDriverConfigEnvironment, conf_.c_str(), 1);
        ASSERT_TRUE(Driver("install")) << Output(DriverCommand("install"));
        ASSERT_TRUE(StartLibrary());
        ASSERT_TRUE(interception::TransparentModeOn());
    }

    void TearDown() override {
        ProxyTest::TearDown();
        server_.reset();
        if (home_ >= 0) {
            ::setns(home_, CLONE_NEWNET);
            ::close(home_);
        }
        if (namespaces_) {
            Shell("ip netns del " + client_);
            Shell("ip netns del " + origin_);
        }
    }

    // The tool finds the configuration file through the environment, as the library does.
    std::string DriverCommand(const std::string& command) {
        return kDriverTool + " " + command + " --program " + program_;
    }
    bool Driver(const std::string& command) { return Shell(DriverCommand(command)); }

    std::string Url(const std::string& path) {
        return "http://10.77.0.2:" + std::to_string(server_->Port()) + path;
    }

    std::string client_;
    std::string origin_;
    std::string conf_;
    std::string program_;
    int home_ = -1;
    bool namespaces_ = false;
    std::unique_ptr<TestOrigin> server_;
};

TEST_F(TransparentModeTest, APlainClientIsJudgedWithItsOriginalDestinationAndProcess) {
    Program().onPart = [](ENDPOINT_ID id, PFObject* object) {
        if (StreamText(object, HS_STATUS).find("listed") == std::string::npos) {
            return DPCR_BYPASS;
        }
        PostAnswer(id, "HTTP/1.1 404 Not OK", "bloqu\xE9", true, 2048);
        return DPCR_BLOCK;
    };
    CurlResult blocked = RunCurl("--noproxy '*' " + Url("/listed"));
    EXPECT_EQ(blocked.output, "bloqu\xE9");
    CurlResult passed = RunCurl("--noproxy '*' " + Url("/free"));
    EXPECT_EQ(passed.output, "origin saw GET /free");
    CurlResult passed6 = RunCurl(
        "--noproxy '*' -g 'http://[fd77::2]:" + std::to_string(server_->Port()) + "/free6'");
    EXPECT_EQ(passed6.output, "origin saw GET /free6");
    EXPECT_EQ(server_->RequestCount(), 2);

    std::lock_guard lock(Program().mutex);
    ASSERT_EQ(Program().partLines.size(), 3u);
    EXPECT_EQ(Program().partLines[1], "GET /free HTTP/1.1\r\n");
    EXPECT_NE(Program().partHeaders[1].find("Host: 10.77.0.2:" + std::to_string(server_->Port())),
              std::string::npos);
    ASSERT_EQ(Program().connected.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const NF_TCP_CONN_INFO& info = Program().connected[i];
        EXPECT_EQ(info.direction, NF_D_OUT);
        EXPECT_TRUE(Program().connectedNames[i].ends_with("/curl")) << Program().connectedNames[i];
        sockaddr_in6 remote{};
        std::memcpy(&remote, info.remoteAddress, sizeof remote);
        EXPECT_EQ(ntohs(remote.sin6_port), server_->Port());  // same offset in both families
    }
    sockaddr_in remote{};
    std::memcpy(&remote, Program().connected[0].remoteAddress, sizeof remote);
    EXPECT_EQ(remote.sin_family, AF_INET);
    EXPECT_EQ(remote.sin_addr.s_addr, inet_addr("10.77.0.2"));
    sockaddr_in6 remote6{};
    std::memcpy(&remote6, Program().connected[2].remoteAddress, sizeof remote6);
    EXPECT_EQ(remote6.sin6_family, AF_INET6);
}

int ConnectTo(const std::string& address, uint16_t port, uint32_t mark) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (mark != 0) {
        interception::SetSocketMark(fd, mark);
    }
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    target.sin_addr.s_addr = inet_addr(address.c_str());
    if (::connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::string Exchange(int fd, const std::string& request) {
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    ::shutdown(fd, SHUT_WR);
    std::string received;
    char chunk[4096];
    for (ssize_t n; (n = ::recv(fd, chunk, sizeof chunk, 0)) > 0;) {
        received.append(chunk, static_cast<size_t>(n));
    }
    ::close(fd);
    return received;
}

TEST_F(TransparentModeTest, LoopbackAndMarkedConnectionsAreNotRedirected) {
    TestOrigin local;  // in the client's namespace, on 127.0.0.1
    std::string request = "GET /direct HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n";
    int loopback = ConnectTo("127.0.0.1", local.Port(), 0);
    ASSERT_GE(loopback, 0);
    EXPECT_EQ(Exchange(loopback, request), TestOrigin::ResponseFor("GET", "/direct"));
    int marked = ConnectTo("10.77.0.2", server_->Port(), gx::kDriverFirewallMark);
    ASSERT_GE(marked, 0);
    EXPECT_EQ(Exchange(marked, request), TestOrigin::ResponseFor("GET", "/direct"));
    std::lock_guard lock(Program().mutex);
    EXPECT_TRUE(Program().connected.empty());
    EXPECT_TRUE(Program().partLines.empty());
}

TEST_F(TransparentModeTest, WhatIsNotHttpIsRelayedAndHttp3IsRefused) {
    int fd = ConnectTo("10.77.0.2", server_->Port(), 0);
    ASSERT_GE(fd, 0);
    std::string record("\x16\x03\x01\x00\x05hello", 10);
    EXPECT_EQ(Exchange(fd, record), record);  // the origin echoes what is not HTTP
    EXPECT_EQ(Program().PartCount(), 0u);

    int udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(443);
    target.sin_addr.s_addr = inet_addr("10.77.0.2");
    ASSERT_EQ(::connect(udp, reinterpret_cast<sockaddr*>(&target), sizeof target), 0);
    bool refused = ::send(udp, "quic", 4, 0) < 0 && errno == ECONNREFUSED;
    char byte;
    timeval wait{5, 0};
    ::setsockopt(udp, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    refused = refused || (::recv(udp, &byte, 1, 0) < 0 && errno == ECONNREFUSED);
    EXPECT_TRUE(refused);
    ::close(udp);
}

// A redirected HTTPS connection is inspected under the name its ClientHello asks for, and its
// request goes on to the original destination over TLS verified for that name.
TEST_F(TransparentModeTest, RedirectedHttpsIsInspectedByItsServerName) {
    TestAuthority authority(dataHome_ + "/test-authority.pem");
    ASSERT_TRUE(EnterNamespace(origin_));
    TlsFront front(authority, FrontCertificate::Good, true);
    ASSERT_TRUE(EnterNamespace(client_));
    StopLibrary();
    // The fixture keeps a stand-in program named gardalix in the data home: another one here.
    ::setenv("XDG_DATA_HOME", (dataHome_ + "/data").c_str(), 1);
    ::setenv("SSL_CERT_FILE", authority.PemPath().c_str(), 1);
    rootSubject_ = "Gardalix test root";
    ASSERT_TRUE(StartLibrary());
    auto root = tls::LoadRoot(interception::DataFolder(), rootSubject_);
    ASSERT_TRUE(root);
    ASSERT_TRUE(tls::WriteTrustMarker(interception::DataFolder(), root->fingerprint));

    std::string port = std::to_string(front.Port());
    CurlResult result = RunCurl("--noproxy '*' --cacert '" + root->certificatePath +
                                "' --resolve localhost:" + port +
                                ":10.77.0.2 https://localhost:" + port + "/secure");
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.output, "origin saw GET /secure");
    // Judged under its server name, and under the address it really goes to.
    std::lock_guard lock(Program().mutex);
    ASSERT_EQ(Program().partLines.size(), 2u);
    EXPECT_EQ(Program().partLines[0], "GET /secure HTTP/1.1\r\n");
    EXPECT_NE(Program().partHeaders[0].find("Host: localhost:" + port), std::string::npos);
    EXPECT_NE(Program().partHeaders[1].find("Host: 10.77.0.2:" + port), std::string::npos);
}

TEST_F(TransparentModeTest, InstallingTwiceIsHarmlessAndUninstallLeavesNothing) {
    StopLibrary();
    ASSERT_TRUE(Driver("install"));
    std::string tables = Output("nft list tables");
    EXPECT_EQ(tables, "table inet gardalix\n");
    EXPECT_TRUE(Driver("status"));
    EXPECT_NE(Output("getcap " + program_).find("cap_net_admin=p"), std::string::npos);

    ASSERT_TRUE(Driver("uninstall"));
    EXPECT_EQ(Output("nft list tables"), "");
    EXPECT_NE(::access(conf_.c_str(), F_OK), 0);
    EXPECT_EQ(Output("getcap " + program_), "");
    EXPECT_FALSE(Driver("status"));
    // Without the driver the library runs the explicit proxy alone.
    ASSERT_TRUE(StartLibrary());
    EXPECT_FALSE(interception::TransparentModeOn());
    EXPECT_NE(ProxyPort(), 0);
}

// A server that greets its clients, then echoes what they send.
class GreetingServer {
  public:
    GreetingServer() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        socklen_t length = sizeof address;
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length);
        ::listen(fd_, 4);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] {
            for (int client; (client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
                ::send(client, "220 ready\r\n", 11, MSG_NOSIGNAL);
                char chunk[256];
                for (ssize_t n; (n = ::recv(client, chunk, sizeof chunk, 0)) > 0;) {
                    ::send(client, chunk, static_cast<size_t>(n), MSG_NOSIGNAL);
                }
                ::close(client);
            }
        });
    }
    ~GreetingServer() {
        ::shutdown(fd_, SHUT_RDWR);
        thread_.join();
        ::close(fd_);
    }
    uint16_t Port() const { return port_; }

  private:
    int fd_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
};

// A mail or FTP server speaks first: the client says nothing until it has the greeting. After
// a short wait for the client's first bytes the connection is relayed as it is. So is a
// protocol whose first line only looks a little like HTTP (an SSH banner).
TEST_F(TransparentModeTest, ServersThatSpeakFirstAndOtherProtocolsAreRelayed) {
    ASSERT_TRUE(EnterNamespace(origin_));
    auto server = std::make_unique<GreetingServer>();
    ASSERT_TRUE(EnterNamespace(client_));
    timeval wait{10, 0};
    {
        int fd = ConnectTo("10.77.0.2", server->Port(), 0);
        ASSERT_GE(fd, 0);
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        char greeting[11] = {};
        EXPECT_EQ(::recv(fd, greeting, sizeof greeting, MSG_WAITALL), 11);
        EXPECT_EQ(std::string(greeting, 11), "220 ready\r\n");
        EXPECT_EQ(Exchange(fd, "QUIT\r\n"), "QUIT\r\n");
    }
    {
        int fd = ConnectTo("10.77.0.2", server->Port(), 0);
        ASSERT_GE(fd, 0);
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        std::string banner = "SSH-2.0-OpenSSH_9.2p1 Debian-2\r\n";
        EXPECT_EQ(Exchange(fd, banner), "220 ready\r\n" + banner);
    }
    server.reset();
    EXPECT_EQ(Program().PartCount(), 0u);
}

// A connection the program leaves without filters (an exempt program) is relayed untouched:
// not even parsed, so what the proxy would refuse from a filtered client goes through as is.
TEST_F(TransparentModeTest, AConnectionLeftWithoutFiltersIsRelayedUntouched) {
    Program().onConnected = [](ENDPOINT_ID, PNF_TCP_CONN_INFO) {};
    int fd = ConnectTo("10.77.0.2", server_->Port(), 0);
    ASSERT_GE(fd, 0);
    std::string request =
        "GET /exempt HTTP/1.1\r\nHost: h\r\nX-A: b\r\n c\r\nConnection: close\r\n\r\n";
    EXPECT_EQ(Exchange(fd, request), TestOrigin::ResponseFor("GET", "/exempt"));
    EXPECT_EQ(server_->Heads().at(0), request);
    EXPECT_EQ(Program().PartCount(), 0u);
}

// A client that waits before its request (longer than the wait for first bytes) is judged all
// the same: the connection to the server is open by then, the request never goes over it.
TEST_F(TransparentModeTest, ASlowClientsRequestIsStillJudged) {
    Program().onPart = [](ENDPOINT_ID id, PFObject*) {
        PostAnswer(id, "HTTP/1.1 404 Not OK", "blocked", true);
        return DPCR_BLOCK;
    };
    int fd = ConnectTo("10.77.0.2", server_->Port(), 0);
    ASSERT_GE(fd, 0);
    std::this_thread::sleep_for(1500ms);  // the client's own pause, not a synchronisation
    std::string response =
        Exchange(fd, "GET /listed HTTP/1.1\r\nHost: 10.77.0.2\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(StatusOf(response), 404);
    EXPECT_TRUE(response.ends_with("blocked")) << response;
    EXPECT_EQ(server_->RequestCount(), 0);
    EXPECT_EQ(Program().PartCount(), 1u);
}

// Request lines that servers accept although they are not written the usual way are never
// taken for another protocol and relayed unjudged: they are judged, or refused.
TEST_F(TransparentModeTest, OddlyWrittenRequestLinesAreJudgedOrRefusedNeverRelayed) {
    Program().onPart = [](ENDPOINT_ID id, PFObject*) {
        PostAnswer(id, "HTTP/1.1 404 Not OK", "blocked", true);
        return DPCR_BLOCK;
    };
    for (const OddRequestLine& c : kOddRequestLines) {
        SCOPED_TRACE(c.name);
        int fd = ConnectTo("10.77.0.2", server_->Port(), 0);
        ASSERT_GE(fd, 0);
        std::string response = Exchange(
            fd, std::string(c.firstLine) + "\r\nHost: 10.77.0.2\r\nConnection: close\r\n\r\n");
        EXPECT_EQ(StatusOf(response), c.status) << response.substr(0, 200);
    }
    EXPECT_EQ(server_->RequestCount(), 0);
}

TEST_F(TransparentModeTest, ARequestNamingNoHostIsJudgedWithTheServerItGoesTo) {
    const std::string host = "10.77.0.2:" + std::to_string(server_->Port());
    Program().onPart = [&host](ENDPOINT_ID id, PFObject* object) {
        if (StreamText(object, HS_HEADER).find("Host: " + host + "\r\n") == std::string::npos) {
            return DPCR_BYPASS;
        }
        PostAnswer(id, "HTTP/1.1 404 Not OK", "blocked", true);
        return DPCR_BLOCK;
    };
    int fd = ConnectTo("10.77.0.2", server_->Port(), 0);
    ASSERT_GE(fd, 0);
    std::string response = Exchange(fd, "GET /listed HTTP/1.0\r\n\r\n");
    EXPECT_EQ(StatusOf(response), 404) << response.substr(0, 200);
    EXPECT_EQ(server_->RequestCount(), 0);
}

// What a user who did not run the install meets: the driver is there, but the program lacks
// the capability to mark its connections. The explicit proxy runs alone and says why, once.
TEST_F(TransparentModeTest, WithoutTheCapabilityTheExplicitProxyRunsAloneAndSaysWhy) {
    StopLibrary();
    EXPECT_EXIT(
        {
            cap_t none = cap_init();  // every set empty
            if (cap_set_proc(none) != 0) {
                std::_Exit(3);
            }
            cap_free(none);
            bool started = StartLibrary();
            std::_Exit(started && !interception::TransparentModeOn() && ProxyPort() != 0 ? 0 : 4);
        },
        ::testing::ExitedWithCode(0), "mode transparent indisponible.*cap_net_admin");
}

}  // namespace
}  // namespace gx::test
