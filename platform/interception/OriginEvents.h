// What an origin connection tells the client side it works for, and asks of it. The client
// session implements it; the origin knows nothing else of the session, so that an origin can
// serve whatever carries the client's requests (an HTTP/1.1 connection, the streams of an
// HTTP/2 one). Every call is made on the client side's thread.
#pragma once

#include <asio.hpp>
#include <cstddef>
#include <memory>

#include "platform/interception/ResponseQueue.h"
#include "platform/interception/SpliceRelay.h"

namespace gx::interception {

class OriginConnection;
class Proxy;

class OriginEvents {
  public:
    virtual ~OriginEvents() = default;

    // The proxy (limits, rules, TLS), the thread everything runs on, and what keeps the client
    // side alive while an operation of the origin is under way.
    virtual Proxy& Owner() = 0;
    virtual const asio::any_io_executor& Executor() = 0;
    virtual std::shared_ptr<void> KeepAlive() = 0;

    // The response to the slot's request: its bytes as the server sent them, then its end.
    virtual void Deliver(ResponseSlot* slot, const char* data, size_t n) = 0;
    virtual bool CanTakeMore(const ResponseSlot* slot) const = 0;
    virtual void FinishSlot(ResponseSlot* slot, bool closeAfter) = 0;

    // The connection failed (no server, a refused certificate, a broken response): the slot,
    // when one waits, is answered with `status`.
    virtual void OriginFailed(OriginConnection* origin, ResponseSlot* slot, int status) = 0;
    // The server refused the slot's request without processing it (a stream refused, or above
    // the last one a GOAWAY kept): true when the client side sends it again on another
    // connection, false to answer it with 502.
    virtual bool RetryElsewhere(OriginConnection*, ResponseSlot*) { return false; }
    // The connection knows which protocol the server speaks (SpeaksHttp2): the client side may
    // hand it more requests.
    virtual void OriginReady(OriginConnection*) {}
    // Free for the next request; closed; its output queue drained.
    virtual void OriginIdle(OriginConnection* origin) = 0;
    virtual void OriginClosed(OriginConnection* origin) = 0;
    virtual void OriginDrained(OriginConnection* origin) = 0;

    // Tunnels and protocol switches.
    virtual void OriginConnectedForTunnel(OriginConnection* origin) = 0;
    virtual void OriginSpokeFirst(OriginConnection* origin) = 0;
    virtual void OriginUpgraded(OriginConnection* origin) = 0;
    virtual void TunnelEnded() = 0;
    virtual void ServerEndedTunnel() = 0;
    // The server wants a client certificate: its next connection is relayed uninspected.
    virtual void TlsServerCannotBeInspected() = 0;

    // While writes are held, bytes delivered for the client gather; the last release writes
    // them together (WriteBatch below).
    virtual void HoldWrites() = 0;
    virtual void ReleaseWrites() = 0;

    // Bytes moved inside the kernel straight into the client's socket.
    virtual SpliceReadiness SpliceToClient(const ResponseSlot* slot) const = 0;
    virtual asio::ip::tcp::socket& ClientSocket() = 0;
    virtual void RelayedToClient() = 0;
};

// Everything delivered while one lives leaves for the client in one write.
class WriteBatch {
  public:
    explicit WriteBatch(OriginEvents& events) : events_(events) { events_.HoldWrites(); }
    ~WriteBatch() { events_.ReleaseWrites(); }
    WriteBatch(const WriteBatch&) = delete;
    WriteBatch& operator=(const WriteBatch&) = delete;

  private:
    OriginEvents& events_;
};

}  // namespace gx::interception
