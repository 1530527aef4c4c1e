// A small HTTP origin server on loopback for the interception tests. Each connection has its
// own thread; the answers are fixed by the path, so a test knows the exact bytes to expect:
//   /big/N         N bytes of 'x' with a Content-Length
//   /chunked       a chunked body "hello world"
//   /until-close   a body ended by closing the connection
//   /204, /304     no body
//   /never         no answer at all
//   /ws            "101 Switching Protocols", then echoes every byte
//   anything else  "origin saw <method> <target>" with a Content-Length
// A connection whose first byte is not a letter is echoed back (a stand-in for TLS).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace gx::test {

class TestOrigin {
  public:
    TestOrigin();
    ~TestOrigin();
    TestOrigin(const TestOrigin&) = delete;
    TestOrigin& operator=(const TestOrigin&) = delete;

    uint16_t Port() const { return port_; }
    std::string Authority() const { return "127.0.0.1:" + std::to_string(port_); }
    std::string Url(const std::string& path) const { return "http://" + Authority() + path; }

    // What reached the origin: each request head (request line to empty line) and body.
    int RequestCount();
    std::vector<std::string> Heads();
    std::vector<std::string> Bodies();
    int ConnectionCount() const { return connections_; }

    // The exact response the origin sends for a GET of this path (not for /never, /ws).
    static std::string ResponseFor(const std::string& method, const std::string& target);

  private:
    void AcceptLoop();
    void Serve(int fd);
    void ServeConnection(int fd);
    void Record(const std::string& head, const std::string& body);

    int listenFd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    std::thread acceptor_;
    std::mutex mutex_;
    std::vector<std::thread> workers_;
    std::vector<int> clientFds_;
    std::vector<std::string> heads_;
    std::vector<std::string> bodies_;
};

}  // namespace gx::test
