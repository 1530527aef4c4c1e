// What the installed table does to real traffic, inside a network namespace of the test: an
// address on a veth interface stands for a server elsewhere, and the test listens where the
// interception library's transparent listener would.
#include <arpa/inet.h>
#include <linux/netfilter_ipv4.h>
#include <linux/netfilter_ipv6/ip6_tables.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "DriverFixture.h"
#include "platform/driver/DriverConfig.h"
#include "platform/driver/RedirectHeartbeat.h"

namespace gx {
namespace {

using testing::DriverFixture;

constexpr int kWaitMs = 10000;  // generous: the machine may be loaded
constexpr const char* kFarV4 = "10.200.0.1";
constexpr const char* kFarV6 = "fd00:4758::1";

class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Fd& operator=(Fd&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

struct Address {
    sockaddr_storage storage{};
    socklen_t length = 0;
};

Address MakeAddress(int family, const std::string& text, std::uint16_t port) {
    Address address;
    if (family == AF_INET) {
        auto* in = reinterpret_cast<sockaddr_in*>(&address.storage);
        in->sin_family = AF_INET;
        in->sin_port = htons(port);
        EXPECT_EQ(::inet_pton(AF_INET, text.c_str(), &in->sin_addr), 1) << text;
        address.length = sizeof(sockaddr_in);
    } else {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&address.storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        EXPECT_EQ(::inet_pton(AF_INET6, text.c_str(), &in6->sin6_addr), 1) << text;
        address.length = sizeof(sockaddr_in6);
    }
    return address;
}

std::string AddressText(const sockaddr_storage& storage) {
    char text[INET6_ADDRSTRLEN] = {};
    if (storage.ss_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(&storage);
        ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
        return std::string(text) + ":" + std::to_string(ntohs(in->sin_port));
    }
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&storage);
    ::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
    return "[" + std::string(text) + "]:" + std::to_string(ntohs(in6->sin6_port));
}

std::uint16_t PortOf(const sockaddr_storage& storage) {
    return ntohs(storage.ss_family == AF_INET
                     ? reinterpret_cast<const sockaddr_in*>(&storage)->sin_port
                     : reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_port);
}

bool Readable(int fd, int timeoutMs) {
    pollfd poller{fd, POLLIN, 0};
    return ::poll(&poller, 1, timeoutMs) == 1;
}

class GxDriverRedirect : public DriverFixture {
  protected:
    void SetUp() override {
        DriverFixture::SetUp();
        if (IsSkipped()) {
            return;
        }
        // Both ends of the pair stay in the namespace: nothing can leave it.
        for (const std::string& command : std::vector<std::string>{
                 "ip link add gxa type veth peer name gxb", "ip link set gxa up",
                 "ip link set gxb up", std::string("ip addr add ") + kFarV4 + "/24 dev gxa",
                 std::string("ip addr add ") + kFarV6 + "/64 dev gxa nodad"}) {
            const auto run = namespace_.Run(command);
            ASSERT_EQ(run.status, 0) << command << ": " << run.output;
        }
    }

    Fd Open(int family, int type, uid_t owner = 0) const {
        Fd fd(namespace_.Socket(family, type, owner));
        EXPECT_GE(fd.get(), 0) << std::strerror(errno);
        return fd;
    }

