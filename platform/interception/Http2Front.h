// An inspected HTTPS connection whose client chose HTTP/2: its streams, each one request judged
// exactly as a request on HTTP/1.1 is (the program sees the same request head, rebuilt from the
// pseudo-fields: ":method" and ":path" make the request line, ":authority" the Host field), then
// relayed to the server over HTTP/1.1 connections of a small pool, and answered on its own
// stream. A blocked stream gets the block page on that stream alone; the others go on.
//
// The front belongs to its ClientSession (the connection, its TLS, the program's verdicts) and
// runs on its thread. It is the events side of its own origin connections.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/interception/Http1ResponseReader.h"
#include "platform/interception/Http2Codec.h"
#include "platform/interception/HttpHead.h"
#include "platform/interception/OriginEvents.h"

namespace gx::interception {

class ClientSession;

// Connections to one server that carry the streams' requests when it speaks HTTP/1.1 only (one
// request at a time each); a server that speaks HTTP/2 gets one connection for them all.
inline constexpr size_t kOriginsPerServer = 6;

// How a stream's pseudo-fields and fields become an HTTP/1.1 request head, before the same
// strict parsing as on HTTP/1.1: "" when the stream cannot be one (a missing or doubled
// pseudo-field, CONNECT, a field that HTTP/2 forbids).
std::string RequestHeadText(const Http2Fields& fields, bool hasBody);

class Http2Front : public OriginEvents, private Http2Codec::Events {
  public:
    explicit Http2Front(ClientSession& session);
    ~Http2Front() override;

    // The client's bytes; false when the connection must end.
    bool Receive(const char* data, size_t n);
    // The client's socket took what was written: more may be framed.
    void ClientWritten() { FlushOutput(); }
    bool Finished() const { return codec_.Finished(); }
    size_t OpenStreams() const { return codec_.OpenStreams(); }
    void CloseAll();

    // OriginEvents.
    Proxy& Owner() override;
    const asio::any_io_executor& Executor() override;
    std::shared_ptr<void> KeepAlive() override;
    void Deliver(ResponseSlot* slot, const char* data, size_t n) override;
    bool CanTakeMore(const ResponseSlot* slot) const override;
    void FinishSlot(ResponseSlot* slot, bool closeAfter) override;
    void OriginFailed(OriginConnection* origin, ResponseSlot* slot, int status) override;
    void OriginIdle(OriginConnection* origin) override;
    void OriginReady(OriginConnection* origin) override;
    bool RetryElsewhere(OriginConnection* origin, ResponseSlot* slot) override;
    void OriginClosed(OriginConnection* origin) override;
    void OriginDrained(OriginConnection* origin) override;
    void OriginConnectedForTunnel(OriginConnection*) override {}
    void OriginSpokeFirst(OriginConnection*) override {}
    void OriginUpgraded(OriginConnection*) override {}
    void TunnelEnded() override {}
    void ServerEndedTunnel() override {}
    void TlsServerCannotBeInspected() override;
    void HoldWrites() override { ++held_; }
    void ReleaseWrites() override;
    SpliceReadiness SpliceToClient(const ResponseSlot*) const override {
        return SpliceReadiness::Never;
    }
    asio::ip::tcp::socket& ClientSocket() override;
    void RelayedToClient() override {}

  private:
    struct Stream;
    class ResponseToStream;

    // Http2Codec::Events.
    void OnHead(int32_t id, Http2Fields fields, bool endStream) override;
    void OnData(int32_t id, const char* data, size_t n) override;
    void OnEnd(int32_t id, Http2Fields trailers) override;
    void OnStreamClosed(int32_t id, uint32_t errorCode) override;

    void Judge(Stream& stream);
    void Answer(Stream& stream, const std::string& wire);
    void Forward(Stream& stream);
    void StartOnOrigin(Stream& stream, const std::shared_ptr<OriginConnection>& origin);
    void SendBody(Stream& stream, const char* data, size_t n);
    void EndBody(Stream& stream);
    std::shared_ptr<OriginConnection> FreeOrigin(const std::string& key);
    void DispatchWaiting();
    Stream* StreamOf(const ResponseSlot* slot);
    Stream* StreamOf(OriginConnection* origin);
    void DropOrigin(OriginConnection* origin);
    void FlushOutput();

    ClientSession& session_;
    Http2Codec codec_;
    std::map<int32_t, std::unique_ptr<Stream>> streams_;
    std::map<const ResponseSlot*, int32_t> bySlot_;
    // The pool: connections per server ("host:port"), and the streams waiting for one.
    std::map<std::string, std::vector<std::shared_ptr<OriginConnection>>> origins_;
    std::map<std::string, std::deque<int32_t>> waiting_;
    int held_ = 0;
    bool flushing_ = false;
    bool closed_ = false;
};

}  // namespace gx::interception
