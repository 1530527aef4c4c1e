// A client session's connection to one origin server (host and port). It is opened only when
// the first request for that origin has been judged, carries one request at a time and reads
// each response just far enough to know where it ends, so that the next response on the client
// connection belongs to the next request.
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
    static std::shared_ptr<OriginConnection> Create(OriginEvents& session, std::string host,
                                                    uint16_t port, std::string tlsName = {});
    OriginConnection(OriginEvents& session, std::string host, uint16_t port, std::string tlsName);

    // Sends a judged request; its response fills the slot.
    void BeginRequest(std::shared_ptr<ResponseSlot> slot, const std::string& bytes,
                      const std::string& method, bool upgrade);
    // Request body or tunnel bytes.
    void SendBytes(const char* data, size_t n);
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

    bool Busy() const { return slot_ != nullptr; }
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
};

}  // namespace gx::interception