    // A listening TCP socket, or a bound UDP one, inside the namespace.
    Fd Listen(int family, int type, const std::string& address, std::uint16_t port) const {
        Fd fd = Open(family, type);
        const int on = 1;
        ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (family == AF_INET6) {
            ::setsockopt(fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
        }
        const Address bound = MakeAddress(family, address, port);
        EXPECT_EQ(::bind(fd.get(), reinterpret_cast<const sockaddr*>(&bound.storage), bound.length),
                  0)
            << address << " " << port << ": " << std::strerror(errno);
        if (type == SOCK_STREAM) {
            EXPECT_EQ(::listen(fd.get(), 16), 0);
        }
        return fd;
    }

    // A client socket connected to address:port, carrying the library's mark when asked.
    Fd Connect(int family, int type, const std::string& address, std::uint16_t port, bool marked,
               uid_t owner = 0) const {
        Fd fd = Open(family, type, owner);
        if (marked) {
            const std::uint32_t mark = kDriverFirewallMark;
            EXPECT_EQ(::setsockopt(fd.get(), SOL_SOCKET, SO_MARK, &mark, sizeof mark), 0);
        }
        const Address target = MakeAddress(family, address, port);
        EXPECT_EQ(
            ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&target.storage), target.length),
            0)
            << address << " " << port << ": " << std::strerror(errno);
        return fd;
    }

    // What the running program does while its transparent listener of a family is open (arm)
    // and when it closes it (disarm): a marked datagram to its own port.
    void Beat(int family, bool arm, std::uint16_t port = kDefaultTransparentPort,
              bool marked = true, uid_t owner = 0) const {
        const Fd beat = Open(family, SOCK_DGRAM, owner);
        if (marked) {
            const std::uint32_t mark = kDriverFirewallMark;
            ASSERT_EQ(::setsockopt(beat.get(), SOL_SOCKET, SO_MARK, &mark, sizeof mark), 0);
        }
        EXPECT_TRUE(SendRedirectHeartbeat(beat.get(), family, port, arm)) << std::strerror(errno);
    }
    void ArmBoth(std::uint16_t port = kDefaultTransparentPort) const {
        Beat(AF_INET, true, port);
        Beat(AF_INET6, true, port);
    }

    // Where the kernel says an accepted, redirected connection was going.
    static std::string OriginalDestination(int fd, int family) {
        sockaddr_storage original{};
        socklen_t length = sizeof original;
        const int level = family == AF_INET ? SOL_IP : SOL_IPV6;
        const int option = family == AF_INET ? SO_ORIGINAL_DST : IP6T_SO_ORIGINAL_DST;
        if (::getsockopt(fd, level, option, &original, &length) != 0) {
            return std::string("getsockopt: ") + std::strerror(errno);
        }
        return AddressText(original);
    }

    // The transparent listeners where the library would open them, and origins on port 80 that
    // receive whatever is not redirected.
    struct Listeners {
        Fd transparentV4, transparentV6, originV4, originV6;
    };
    Listeners ListenAll(std::uint16_t transparentPort = kDefaultTransparentPort) const {
        return {Listen(AF_INET, SOCK_STREAM, "127.0.0.1", transparentPort),
                Listen(AF_INET6, SOCK_STREAM, "::1", transparentPort),
                Listen(AF_INET, SOCK_STREAM, "0.0.0.0", 80),
                Listen(AF_INET6, SOCK_STREAM, "::", 80)};
    }

