// A client session's connection to one origin server (host and port). It is opened only when
// the first request for that origin has been judged, carries one request at a time and reads
// each response just far enough to know where it ends, so that the next response on the client
// connection belongs to the next request.
//
// Over TLS it may offer HTTP/2 too (for a client side that can hand it several requests at
// once); when the server chooses it, the connection carries many requests at once as streams
// (OriginHttp2.cpp), each response given to its slot as an HTTP/1.1 response would be (a head,
// a body in chunks, trailer fields in the last chunk), so the client side reads them alike.
#pragma once

#include <asio.hpp>
#include <memory>
#include <string>
#include <vector>

#include "platform/interception/BodyScanner.h"
#include "platform/interception/Deadline.h"
#include "platform/interception/HttpHead.h"
#include "platform/interception/OriginEvents.h"
#include "platform/interception/OutQueue.h"
#include "platform/interception/SpliceRelay.h"
#include "platform/interception/TlsTransport.h"
#include "platform/interception/Transport.h"

namespace gx::interception {

class OriginConnection : public std::enable_shared_from_this<OriginConnection> {
  public:
    // tlsName: the server name to verify over TLS; empty for plain HTTP.
    // offerHttp2: ALPN offers h2 before http/1.1 (TLS only).
    static std::shared_ptr<OriginConnection> Create(OriginEvents& session, std::string host,
                                                    uint16_t port, std::string tlsName = {},
                                                    bool offerHttp2 = false);
    OriginConnection(OriginEvents& session, std::string host, uint16_t port, std::string tlsName,
                     bool offerHttp2 = false);
    ~OriginConnection();

    // Sends a judged request (its head as HTTP/1.1 gives it, and what of its body is there);
    // its response fills the slot. On a connection that offers HTTP/2 the request and the body
    // bytes that follow are taken out of their HTTP/1.1 framing and go as a stream.
    void BeginRequest(std::shared_ptr<ResponseSlot> slot, const std::string& bytes,
                      const std::string& method, bool upgrade);
    // Request body bytes, as the client framed them, or tunnel bytes.
    void SendBytes(const char* data, size_t n);

    // For a client side that hands over bodies without their HTTP/1.1 framing: the request
    // (chunked: its body goes in chunks on HTTP/1.1), then its body's bytes and its end.
    void BeginStream(std::shared_ptr<ResponseSlot> slot, const std::string& head,
                     const std::string& method, bool chunked);
    void SendBody(const ResponseSlot* slot, const char* data, size_t n);
    void EndBody(const ResponseSlot* slot);
    // The client gave up the request (HTTP/2 only: the stream is reset; on HTTP/1.1 the
    // connection must close).
    void CancelStream(const ResponseSlot* slot);
    // Whether it takes one more request now: free on HTTP/1.1, below the server's bound of
    // streams on HTTP/2. While the protocol is not known yet, it takes none.
    bool CanTakeRequest() const;
    bool SpeaksHttp2() const { return h2_ != nullptr; }
    // On HTTP/2, the server said GOAWAY: the streams under way end, no new one starts.
    bool GoingAway() const;
    // Connecting, the protocol not chosen yet.
    bool ProtocolPending() const { return !connected_ && !closed_; }
    // Connects for a CONNECT tunnel; the session hears of it through OriginConnectedForTunnel.
    void ConnectForTunnel(std::shared_ptr<ResponseSlot> slot);
    // From now on bytes from the server go to the slot unparsed.
    void StartTunnel(std::shared_ptr<ResponseSlot> slot);
    // The tunnel carries HTTP after all: the connection now serves requests like any other.
    void ServeRequests();
    // After the queued bytes are written, ends the sending direction (the client ended its own).
    void ShutdownAfterFlush();
    void ResumeReading();
    void Close();

    bool Busy() const;
    bool Backlogged() const;
    bool Closed() const { return closed_; }
    // May the session splice a tunnel's bytes into this connection's socket? Now while nothing
    // waits in its queue; Later when what is being written is out (OriginDrained says when).
    SpliceReadiness SpliceInto() const;
    asio::ip::tcp::socket& Socket() { return stream_->Socket(); }
    // The answer owed to the client when this connection failed for a reason of its own (a
    // server certificate that does not verify); empty otherwise.
    const std::string& FailurePage() const { return failurePage_; }

