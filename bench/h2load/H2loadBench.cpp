// Requests per second over HTTP/2 with many streams at once: h2load keeps 100 streams in flight
// on one TLS connection to nginx (HTTP/2), directly and through the inspecting proxy, in the
// same run. h2load speaks to no proxy, so a small relay of the benchmark's own stands in front
// of the proxy: it takes h2load's connection on a Unix socket, asks the proxy for a tunnel to
// nginx (CONNECT, as a browser does) and carries the bytes both ways. The proxy inspects the
// tunnel's TLS and speaks HTTP/2 on both legs.
//
// Environment: GX_H2LOAD_REQUESTS (per figure, default 20000).
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/proxy/BenchProxy.h"
#include "bench/proxy/NginxOrigin.h"
#include "bench/proxy/PassEverything.h"
#include "bench/proxy/TestHttpsSite.h"
#include "platform/interception/Interception.h"
#include "tests/support/Loopback.h"
#include "tests/support/RunCommand.h"

namespace gx::bench {
namespace {

constexpr char kSubject[] = "Gardalix h2load root";
constexpr double kTarget = 0.5;

// Both ways between two sockets until either ends.
void Carry(int a, int b) {
    std::vector<char> buffer(64 * 1024);
    pollfd fds[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
    while (::poll(fds, 2, -1) > 0) {
        for (int i = 0; i < 2; ++i) {
            if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
                continue;
            }
            const ssize_t n = ::read(fds[i].fd, buffer.data(), buffer.size());
            if (n <= 0) {
                return;
            }
            for (ssize_t done = 0; done < n;) {
                const ssize_t sent = ::send(fds[1 - i].fd, buffer.data() + done,
                                            static_cast<size_t>(n - done), MSG_NOSIGNAL);
                if (sent <= 0) {
                    return;
                }
                done += sent;
            }
        }
    }
}

// A Unix socket whose connections become tunnels through the proxy to `target`.
class TunnelRelay {
  public:
    TunnelRelay(std::string path, uint16_t proxyPort, std::string target)
        : path_(std::move(path)), proxyPort_(proxyPort), target_(std::move(target)) {
        listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path_.copy(address.sun_path, sizeof address.sun_path - 1);
        ::unlink(path_.c_str());
        if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listenFd_, 16) != 0) {
            ::close(listenFd_);
            listenFd_ = -1;
            return;
        }
        accepter_ = std::thread([this] { Accept(); });
    }
    ~TunnelRelay() {
        if (listenFd_ >= 0) {
            ::shutdown(listenFd_, SHUT_RDWR);
            ::close(listenFd_);
            accepter_.join();
        }
        for (std::thread& tunnel : tunnels_) {
            tunnel.join();
        }
        ::unlink(path_.c_str());
    }
    bool Listening() const { return listenFd_ >= 0; }

  private:
    void Accept() {
        while (true) {
            const int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) {
                return;
            }
            tunnels_.emplace_back([this, client] {
                const int proxy = gx::testing::ConnectThrough(proxyPort_, target_);
                if (proxy >= 0) {
                    Carry(client, proxy);
                    ::close(proxy);
                }
                ::close(client);
            });
        }
    }

    std::string path_;
    uint16_t proxyPort_;
    std::string target_;
    int listenFd_ = -1;
    std::thread accepter_;
    std::vector<std::thread> tunnels_;
};

struct Figure {
    double perSecond = -1;
    std::string problem;
};

// h2load's requests per second, or why there is no figure.
Figure RunH2load(const std::string& arguments) {
    const gx::testing::CommandRun result = gx::testing::RunCommand("h2load " + arguments);
    Figure figure;
    const size_t finished = result.output.find("finished in ");
    const size_t failed = result.output.find(" 0 failed");
    if (finished == std::string::npos || failed == std::string::npos) {
        figure.problem = result.output.substr(0, 600);
        return figure;
    }
    const size_t comma = result.output.find(", ", finished);
    figure.perSecond = std::atof(result.output.c_str() + comma + 2);
    return figure;
}

}  // namespace
}  // namespace gx::bench

int main() {
    using namespace gx;
    using namespace gx::bench;
    ::signal(SIGPIPE, SIG_IGN);
    int requests = 20000;
    if (const char* configured = std::getenv("GX_H2LOAD_REQUESTS")) {
        requests = std::max(100, std::atoi(configured));
    }
    if (gx::testing::RunCommand("command -v h2load").status != 0) {
        std::printf("h2load: skipped, h2load is not installed (Debian package nghttp2-client)\n");
        return 0;
    }
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("gx-bench-h2load-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    ::setenv("XDG_DATA_HOME", folder.c_str(), 1);

    NginxOrigin nginx(MakeTestHttpsSite(folder, "h2load authority").site);
    if (!nginx.Running()) {
        std::printf("h2load: skipped, %s\n", nginx.Problem().c_str());
        return 0;
    }
    PFEvents events{};
    events.tcpConnected = AttachFilters;
    events.dataPartAvailable = PassRequest;
    const uint16_t proxyPort = StartBenchProxy(events, kSubject);
    if (proxyPort == 0) {
        std::printf("h2load: the proxy did not start\n");
        return 1;
    }
    const std::string target = "localhost:" + std::to_string(nginx.Port());
    const std::string socketPath = (folder / "tunnel.sock").string();
    TunnelRelay relay(socketPath, proxyPort, target);

    const std::string load = "-n " + std::to_string(requests) + " -c 1 -m 100 -t 1 ";
    std::printf("h2load: %d requests of 1 KiB, 100 streams at once on one connection\n", requests);
    int status = 0;
    for (const char* path : {"/1k", "/1m"}) {
        const std::string url = "https://" + target + path;
        const std::string count = std::string(path) == "/1m" ? "-n 2000 " : "";
        const Figure direct = RunH2load(load + count + url);
        const Figure proxied = RunH2load(load + count + "-B unix:" + socketPath + " " + url);
        if (direct.perSecond <= 0 || proxied.perSecond <= 0) {
            std::printf("  %s: no figure: %s%s\n", path, direct.problem.c_str(),
                        proxied.problem.c_str());
            status = 1;
            continue;
        }
        const double ratio = proxied.perSecond / direct.perSecond;
        const bool met = ratio >= kTarget;
        std::printf(
            "  %s: direct %.0f req/s, through the proxy %.0f req/s, ratio %.2fx "
            "(target >= %.2fx) %s\n",
            path, direct.perSecond, proxied.perSecond, ratio, kTarget, met ? "ok" : "BELOW TARGET");
        status = met ? status : 1;
    }
    nf_free();
    pfc_free();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return status;
}
