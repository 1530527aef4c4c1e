// A small fast origin server for the proxy benchmark: answers GET /1k with a 1 KiB page and
// GET /1m with a 1 MiB file, keeps connections alive unless the request says "close".
#pragma once

#include <asio.hpp>
#include <cstdint>
#include <thread>

namespace gx::bench {

class BenchOrigin {
  public:
    BenchOrigin();
    ~BenchOrigin();
    BenchOrigin(const BenchOrigin&) = delete;
    BenchOrigin& operator=(const BenchOrigin&) = delete;

    uint16_t Port() const { return port_; }

  private:
    void Accept();

    asio::io_context io_;
    asio::ip::tcp::acceptor acceptor_;
    uint16_t port_ = 0;
    std::thread thread_;
};

}  // namespace gx::bench