  private:
    enum class Reading { Idle, Head, Body, Tunnel };
    class Http2Side;
    friend class Http2Side;
    class RequestToStream;
    friend class RequestToStream;

    void WriteRequest(std::shared_ptr<ResponseSlot> slot, const std::string& bytes,
                      const std::string& method, bool upgrade);
    void Write(const char* data, size_t n);
    void TranslateRequest(std::shared_ptr<ResponseSlot> slot, const std::string& bytes,
                          const std::string& method);
    std::string SessionKey() const { return tlsName_ + ":" + std::to_string(port_); }
    void RetryOfferingHttp2();

    void Connect();
    void OnResolved(const asio::error_code& error, asio::ip::tcp::resolver::results_type results);
    void ConnectNext();
    void OnConnected(const asio::error_code& error);
    void StartTls();
    void OnTlsHandshake(const asio::error_code& error, TlsClientTransport* stream);
    void Ready();
    void Flush();
    void ReadMore();
    void OnRead(const asio::error_code& error, size_t n);
    bool TrySplice();
    void OnSpliceEnd(SpliceRelay::End end);
    void Consume(const char* data, size_t n);
    bool ConsumeHead(const char*& data, size_t& n);
    void FinishResponse();
    void Fail(int status);
    void OnEnd();
    void ServerEndedTunnel();
    void SetDeadline(Clock::time_point when) { deadline_.Set(when); }
    void OnTimeout();

    OriginEvents& session_;
    std::string host_;
    uint16_t port_;
    std::string tlsName_;
    std::string failurePage_;
    std::unique_ptr<Transport> stream_;
    asio::ip::tcp::resolver resolver_;
    Deadline deadline_;
    bool connecting_ = false;
    bool connected_ = false;
    bool closed_ = false;
    bool reading_ = false;
    bool paused_ = false;     // reading stopped until the client takes what is waiting
    bool consuming_ = false;  // the read buffer is being handed on: no new read into it yet
    bool forTunnel_ = false;
    bool shutdownAfterFlush_ = false;
    bool serverEnded_ = false;  // the server ended its side of the tunnel

    std::vector<asio::ip::tcp::endpoint> endpoints_;  // of the name, tried in turn
    size_t nextEndpoint_ = 0;
    OutQueue out_;
    // One buffer for every read: modest while the connection is idle (a small response still
    // arrives whole in the read that was waiting for it), large while a long body or a tunnel
    // fills it. Left uninitialised: only what a read filled is ever looked at.
    std::unique_ptr<char[]> in_;
    size_t inSize_ = 0;
    bool lastReadFilled_ = false;
    Reading reading_state_ = Reading::Idle;
    std::shared_ptr<ResponseSlot> slot_;
    std::string method_;
    bool upgradeAsked_ = false;
    std::string head_;
    size_t headScanFrom_ = 0;
    ResponseHead response_;
    BodyScanner body_;
    // A long fixed-length body or a tunnel's bytes to the client, inside the kernel.
    std::unique_ptr<SpliceRelay> relay_;
    bool splicing_ = false;
    bool spliceRefused_ = false;  // the kernel refused once: this connection uses its buffers

    bool offerHttp2_ = false;
    bool chunked_ = false;  // the current HTTP/1.1 request's body goes in chunks
    // Streams handed over before the protocol was known (at most one on HTTP/1.1).
    struct Queued {
        std::shared_ptr<ResponseSlot> slot;
        std::string head;
        std::string method;
        bool chunked = false;
        std::string body;
        bool bodyEnded = false;
    };
    std::vector<Queued> queued_;
    std::unique_ptr<Http2Side> h2_;
    // The HTTP/1.1 request whose body is being taken out of its framing.
    std::unique_ptr<RequestToStream> translating_;
    void StartQueued();
    void StartHttp2();
    bool ReceiveHttp2(const char* data, size_t n);
    void ResumeHttp2();
    size_t Http2Buffered() const;
    // The connection failed: every stream on it gets `status` unless its response began.
    void FailHttp2(int status);
};

}  // namespace gx::interception
