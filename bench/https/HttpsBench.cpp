// HTTPS through the interception proxy, inspected, against HTTPS straight to the origin in the
// same run: new connections per second (a full handshake each: two through the proxy, the
// client's with us and ours with the origin), requests per second on kept-alive connections,
// and 1 MiB transfers. The proxy runs a program that attaches the filters to every connection
// and passes every request; its root is trusted as `gx-driver trust` makes it. Last, 1 MiB
// transfers through CONNECT tunnels that the proxy relays without opening their TLS.
//
// Environment: GX_BENCH_SECONDS (per run, default 4).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <asio.hpp>
#include <asio/ssl.hpp>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "api/interception/NetFilter2API.h"
#include "api/interception/ProtocolFiltersAPI.h"
#include "bench/proxy/BenchProxy.h"
#include "bench/proxy/PassEverything.h"
#include "platform/interception/Interception.h"
#include "platform/tls/CertificateBuilder.h"
#include "platform/tls/RootAuthority.h"
#include "platform/tls/TrustMarker.h"
#include "tests/support/TestCertificates.h"

namespace gx::bench {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr char kSubject[] = "Gardalix benchmark root";

// ---- the HTTPS origin: /1k and /1m, kept alive ----

class HttpsOrigin {
  public:
    HttpsOrigin(X509* cert, EVP_PKEY* key)
        : context_(asio::ssl::context::tls_server),
          acceptor_(io_, {asio::ip::address_v4::loopback(), 0}) {
        SSL_CTX_use_certificate(context_.native_handle(), cert);
        SSL_CTX_use_PrivateKey(context_.native_handle(), key);
        port_ = acceptor_.local_endpoint().port();
        small_ = Response(1024);
        large_ = Response(1024 * 1024);
        Accept();
        thread_ = std::thread([this] { io_.run(); });
    }
    ~HttpsOrigin() {
        io_.stop();
        thread_.join();
    }
    uint16_t Port() const { return port_; }

  private:
    struct Connection : std::enable_shared_from_this<Connection> {
        Connection(asio::ip::tcp::socket socket, asio::ssl::context& context, HttpsOrigin& origin)
            : stream(std::move(socket), context), origin(origin) {}
        void Start() {
            stream.next_layer().set_option(asio::ip::tcp::no_delay(true));
            stream.async_handshake(asio::ssl::stream_base::server,
                                   [self = shared_from_this()](const asio::error_code& error) {
                                       if (!error) {
                                           self->ReadHead();
                                       }
                                   });
        }
        void ReadHead() {
            asio::async_read_until(
                stream, buffer, "\r\n\r\n",
                [self = shared_from_this()](const asio::error_code& error, size_t n) {
                    if (error) {
                        return;
                    }
                    std::string head(static_cast<const char*>(self->buffer.data().data()), n);
                    self->buffer.consume(n);
                    const std::string& answer = head.find("/1m") != std::string::npos
                                                    ? self->origin.large_
                                                    : self->origin.small_;
                    asio::async_write(self->stream, asio::buffer(answer),
                                      [self](const asio::error_code& error, size_t) {
                                          if (!error) {
                                              self->ReadHead();
                                          }
                                      });
                });
        }
        asio::ssl::stream<asio::ip::tcp::socket> stream;
        asio::streambuf buffer;
        HttpsOrigin& origin;
    };

    static std::string Response(size_t size) {
        return "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
               std::to_string(size) + "\r\n\r\n" + std::string(size, 'x');
    }
    void Accept() {
        acceptor_.async_accept([this](const asio::error_code& error, asio::ip::tcp::socket socket) {
            if (!error) {
                std::make_shared<Connection>(std::move(socket), context_, *this)->Start();
            }
            Accept();
        });
    }