    // Which listener a new connection to address:80 from the account reaches: "transparent"
    // or "origin".
    std::string Destination(const Listeners& listeners, int family, const std::string& address,
                            uid_t owner = 0) const;
};

std::string GxDriverRedirect::Destination(const Listeners& listeners, int family,
                                          const std::string& address, uid_t owner) const {
    const Fd client = Connect(family, SOCK_STREAM, address, 80, false, owner);
    const Fd& transparent = family == AF_INET ? listeners.transparentV4 : listeners.transparentV6;
    const Fd& origin = family == AF_INET ? listeners.originV4 : listeners.originV6;
    pollfd both[2] = {{transparent.get(), POLLIN, 0}, {origin.get(), POLLIN, 0}};
    if (::poll(both, 2, kWaitMs) <= 0) {
        return "nowhere";
    }
    const int reached = both[0].revents ? transparent.get() : origin.get();
    const Fd accepted(::accept(reached, nullptr, nullptr));
    return both[0].revents ? "transparent" : "origin";
}

TEST_F(GxDriverRedirect, OutboundTcpReachesTheListenerWithItsOriginalDestination) {
    ASSERT_EQ(Install().status, 0);
    const Listeners listeners = ListenAll();
    ArmBoth();
    const struct {
        int family;
        const char* address;
        const char* original;
        const Fd& transparent;
        const Fd& origin;
    } cases[] = {
        {AF_INET, kFarV4, "10.200.0.1:80", listeners.transparentV4, listeners.originV4},
        {AF_INET6, kFarV6, "[fd00:4758::1]:80", listeners.transparentV6, listeners.originV6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        const Fd client = Connect(c.family, SOCK_STREAM, c.address, 80, false);
        ASSERT_TRUE(Readable(c.transparent.get(), kWaitMs)) << "not redirected";
        sockaddr_storage peer{};
        socklen_t peerLength = sizeof peer;
        const Fd accepted(
            ::accept(c.transparent.get(), reinterpret_cast<sockaddr*>(&peer), &peerLength));
        ASSERT_GE(accepted.get(), 0);
        EXPECT_EQ(OriginalDestination(accepted.get(), c.family), c.original);
        EXPECT_FALSE(Readable(c.origin.get(), 0)) << "the origin got the connection too";

        // The listener sees the client's own port (how the library finds the process) and the
        // bytes flow both ways.
        sockaddr_storage local{};
        socklen_t localLength = sizeof local;
        ASSERT_EQ(::getsockname(client.get(), reinterpret_cast<sockaddr*>(&local), &localLength),
                  0);
        EXPECT_EQ(PortOf(peer), PortOf(local));
        ASSERT_EQ(::send(client.get(), "GET", 3, 0), 3);
        char bytes[3] = {};
        ASSERT_TRUE(Readable(accepted.get(), kWaitMs));
        EXPECT_EQ(::recv(accepted.get(), bytes, sizeof bytes, 0), 3);
        EXPECT_EQ(std::string(bytes, 3), "GET");
    }
}

TEST_F(GxDriverRedirect, LoopbackAndMarkedConnectionsGoStraightThrough) {
    ASSERT_EQ(Install().status, 0);
    const Listeners listeners = ListenAll();
    ArmBoth();
    const struct {
        int family;
        const char* address;
        bool marked;
    } cases[] = {
        {AF_INET, "127.0.0.1", false}, {AF_INET, "127.5.6.7", false}, {AF_INET6, "::1", false},
        {AF_INET, kFarV4, true},       {AF_INET6, kFarV6, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.address) + (c.marked ? " marked" : ""));
        const Fd client = Connect(c.family, SOCK_STREAM, c.address, 80, c.marked);
        const Fd& origin = c.family == AF_INET ? listeners.originV4 : listeners.originV6;
        const Fd& transparent =
            c.family == AF_INET ? listeners.transparentV4 : listeners.transparentV6;
        ASSERT_TRUE(Readable(origin.get(), kWaitMs)) << "did not reach the origin";
        EXPECT_FALSE(Readable(transparent.get(), 0)) << "redirected";
        const Fd accepted(::accept(origin.get(), nullptr, nullptr));
        EXPECT_GE(accepted.get(), 0);
    }
}

TEST_F(GxDriverRedirect, OnlyTheListedPortsAreRedirected) {
    ASSERT_EQ(Install("--ports 80,8080 --listen-port 4000").status, 0);
    const Listeners listeners = ListenAll(4000);
    ArmBoth(4000);
    const Fd other = Listen(AF_INET, SOCK_STREAM, "0.0.0.0", 81);

    const Fd listed = Connect(AF_INET, SOCK_STREAM, kFarV4, 80, false);
    ASSERT_TRUE(Readable(listeners.transparentV4.get(), kWaitMs)) << "port 80 not redirected";
    const Fd unlisted = Connect(AF_INET, SOCK_STREAM, kFarV4, 81, false);
    ASSERT_TRUE(Readable(other.get(), kWaitMs)) << "port 81 did not reach its server";
    const Fd accepted(::accept(listeners.transparentV4.get(), nullptr, nullptr));
    EXPECT_EQ(OriginalDestination(accepted.get(), AF_INET), "10.200.0.1:80");
    EXPECT_FALSE(Readable(listeners.transparentV4.get(), 0)) << "port 81 redirected";
}

TEST_F(GxDriverRedirect, OnlyTheRunningProgramArmsTheRedirectFamilyByFamily) {
    ASSERT_EQ(Install().status, 0);
    const Listeners listeners = ListenAll();
    // Installed but not armed: the program is not running, nothing is sent to its port.
    EXPECT_EQ(Destination(listeners, AF_INET, kFarV4), "origin");
    EXPECT_EQ(Destination(listeners, AF_INET6, kFarV6), "origin");

    // Datagrams without the mark, or to another port, arm nothing.
    Beat(AF_INET, true, kDefaultTransparentPort, false);
    Beat(AF_INET, true, kDefaultTransparentPort + 1);
    EXPECT_EQ(Destination(listeners, AF_INET, kFarV4), "origin");

    Beat(AF_INET, true);
    EXPECT_EQ(Destination(listeners, AF_INET, kFarV4), "transparent");
    EXPECT_EQ(Destination(listeners, AF_INET6, kFarV6), "origin");
    const auto status = Tool("status");
    EXPECT_NE(status.output.find("Redirection en service : oui (IPv4)"), std::string::npos)
        << status.output;

    Beat(AF_INET6, true);
    EXPECT_EQ(Destination(listeners, AF_INET6, kFarV6), "transparent");

    // Closing the listener disarms at once.
    Beat(AF_INET, false);
    EXPECT_EQ(Destination(listeners, AF_INET, kFarV4), "origin");
    EXPECT_EQ(Destination(listeners, AF_INET6, kFarV6), "transparent");
}

// Two accounts on one machine: the redirect armed by one account's program takes that
// account's connections alone; with --all-accounts (the system service) it takes everyone's.
TEST_F(GxDriverRedirect, TheRedirectTakesTheConnectionsOfTheAccountThatArmedIt) {
    constexpr uid_t kParent = 4701;
    constexpr uid_t kChild = 4702;
    const Listeners listeners = ListenAll();
    ASSERT_EQ(Install().status, 0);
    Beat(AF_INET, true, kDefaultTransparentPort, true, kParent);
    EXPECT_EQ(Destination(listeners, AF_INET, kFarV4, kParent), "transparent");
    EXPECT_EQ(Destination(listeners, AF_INET, kFarV4, kChild), "origin");
    EXPECT_EQ(Destination(listeners, AF_INET, kFarV4, 0), "origin") << "root's services";
    const auto status = Tool("status");
    EXPECT_NE(status.output.find("Comptes redirigés : 4701"), std::string::npos) << status.output;

    ASSERT_EQ(Install("--all-accounts").status, 0);
    Beat(AF_INET, true, kDefaultTransparentPort, true, kParent);
    for (uid_t account : {kParent, kChild, uid_t{0}}) {
        SCOPED_TRACE(account);
        EXPECT_EQ(Destination(listeners, AF_INET, kFarV4, account), "transparent");
    }
    EXPECT_NE(Tool("status").output.find("comptes : tous"), std::string::npos);
}

TEST_F(GxDriverRedirect, AnArmingNotRefreshedExpires) {
    ASSERT_EQ(Install().status, 0);
    Beat(AF_INET, true);
    // The kernel counts down the element's life; read it back rather than wait it out.
    const auto set = namespace_.Run("nft list set inet gardalix armed");
    const size_t expires = set.output.find("ipv4 . 0 expires ");
    ASSERT_NE(expires, std::string::npos) << set.output;
    const std::string left = set.output.substr(expires + 17, 3);
    EXPECT_TRUE(left == "10s" || left.substr(0, 2) == "9s" || left.substr(0, 2) == "8s")
        << set.output;
}

class GxDriverQuic : public GxDriverRedirect {
  protected:
    // Sends one datagram to address:443 and tells what came of it.
    std::string SendDatagram(int family, const char* address, bool marked) const {
        const Fd client = Connect(family, SOCK_DGRAM, address, 443, marked);
        const Fd& server = family == AF_INET ? serverV4_ : serverV6_;
        ::send(client.get(), "quic", 4, 0);  // may already fail with EPERM when refused
        // Whichever happens first: the port-unreachable on the client, or the datagram at the
        // server.
        pollfd both[2] = {{client.get(), POLLIN, 0}, {server.get(), POLLIN, 0}};
        if (::poll(both, 2, kWaitMs) <= 0) {
            return "no answer";
        }
        char bytes[8];
        if (both[0].revents) {
            const ssize_t n = ::recv(client.get(), bytes, sizeof bytes, 0);
            return n < 0 && errno == ECONNREFUSED ? "refused" : "client got an answer";
        }
        return ::recv(server.get(), bytes, sizeof bytes, 0) == 4 ? "delivered" : "broken";
    }

