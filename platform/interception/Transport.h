// The byte stream under the HTTP handling of a session or an origin connection: a plain TCP
// socket, or a TLS stream over one. The handling above reads and writes through this interface
// only, so it never knows which of the two carries its bytes.
#pragma once

#include <asio.hpp>
#include <functional>
#include <memory>

namespace gx::interception {

class Transport {
  public:
    using IoHandler = std::function<void(const asio::error_code&, size_t)>;

    virtual ~Transport() = default;
    // Reads what is there, at least one byte; an error (asio::error::eof at the end) otherwise.
    virtual void ReadSome(asio::mutable_buffer buffer, IoHandler handler) = 0;
    // Writes the whole buffer, or fails.
    virtual void Write(asio::const_buffer buffer, IoHandler handler) = 0;
    // Nothing more will be written (the reading side stays open).
    virtual void ShutdownSend() = 0;
    // Closes at once (both directions ended first); what is not written is dropped.
    virtual void Close() = 0;
    // The TCP socket underneath: addresses, options, connecting.
    virtual asio::ip::tcp::socket& Socket() = 0;
    // The socket carries the bytes as they are read and written (no TLS): they may be moved
    // between sockets inside the kernel.
    virtual bool Plain() const { return false; }
};

// A TCP socket as it is.
class PlainTransport : public Transport {
  public:
    explicit PlainTransport(asio::ip::tcp::socket socket) : socket_(std::move(socket)) {}

    void ReadSome(asio::mutable_buffer buffer, IoHandler handler) override {
        socket_.async_read_some(buffer, std::move(handler));
    }
    void Write(asio::const_buffer buffer, IoHandler handler) override {
        asio::async_write(socket_, buffer, std::move(handler));
    }
    void ShutdownSend() override {
        asio::error_code ignored;
        socket_.shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
    }
    void Close() override {
        asio::error_code ignored;
        socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
        socket_.close(ignored);
    }
    asio::ip::tcp::socket& Socket() override { return socket_; }
    bool Plain() const override { return true; }

  private:
    asio::ip::tcp::socket socket_;
};

}  // namespace gx::interception
