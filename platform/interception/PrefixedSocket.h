// A TCP socket whose first bytes were read already: they are handed out again, before anything
// the socket itself receives. The TLS layer is started on a connection only after its
// ClientHello was read (and looked at) by the session; this gives that hello back to it.
// A stream in Asio's terms, so that asio::ssl::stream can sit on it.
#pragma once

#include <asio.hpp>
#include <string>
#include <utility>

namespace gx::interception {

class PrefixedSocket {
  public:
    using executor_type = asio::ip::tcp::socket::executor_type;
    using lowest_layer_type = asio::ip::tcp::socket::lowest_layer_type;

    PrefixedSocket(asio::ip::tcp::socket socket, std::string prefix)
        : socket_(std::move(socket)), prefix_(std::move(prefix)) {}

    executor_type get_executor() { return socket_.get_executor(); }
    lowest_layer_type& lowest_layer() { return socket_.lowest_layer(); }
    const lowest_layer_type& lowest_layer() const { return socket_.lowest_layer(); }
    asio::ip::tcp::socket& Socket() { return socket_; }

    template <typename MutableBuffers, typename Token>
    auto async_read_some(const MutableBuffers& buffers, Token&& token) {
        return asio::async_initiate<Token, void(asio::error_code, std::size_t)>(
            [this](auto handler, const MutableBuffers& buffers) {
                if (prefix_.empty()) {
                    socket_.async_read_some(buffers, std::move(handler));
                    return;
                }
                std::size_t n = asio::buffer_copy(buffers, asio::buffer(prefix_));
                prefix_.erase(0, n);
                auto executor = asio::get_associated_executor(handler, socket_.get_executor());
                asio::post(executor, [handler = std::move(handler), n]() mutable {
                    std::move(handler)(asio::error_code(), n);
                });
            },
            token, buffers);
    }

    template <typename ConstBuffers, typename Token>
    auto async_write_some(const ConstBuffers& buffers, Token&& token) {
        return socket_.async_write_some(buffers, std::forward<Token>(token));
    }

    // The synchronous forms, which the TLS layer uses to send its closing alert.
    template <typename MutableBuffers>
    std::size_t read_some(const MutableBuffers& buffers, asio::error_code& error) {
        if (prefix_.empty()) {
            return socket_.read_some(buffers, error);
        }
        std::size_t n = asio::buffer_copy(buffers, asio::buffer(prefix_));
        prefix_.erase(0, n);
        error = asio::error_code();
        return n;
    }

    template <typename ConstBuffers>
    std::size_t write_some(const ConstBuffers& buffers, asio::error_code& error) {
        return socket_.write_some(buffers, error);
    }

  private:
    asio::ip::tcp::socket socket_;
    std::string prefix_;
};

}  // namespace gx::interception
