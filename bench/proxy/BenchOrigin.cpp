#include "bench/proxy/BenchOrigin.h"

#include <memory>
#include <string>
#include <string_view>

namespace gx::bench {
namespace {

std::string MakeResponse(size_t size, bool close) {
    return "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
           std::to_string(size) + (close ? "\r\nConnection: close" : "") + "\r\n\r\n" +
           std::string(size, 'g');
}

const std::string& Response(bool large, bool close) {
    static const std::string responses[4] = {MakeResponse(1024, false), MakeResponse(1024, true),
                                             MakeResponse(1 << 20, false),
                                             MakeResponse(1 << 20, true)};
    return responses[(large ? 2 : 0) + (close ? 1 : 0)];
}

bool HasCloseToken(std::string_view head) {
    for (size_t at = head.find("onnection:"); at != std::string_view::npos;
         at = head.find("onnection:", at + 1)) {
        size_t end = head.find('\r', at);
        std::string_view value = head.substr(at, end - at);
        if (value.find("close") != std::string_view::npos ||
            value.find("Close") != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

class Connection : public std::enable_shared_from_this<Connection> {
  public:
    explicit Connection(asio::ip::tcp::socket socket) : socket_(std::move(socket)) {}
    void Start() {
        asio::error_code ignored;
        socket_.set_option(asio::ip::tcp::no_delay(true), ignored);
        Read();
    }

  private:
    void Read() {
        socket_.async_read_some(asio::buffer(buffer_ + used_, sizeof buffer_ - used_),
                                [self = shared_from_this()](asio::error_code error, size_t n) {
                                    if (!error) {
                                        self->used_ += n;
                                        self->Answer();
                                    }
                                });
    }
    void Answer() {
        std::string_view data(buffer_, used_);
        size_t end = data.find("\r\n\r\n");
        if (end == std::string_view::npos) {
            if (used_ == sizeof buffer_) {
                return;  // a head this origin does not expect: drop the connection
            }
            Read();
            return;
        }
        std::string_view head = data.substr(0, end + 4);
        bool large = head.find(" /1m") != std::string_view::npos ||
                     head.find("/1m ") != std::string_view::npos;
        bool close = HasCloseToken(head);
        used_ -= head.size();
        std::memmove(buffer_, buffer_ + head.size(), used_);
        const std::string& response = Response(large, close);
        asio::async_write(socket_, asio::buffer(response),
                          [self = shared_from_this(), close](asio::error_code error, size_t) {
                              if (error) {
                                  return;
                              }
                              if (close) {
                                  asio::error_code ignored;
                                  self->socket_.shutdown(asio::ip::tcp::socket::shutdown_both,
                                                         ignored);
                                  return;
                              }
                              self->Answer();
                          });
    }

    asio::ip::tcp::socket socket_;
    char buffer_[16384];
    size_t used_ = 0;
};

}  // namespace

BenchOrigin::BenchOrigin()
    : acceptor_(io_, asio::ip::tcp::endpoint(asio::ip::address_v4::loopback(), 0)) {
    port_ = acceptor_.local_endpoint().port();
    Accept();
    thread_ = std::thread([this] { io_.run(); });
}

BenchOrigin::~BenchOrigin() {
    io_.stop();
    thread_.join();
}

void BenchOrigin::Accept() {
    acceptor_.async_accept([this](asio::error_code error, asio::ip::tcp::socket socket) {
        if (!error) {
            std::make_shared<Connection>(std::move(socket))->Start();
        }
        if (acceptor_.is_open()) {
            Accept();
        }
    });
}

}  // namespace gx::bench
