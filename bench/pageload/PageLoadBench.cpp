// A page as a person loads it: headless Chromium fetches a page of 100 images from nginx (TLS,
// HTTP/2), directly and through the inspecting proxy, in the same run. Between them and nginx
// stands a relay that holds every piece of data for a fixed delay each way, as the way to a real
// site does (this machine's kernel has no netem). The browser trusts only the authority it must:
// nginx's for the direct loads, the proxy's root for the others (a certificate database of its
// own). The figure is the page's own load time (navigation start to the load event), the median
// of several loads, each in a fresh profile (nothing cached, new connections).
//
// Through the proxy, two ways: HTTP/2 to the browser (what the program does), and HTTP/1.1 to the
// browser (what it did before), both over HTTP/1.1 connections to the server.
//
// Environment: GX_PAGELOAD_RUNS (loads per figure, default 5).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/proxy/BenchProxy.h"
#include "bench/proxy/NginxOrigin.h"
#include "bench/proxy/PassEverything.h"
#include "bench/proxy/TestHttpsSite.h"
#include "platform/interception/Interception.h"
#include "tests/support/HeadlessBrowser.h"
#include "tests/support/Loopback.h"

namespace gx::bench {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr char kSubject[] = "Gardalix page-load root";
constexpr int kImages = 100;
constexpr double kTarget = 1.15;

// ---- the delay relay ----

// One direction of one connection: what is read leaves `delay` later, in order.
class DelayedPipe {
  public:
    DelayedPipe(int from, int to, std::chrono::milliseconds delay)
        : from_(from), to_(to), delay_(delay) {
        reader_ = std::thread([this] { Read(); });
        writer_ = std::thread([this] { Write(); });
    }
    ~DelayedPipe() {
        reader_.join();
        writer_.join();
    }

  private:
    void Read() {
        std::vector<char> buffer(64 * 1024);
        while (true) {
            const ssize_t n = ::read(from_, buffer.data(), buffer.size());
            std::lock_guard lock(mutex_);
            if (n <= 0) {
                ended_ = true;
                ready_.notify_all();
                return;
            }
            pieces_.push_back({Clock::now() + delay_, std::string(buffer.data(), n)});
            ready_.notify_all();
        }
    }
    void Write() {
        std::unique_lock lock(mutex_);
        while (true) {
            ready_.wait(lock, [this] { return ended_ || !pieces_.empty(); });
            if (pieces_.empty()) {
                ::shutdown(to_, SHUT_WR);
                return;
            }
            auto [due, bytes] = std::move(pieces_.front());
            pieces_.pop_front();
            lock.unlock();
            std::this_thread::sleep_until(due);
            size_t done = 0;
            while (done < bytes.size()) {
                const ssize_t n =
                    ::send(to_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
                if (n <= 0) {
                    break;
                }
                done += static_cast<size_t>(n);
            }
            lock.lock();
        }
    }

    int from_;
    int to_;
    std::chrono::milliseconds delay_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::pair<Clock::time_point, std::string>> pieces_;
    bool ended_ = false;
    std::thread reader_;
    std::thread writer_;
};

// Listens on a loopback port and relays every connection to `target` with the delay each way.
class DelayRelay {
  public:
    DelayRelay(uint16_t target, std::chrono::milliseconds delay) : target_(target), delay_(delay) {
        listener_ = gx::testing::ListenLoopback(port_, 128);
        acceptor_ = std::thread([this] { Accept(); });
    }
    ~DelayRelay() {
        stopping_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        acceptor_.join();
        ::close(listener_);
        std::lock_guard lock(mutex_);
        for (int fd : fds_) {
            ::shutdown(fd, SHUT_RDWR);
        }
        for (auto& worker : workers_) {
            worker.join();
        }
        for (int fd : fds_) {
            ::close(fd);
        }
    }
    uint16_t Port() const { return port_; }

  private:
    void Accept() {
        while (!stopping_) {
            const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) {
                return;
            }
            const int server = gx::testing::ConnectLoopback(target_);
            int one = 1;
            ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            if (server >= 0) {
                ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            }
            std::lock_guard lock(mutex_);
            fds_.push_back(client);
            if (server < 0) {
                ::shutdown(client, SHUT_RDWR);
                continue;
            }
            fds_.push_back(server);
            workers_.emplace_back([client, server, this] {
                DelayedPipe up(client, server, delay_);
                DelayedPipe down(server, client, delay_);
            });
        }
    }

