// A small web server on 127.0.0.1 for the end-to-end tests: it answers every request with the
// same short page, closes the connection, and remembers the request lines it received.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace gx::test {

class OriginServer {
  public:
    static constexpr const char* kPage = "origin page";

    OriginServer();  // listens on a free port at once
    ~OriginServer();
    OriginServer(const OriginServer&) = delete;
    OriginServer& operator=(const OriginServer&) = delete;

    uint16_t Port() const { return port_; }
    // "127.0.0.1:PORT"
    std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }
    // The request lines received so far, without CR LF.
    std::vector<std::string> Requests();

  private:
    void Serve();
    void Answer(int client);

    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

}  // namespace gx::test