    asio::io_context io_;
    asio::ssl::context context_;
    asio::ip::tcp::acceptor acceptor_;
    uint16_t port_ = 0;
    std::string small_;
    std::string large_;
    std::thread thread_;
};

// ---- the clients ----

struct Load {
    int connections = 8;
    bool newConnectionPerRequest = false;
    std::string path = "/1k";
    std::chrono::seconds duration{4};
};

struct Figures {
    double requestsPerSecond = 0;
    double mibPerSecond = 0;
    long errors = 0;
};

int Connect(uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    timeval timeout{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Through the proxy: CONNECT, and its answer read to the empty line.
bool OpenTunnel(int fd, uint16_t originPort) {
    std::string request =
        "CONNECT localhost:" + std::to_string(originPort) + " HTTP/1.1\r\nHost: localhost\r\n\r\n";
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != ssize_t(request.size())) {
        return false;
    }
    std::string answer;
    char c;
    while (answer.find("\r\n\r\n") == std::string::npos && ::recv(fd, &c, 1, 0) == 1) {
        answer += c;
    }
    return answer.starts_with("HTTP/1.1 200");
}

// One request on the TLS connection, its body read by its length; the bytes of the body.
long Exchange(SSL* ssl, const std::string& request, std::vector<char>& buffer) {
    if (SSL_write(ssl, request.data(), static_cast<int>(request.size())) <= 0) {
        return -1;
    }
    std::string head;
    long bodyRead = 0;
    while (true) {
        int n = SSL_read(ssl, buffer.data(), static_cast<int>(buffer.size()));
        if (n <= 0) {
            return -1;
        }
        head.append(buffer.data(), static_cast<size_t>(n));
        size_t end = head.find("\r\n\r\n");
        if (end != std::string::npos) {
            size_t at = head.find("Content-Length: ");
            long length = at == std::string::npos ? 0 : std::atol(head.c_str() + at + 16);
            bodyRead = static_cast<long>(head.size() - end - 4);
            while (bodyRead < length) {
                n = SSL_read(ssl, buffer.data(), static_cast<int>(buffer.size()));
                if (n <= 0) {
                    return -1;
                }
                bodyRead += n;
            }
            return length;
        }
    }
}

Figures Run(const Load& load, uint16_t originPort, uint16_t proxyPort) {
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);  // a full handshake each time
    SSL_CTX_set_options(context, SSL_OP_NO_TICKET);
    std::atomic<long> requests{0};
    std::atomic<long> bytes{0};
    std::atomic<long> errors{0};
    const std::string request = "GET " + load.path +
                                " HTTP/1.1\r\nHost: localhost:" + std::to_string(originPort) +
                                "\r\n\r\n";
    const auto deadline = Clock::now() + load.duration;
    std::vector<std::thread> clients;
    for (int c = 0; c < load.connections; ++c) {
        clients.emplace_back([&] {
            std::vector<char> buffer(64 * 1024);
            while (Clock::now() < deadline) {
                int fd = Connect(proxyPort ? proxyPort : originPort);
                SSL* ssl = SSL_new(context);
                SSL_set_tlsext_host_name(ssl, "localhost");
                bool open = fd >= 0 && (!proxyPort || OpenTunnel(fd, originPort)) &&
                            SSL_set_fd(ssl, fd) == 1 && SSL_connect(ssl) == 1;
                while (open && Clock::now() < deadline) {
                    long got = Exchange(ssl, request, buffer);
                    if (got < 0) {
                        ++errors;
                        break;
                    }
                    ++requests;
                    bytes += got;
                    if (load.newConnectionPerRequest) {
                        break;
                    }
                }
                if (!open) {
                    ++errors;
                }
                SSL_free(ssl);
                if (fd >= 0) {
                    ::close(fd);
                }
            }
        });
    }
    for (auto& client : clients) {
        client.join();
    }
    SSL_CTX_free(context);
    double seconds = std::chrono::duration<double>(load.duration).count();
    return {requests / seconds, bytes / seconds / (1024.0 * 1024.0), errors};
}

bool Report(const char* name, const Figures& direct, const Figures& proxied, bool throughput,
            double target) {
    double a = throughput ? direct.mibPerSecond : direct.requestsPerSecond;
    double b = throughput ? proxied.mibPerSecond : proxied.requestsPerSecond;
    const char* unit = throughput ? "MiB/s" : "req/s";
    double ratio = a > 0 ? b / a : 0;
    std::printf("%-40s direct %9.0f %s  proxy %9.0f %s  ratio %.2fx (target >= %.2fx) %s\n", name,
                a, unit, b, unit, ratio, target, ratio >= target ? "ok" : "BELOW TARGET");
    if (direct.errors || proxied.errors) {
        std::printf("%-40s errors: direct %ld, proxy %ld\n", "", direct.errors, proxied.errors);
    }
    std::fflush(stdout);
    return a > 0 && b > 0;
}

// ---- the proxy ----

PFEvents gEvents{};
// Off: connections get no TLS filter, so their HTTPS is relayed through the tunnel unopened.
std::atomic<bool> gInspect{true};

void AttachFiltersForTheLoad(ENDPOINT_ID id, PNF_TCP_CONN_INFO info) {
    if (gInspect) {
        AttachFilters(id, info);
        return;
    }
    pfc_addFilter(id, FT_PROXY, FF_DEFAULT, 3, FT_NONE);
    pfc_addFilter(id, FT_HTTP, FF_READ_ONLY_IN, 3, FT_NONE);
}

uint16_t StartProxyForTheLoad() {
    gEvents.tcpConnected = AttachFiltersForTheLoad;
    gEvents.dataPartAvailable = PassRequest;
    return StartBenchProxy(gEvents, kSubject);
}

}  // namespace
}  // namespace gx::bench

