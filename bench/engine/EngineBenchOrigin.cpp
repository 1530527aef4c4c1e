#include "bench/engine/EngineBenchOrigin.h"

#include <array>
#include <asio.hpp>
#include <atomic>
#include <string>
#include <string_view>
#include <thread>

namespace gx::bench {
namespace {

struct Counts {
    std::atomic<uint64_t> answered{0};
    std::atomic<uint64_t> listed{0};  // requests for a path under /listed/
};

std::string MakeResponse(bool close) {
    std::string page(1024, 'x');
    return std::string("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 1024\r\n") +
           (close ? "Connection: close\r\n" : "") + "\r\n" + page;
}

// Serves one client: answers every complete request head in its buffer (requests of the load
// carry no body), then reads on.
class Session : public std::enable_shared_from_this<Session> {
  public:
    Session(asio::ip::tcp::socket socket, Counts& counts)
        : socket_(std::move(socket)), counts_(counts) {}

    void Read() {
        auto self = shared_from_this();
        socket_.async_read_some(asio::buffer(chunk_), [self](std::error_code error, size_t got) {
            if (error)
                return;
            self->pending_.append(self->chunk_.data(), got);
            self->AnswerComplete();
        });
    }

  private:
    void AnswerComplete() {
        static const std::string keepAlive = MakeResponse(false);
        static const std::string closing = MakeResponse(true);
        out_.clear();
        bool close = false;
        size_t end;
        while (!close && (end = pending_.find("\r\n\r\n")) != std::string::npos) {
            std::string_view head(pending_.data(), end);
            close = head.find("Connection: close") != std::string_view::npos;
            if (head.find(" /listed/") != std::string_view::npos) {
                counts_.listed.fetch_add(1, std::memory_order_relaxed);
            }
            out_ += close ? closing : keepAlive;
            counts_.answered.fetch_add(1, std::memory_order_relaxed);
            pending_.erase(0, end + 4);
        }
        if (out_.empty())
            return Read();
        auto self = shared_from_this();
        asio::async_write(
            socket_, asio::buffer(out_), [self, close](std::error_code error, size_t) {
                if (error)
                    return;
                if (close) {
                    std::error_code ignored;
                    self->socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
                    return;
                }
                self->Read();
            });
    }

    asio::ip::tcp::socket socket_;
    Counts& counts_;
    std::array<char, 16384> chunk_;
    std::string pending_;
    std::string out_;
};

}  // namespace

struct EngineBenchOrigin::Impl {
    Counts counts;
    asio::io_context io{1};
    asio::ip::tcp::acceptor acceptor{io, {asio::ip::make_address("127.0.0.1"), 0}};
    std::thread thread;

    void Accept() {
        acceptor.async_accept([this](std::error_code error, asio::ip::tcp::socket socket) {
            if (error == asio::error::operation_aborted)
                return;
            if (!error) {
                socket.set_option(asio::ip::tcp::no_delay(true));
                std::make_shared<Session>(std::move(socket), counts)->Read();
            }
            Accept();
        });
    }
};

EngineBenchOrigin::EngineBenchOrigin() : impl_(std::make_unique<Impl>()) {
    impl_->acceptor.listen(1024);
    impl_->Accept();
    impl_->thread = std::thread([this] { impl_->io.run(); });
}

EngineBenchOrigin::~EngineBenchOrigin() {
    impl_->io.stop();
    impl_->thread.join();
}

uint16_t EngineBenchOrigin::Port() const {
    return impl_->acceptor.local_endpoint().port();
}

uint64_t EngineBenchOrigin::Answered() const {
    return impl_->counts.answered.load();
}

uint64_t EngineBenchOrigin::AnsweredListed() const {
    return impl_->counts.listed.load();
}

}  // namespace gx::bench