    uint16_t target_;
    std::chrono::milliseconds delay_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
    std::mutex mutex_;
    std::vector<int> fds_;
    std::vector<std::thread> workers_;
};

// ---- the browser ----

// The page's load time in ms, or -1 (the page reports it into its own body).
double LoadOnce(gx::testing::HeadlessBrowser& browser, const std::string& url, uint16_t proxyPort) {
    const std::optional<std::string> dom = browser.Load(url, proxyPort);
    const size_t at = dom ? dom->find("data-load=\"") : std::string::npos;
    return at == std::string::npos ? -1 : std::atof(dom->c_str() + at + 11);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

double MedianLoad(gx::testing::HeadlessBrowser& browser, const std::string& url, uint16_t proxyPort,
                  int runs) {
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        const double ms = LoadOnce(browser, url, proxyPort);
        if (ms > 0) {
            times.push_back(ms);
        }
    }
    return Median(times);
}

std::string Page() {
    std::string page =
        "<!DOCTYPE html><html><head><title>page</title></head><body><script>"
        "addEventListener('load',()=>{const n=performance.getEntriesByType('navigation')[0];"
        "document.body.setAttribute('data-load',n.loadEventStart.toFixed(1));});</script>\n";
    for (int i = 0; i < kImages; ++i) {
        page += "<img src=\"/img/" + std::to_string(i) + ".svg\" width=8 height=8>\n";
    }
    return page + "</body></html>\n";
}

std::string Image(int i) {
    // A small picture, padded to a few KiB as a thumbnail would be.
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"8\" height=\"8\"><rect width=\"8\" "
           "height=\"8\" fill=\"#" +
           std::string(i % 2 ? "336699" : "993366") + "\"/><!--" + std::string(3000, 'p') +
           "--></svg>";
}

}  // namespace
}  // namespace gx::bench

int main() {
    using namespace gx;
    using namespace gx::bench;
    ::signal(SIGPIPE, SIG_IGN);
    int runs = 5;
    if (const char* configured = std::getenv("GX_PAGELOAD_RUNS")) {
        runs = std::max(1, std::atoi(configured));
    }
    if (const std::string missing = gx::testing::BrowserMissing(); !missing.empty()) {
        std::printf("page load: skipped, %s\n", missing.c_str());
        return 0;
    }
    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                         ("gx-bench-pageload-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    ::setenv("XDG_DATA_HOME", folder.c_str(), 1);

    // nginx's authority and certificate for localhost.
    TestHttpsSite https = MakeTestHttpsSite(folder, "Page-load authority");
    const std::string authorityPem = https.authorityPem;
    NginxSite& site = https.site;
    site.files.emplace_back("page.html", Page());
    for (int i = 0; i < kImages; ++i) {
        site.files.emplace_back("img/" + std::to_string(i) + ".svg", Image(i));
    }
    NginxOrigin nginx(site);
    if (!nginx.Running()) {
        std::printf("page load: skipped, %s\n", nginx.Problem().c_str());
        return 0;
    }

    PFEvents events{};
    events.tcpConnected = AttachFilters;
    events.dataPartAvailable = PassRequest;
    // The offer of HTTP/2 is read when the library starts: a new start for each way.
    bool started = false;
    auto startProxy = [&](bool http2) {
        if (started) {
            nf_free();
            pfc_free();
        }
        interception::Limits limits = interception::GetLimits();
        limits.http2 = http2;
        interception::SetLimits(limits);
        started = true;
        return StartBenchProxy(events, kSubject);
    };
    if (startProxy(true) == 0) {
        std::printf("page load: the proxy did not start\n");
        return 1;
    }
    const std::string rootPem = interception::DataFolder() + "/root-ca.pem";
    gx::testing::HeadlessBrowser direct(authorityPem);
    gx::testing::HeadlessBrowser proxied(rootPem);

    std::printf(
        "page load: %d images over TLS from nginx (HTTP/2), headless Chromium, median of "
        "%d loads each\n",
        kImages, runs);
    int status = 0;
    for (const auto delay : {20ms, 50ms}) {
        DelayRelay relay(nginx.Port(), delay);
        const std::string url = "https://localhost:" + std::to_string(relay.Port()) + "/page.html";
        const double straight = MedianLoad(direct, url, 0, runs);
        const double viaH2 = MedianLoad(proxied, url, startProxy(true), runs);
        const double viaH11 = MedianLoad(proxied, url, startProxy(false), runs);
        const double ratio = straight > 0 ? viaH2 / straight : -1;
        std::printf(
            "  %3lld ms each way (%lld ms round trip): direct %.0f ms, proxy %.0f ms "
            "(HTTP/1.1 to the browser: %.0f ms, %.2fx)\n",
            static_cast<long long>(delay.count()), static_cast<long long>(2 * delay.count()),
            straight, viaH2, viaH11, straight > 0 ? viaH11 / straight : -1);
        const bool met = ratio > 0 && ratio <= kTarget;
        std::printf("    ratio %.2fx (target <= %.2fx) %s\n", ratio, kTarget,
                    met ? "ok" : "BELOW TARGET");
        status = met ? status : 1;
    }
    nf_free();
    pfc_free();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return status;
}