int main() {
    using namespace gx;
    using namespace gx::bench;
    ::signal(SIGPIPE, SIG_IGN);  // OpenSSL writes to its sockets with write()
    int seconds = 4;
    if (const char* configured = std::getenv("GX_BENCH_SECONDS")) {
        seconds = std::max(1, std::atoi(configured));
    }
    // A private folder: the library's data (its root) and the benchmark's own authority.
    std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("gx-bench-https-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    ::setenv("XDG_DATA_HOME", folder.c_str(), 1);
    const gx::testing::TestPair authority = gx::testing::MakeAuthority("Benchmark authority");
    std::ofstream(folder / "authority.pem") << tls::CertificatePem(authority.certificate.get());
    ::setenv("SSL_CERT_FILE", (folder / "authority.pem").c_str(), 1);
    const gx::testing::TestPair server = gx::testing::MakeLocalhost(authority);

    HttpsOrigin origin(server.certificate.get(), server.key.get());
    uint16_t proxyPort = StartProxyForTheLoad();
    if (proxyPort == 0) {
        std::printf("https: FAILED: the interception library did not start\n");
        return 1;
    }
    std::printf("inspected HTTPS through the proxy against HTTPS to the origin, %d s per run\n",
                seconds);
    bool ok = true;
    Load fresh;
    fresh.duration = std::chrono::seconds(seconds);
    fresh.newConnectionPerRequest = true;
    ok &= Report("1 KiB, new TLS connection per request", Run(fresh, origin.Port(), 0),
                 Run(fresh, origin.Port(), proxyPort), false, 0.4);
    Load kept = fresh;
    kept.newConnectionPerRequest = false;
    ok &= Report("1 KiB, 8 kept-alive TLS connections", Run(kept, origin.Port(), 0),
                 Run(kept, origin.Port(), proxyPort), false, 0.6);
    Load large = kept;
    large.path = "/1m";
    large.connections = 4;
    ok &= Report("1 MiB, 4 kept-alive TLS connections", Run(large, origin.Port(), 0),
                 Run(large, origin.Port(), proxyPort), true, 0.5);
    gInspect = false;
    ok &= Report("1 MiB, CONNECT tunnel relayed unopened", Run(large, origin.Port(), 0),
                 Run(large, origin.Port(), proxyPort), true, 0.9);
    gInspect = true;
    interception::LeafCacheFigures leaves = interception::LeafCacheStats();
    uint64_t asked = leaves.hits + leaves.misses;
    std::printf(
        "%-40s %llu leaves issued, %llu served from the cache (hit rate %.1f%%)\n",
        "leaf certificates", static_cast<unsigned long long>(leaves.misses),
        static_cast<unsigned long long>(leaves.hits),
        asked ? 100.0 * static_cast<double>(leaves.hits) / static_cast<double>(asked) : 0.0);
    nf_free();
    pfc_free();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return ok ? 0 : 1;
}
