// One client connection through the proxy.
//
// The client's bytes are cut into requests; each request is judged by the program (when the
// connection carries the HTTP filter) before any of its bytes goes further, then travels to a
// connection to its origin, opened on demand and reused per origin. Every request owns a
// response slot; slots are written to the client strictly in request order, whoever fills them
// (an origin, the program, or the proxy refusing a request).
//
// All of a session's work, its origins' included, runs on its worker thread: no locks inside,
// except for the inbox through which the program posts objects from any thread.
//
// The session's code is split by concern: ClientSession.cpp reads the client and cuts its bytes
// into requests; SessionProgram.cpp asks the program about them and takes its posts;
// SessionTunnel.cpp opens CONNECT tunnels, sniffs the first bytes of a tunnel or a redirected
// connection and relays raw bytes; SessionResponses.cpp writes the responses in order and hears
// from the origins. The program is reached through a
// ProgramBridge, the responses are ordered by a ResponseQueue, and the client's bytes travel
// through a Transport.
#pragma once

#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "api/interception/ProtocolFiltersAPI.h"
#include "platform/interception/BodyScanner.h"
#include "platform/interception/Deadline.h"
#include "platform/interception/FirstBytes.h"
#include "platform/interception/Http1RequestReader.h"
#include "platform/interception/HttpHead.h"
#include "platform/interception/OriginEvents.h"
#include "platform/interception/OutQueue.h"
#include "platform/interception/ProcessFinder.h"
#include "platform/interception/ProgramBridge.h"
#include "platform/interception/ResponseQueue.h"
#include "platform/interception/SpliceRelay.h"
#include "platform/interception/Transport.h"
#include "platform/tls/ClientHello.h"
#include "platform/tls/LeafIssuer.h"