    Fd serverV4_, serverV6_;
};

TEST_F(GxDriverQuic, NotRefusedUntilArmed) {
    ASSERT_EQ(Install().status, 0);
    serverV4_ = Listen(AF_INET, SOCK_DGRAM, "0.0.0.0", 443);
    serverV6_ = Listen(AF_INET6, SOCK_DGRAM, "::", 443);
    EXPECT_EQ(SendDatagram(AF_INET, kFarV4, false), "delivered");
    EXPECT_EQ(SendDatagram(AF_INET6, kFarV6, false), "delivered");
    Beat(AF_INET6, true);
    EXPECT_EQ(SendDatagram(AF_INET, kFarV4, false), "delivered");
    EXPECT_EQ(SendDatagram(AF_INET6, kFarV6, false), "refused");
}

TEST_F(GxDriverQuic, UdpToPort443IsRefusedAtOnceExceptLoopbackAndMarked) {
    ASSERT_EQ(Install().status, 0);
    serverV4_ = Listen(AF_INET, SOCK_DGRAM, "0.0.0.0", 443);
    serverV6_ = Listen(AF_INET6, SOCK_DGRAM, "::", 443);
    ArmBoth();
    const struct {
        int family;
        const char* address;
        bool marked;
        const char* outcome;
    } cases[] = {
        {AF_INET, kFarV4, false, "refused"},        {AF_INET6, kFarV6, false, "refused"},
        {AF_INET, "127.0.0.1", false, "delivered"}, {AF_INET6, "::1", false, "delivered"},
        {AF_INET, kFarV4, true, "delivered"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.address) + (c.marked ? " marked" : ""));
        EXPECT_EQ(SendDatagram(c.family, c.address, c.marked), c.outcome);
    }
}

TEST_F(GxDriverQuic, AfterUninstallNothingIsRedirectedOrRefused) {
    ASSERT_EQ(Install().status, 0);
    ArmBoth();
    ASSERT_EQ(Tool("uninstall").status, 0);
    serverV4_ = Listen(AF_INET, SOCK_DGRAM, "0.0.0.0", 443);
    serverV6_ = Listen(AF_INET6, SOCK_DGRAM, "::", 443);
    EXPECT_EQ(SendDatagram(AF_INET, kFarV4, false), "delivered");

    const Listeners listeners = ListenAll();
    const Fd client = Connect(AF_INET, SOCK_STREAM, kFarV4, 80, false);
    EXPECT_TRUE(Readable(listeners.originV4.get(), kWaitMs));
    EXPECT_FALSE(Readable(listeners.transparentV4.get(), 0));
}

}  // namespace
}  // namespace gx