namespace gx::interception {

class Http2Front;
class OriginConnection;
class Proxy;

// Where requests go when the connection does not name an origin per request: the original
// destination of a transparent connection, or the target of a CONNECT tunnel.
struct FixedOrigin {
    std::string host;
    uint16_t port = 0;
};

class ClientSession : public std::enable_shared_from_this<ClientSession>,
                      public OriginEvents,
                      private ByteSink {
  public:
    // transparent: a connection redirected by the driver, fixed = its original destination.
    ClientSession(Proxy& proxy, asio::ip::tcp::socket socket, std::optional<FixedOrigin> fixed,
                  bool transparent = false);
    ~ClientSession() override;

    // Runs on the session's thread: finds the owner process, reads the rules, announces the
    // connection to the program and starts reading.
    void Start();
    // The client's two addresses (its own, the one it reached); nullopt when either cannot be
    // read (the connection is gone already).
    static std::optional<std::pair<asio::ip::tcp::endpoint, asio::ip::tcp::endpoint>> Endpoints(
        asio::ip::tcp::socket& socket);
    ENDPOINT_ID Id() const { return id_; }
    // The account that owns the client's socket (kUnknownAccount until it is looked up, or when
    // the kernel could not say). Any thread: set once, before the program hears of the
    // connection.
    uint32_t Account() const { return account_.load(std::memory_order_acquire); }
    const asio::any_io_executor& Executor() override { return executor_; }
    Proxy& Owner() override { return proxy_; }
    std::shared_ptr<void> KeepAlive() override { return shared_from_this(); }

    // From the program, on any thread.
    void AttachFilter(PF_FilterType type, uint32_t flags);
    void PostFromProgram(PF_ObjectType type, std::string wire);
    void PostRawToClient(std::string bytes);
    // False when no tunnel is open: raw bytes have nowhere to go on a connection carrying HTTP.
    bool PostRawToOrigin(std::string bytes);
    void SetSuspended(bool suspended);
    // Closes everything without telling the program (the proxy is stopping; no worker runs).
    void Abort();

    // OriginEvents: from the session's origins, on its thread.
    void Deliver(ResponseSlot* slot, const char* data, size_t n) override;
    bool CanTakeMore(const ResponseSlot* slot) const override;
    void FinishSlot(ResponseSlot* slot, bool closeAfter) override;
    void OriginFailed(OriginConnection* origin, ResponseSlot* slot, int status) override;
    void OriginIdle(OriginConnection* origin) override;
    void OriginClosed(OriginConnection* origin) override;
    void OriginDrained(OriginConnection* origin) override;
    void OriginConnectedForTunnel(OriginConnection* origin) override;
    void OriginSpokeFirst(OriginConnection* origin) override;
    void OriginUpgraded(OriginConnection* origin) override;
    void TlsServerCannotBeInspected() override;
    void TunnelEnded() override;
    void ServerEndedTunnel() override;
    void HoldWrites() override { ++flushHeld_; }
    void ReleaseWrites() override {
        if (--flushHeld_ == 0) {
            FlushClient();
        }
    }
    // Only while the slot is at the head of the responses and nothing waits in the client's
    // queue.
    SpliceReadiness SpliceToClient(const ResponseSlot* slot) const override;
    asio::ip::tcp::socket& ClientSocket() override { return client_->Socket(); }
    void RelayedToClient() override { UpdateDeadline(); }

  private:
    enum class Phase {
        FirstBytes,    // redirected connection: its first bytes decide HTTP or raw relay
        Head,          // reading the next request head
        BodyToOrigin,  // streaming a passed request's body to its origin
        BodyDiscard,   // dropping the body of a request the program answered
        BodyCollect,   // collecting a whole request for the object callback
        AwaitProgram,  // the program holds the request; waiting for its post
        AwaitOrigin,   // a passed request waits until its origin connection is free
        AwaitUpgrade,  // an upgrade request went out; its response decides
        AwaitConnect,  // CONNECT: connecting to the target
        TlsHandshake,  // an HTTPS connection to inspect: our end of its TLS is being set up
        Sniff,         // CONNECT established: the first bytes decide HTTP or raw relay
        Tunnel,        // raw relay both ways
        Closing,       // nothing more is read; close once the responses are written
        Http2,         // an inspected HTTPS connection whose client chose HTTP/2 (Http2Front)
    };
    friend class Http2Front;

    struct Request {
        RequestHead head;
        std::shared_ptr<ResponseSlot> slot;
        std::string originHost;
        uint16_t originPort = 0;
    };

    struct Posted {
        PF_ObjectType type;
        std::string wire;
        bool raw = false;
    };

    void Announce(const ConnectionAnnouncement& connection);
    void ReadClient();
    void OnClientRead(const asio::error_code& error, size_t n);
    void PostInboxDrain();
    void ProcessInput();
    bool TakeHead();
    void HandleRequest(RequestHead head);
    void JudgeAndRoute();
    HeadVerdict AskProgram(const RequestHead& head) { return AskProgramFor(current_.slot, head); }
    // The program's verdict on a request whose answer goes to `slot`.
    HeadVerdict AskProgramFor(const std::shared_ptr<ResponseSlot>& slot, const RequestHead& head);
    // The whole request to the program, its answer to `slot`; the request as the program let
    // it go when it posted it meanwhile.
    std::optional<std::string> HandWholeFor(const std::shared_ptr<ResponseSlot>& slot,
                                            const RequestHead& head, const std::string& body);
    void StartHttp2();
    void SendToClient(const std::string& bytes);
    std::optional<RequestHead> UnderTheConnectionsServer(const RequestHead& head) const;
    void Forward(std::string bytes, bool streamBody);
    void AfterRequest();
    void DeliverWholeRequest();
    void StartConnect(RequestHead head);
    void AnswerConnectAtOnce(RequestHead head);
    bool CanIntercept();
    bool InterceptTls(const tls::ClientHello& hello);
    void OnClientHandshake(const asio::error_code& error, const std::string& name,
                           const std::string& program);
    bool FirstTlsRequestIsHttp();
    std::string ProgramPath() const;
    void OpenTunnelOrigin(const std::string& host, uint16_t port);
    void EnterTunnel();
    void DecideSniff();
    void DecideFirstBytes();
    void StartRawRelay();
    bool SpliceToOrigin();
    void OnSpliceToOriginEnd(SpliceRelay::End end);
    void ConnectAndSniff();
    void StreamBody(size_t available);
    void Refuse(int status);
    void RefuseCurrent(int status);
    void DrainInbox();
    void AnswerSlot(ResponseSlot* slot, const std::string& wire);
    std::shared_ptr<ResponseSlot> NewSlot(bool closeAfter) { return responses_.Open(closeAfter); }
    std::shared_ptr<OriginConnection> OriginFor(const std::string& host, uint16_t port);
    void ResumeAfterResponses();
    void ParkedOriginFreed();
    // ByteSink: the head response's bytes for the client.
    void Write(const char* data, size_t n) override;
    size_t Backlog() const override { return toClient_.Size(); }
    void FlushClient();
    void MaybeClose();
    void ReleaseOwner();
    void Close();
    bool ResumeInput();

    void UpdateDeadline();
    void OnTimeout();

    Proxy& proxy_;
    ProgramBridge& program_;
    std::unique_ptr<Transport> client_;
    asio::any_io_executor executor_;
    std::optional<FixedOrigin> fixed_;
    ENDPOINT_ID id_ = 0;
    SocketOwner owner_;  // the client's process and descriptor
    std::atomic<uint32_t> account_{kUnknownAccount};
    bool transparent_ = false;
    bool rawRelay_ = false;  // relayed untouched to the original destination
    Clock::time_point firstBytesDeadline_{};
    bool announced_ = false;  // the program was told of the connection (slot 3)
    bool filtered_ = false;
    std::atomic<bool> httpFilter_{false};
    std::atomic<bool> tlsFilter_{false};
    bool connectAnswered_ = false;  // CONNECT answered before its origin was connected
    // The server name of an inspected HTTPS connection (lower case); empty for plain ones.
    std::string tlsServerName_;
    std::string tlsProgram_;        // the program of that connection, for the fail-open memory
    bool tlsFirstRequest_ = false;  // no request has come through the inspected TLS yet
    std::atomic<bool> suspended_{false};
    std::atomic<bool> tunnelOpen_{false};  // raw bytes from the program may go to the origin

    std::vector<char> in_;
    size_t inStart_ = 0;
    size_t inEnd_ = 0;
    bool reading_ = false;
    bool lastReadFilled_ = false;  // the last read filled the buffer: more is coming
    bool clientEof_ = false;
    bool closed_ = false;
    Phase phase_ = Phase::Head;

    Http1RequestReader reader_;
    Clock::time_point headDeadline_{};

    Request current_;
    BodyScanner body_;
    std::string collected_;
    std::shared_ptr<OriginConnection> bodyOrigin_;  // receives the streamed body or tunnel
    std::string parked_;                            // a passed request waiting for its origin
    bool parkedStreamBody_ = false;
    std::shared_ptr<OriginConnection> parkedOrigin_;
    std::shared_ptr<ResponseSlot> judging_;  // the request the program is deciding on

    ResponseQueue responses_{*this};
    OutQueue toClient_;
    int flushHeld_ = 0;
    bool pausedForResponses_ = false;
    bool endClientSideWhenFlushed_ = false;
    std::map<std::string, std::shared_ptr<OriginConnection>> origins_;

    // The streams of an HTTP/2 client; lives as long as the session, as its origins use it.
    std::unique_ptr<Http2Front> h2_;
    std::optional<std::string>* postedRequest_ = nullptr;  // while HandWholeFor waits

    std::mutex inboxMutex_;
    std::vector<Posted> inbox_;

    Deadline deadline_;

    // The client's tunnel bytes to the origin, inside the kernel (see SpliceRelay).
    std::unique_ptr<SpliceRelay> toOrigin_;
    bool splicing_ = false;
    bool spliceRefused_ = false;
};

}  // namespace gx::interception
