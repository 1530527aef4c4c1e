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
#pragma once

#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/ProtocolFiltersAPI.h"
#include "platform/interception/BodyScanner.h"
#include "platform/interception/HttpHead.h"
#include "platform/interception/OutQueue.h"
#include "platform/interception/ProcessFinder.h"

namespace gx::interception {

class OriginConnection;
class Proxy;

using Clock = std::chrono::steady_clock;

// The response owed to one request, in the order of the requests.
struct ResponseSlot {
    std::vector<char> held;  // produced before the slot reached the head of the queue
    bool complete = false;
    bool closeAfter = false;  // the client connection ends once this response is written
    bool started = false;     // bytes of a response were produced
    bool answered = false;    // the program posted the response itself
    std::weak_ptr<OriginConnection> origin;
};

// Where requests go when the connection does not name an origin per request: the original
// destination of a transparent connection, or the target of a CONNECT tunnel.
struct FixedOrigin {
    std::string host;
    uint16_t port = 0;
};

class ClientSession : public std::enable_shared_from_this<ClientSession> {
  public:
    // transparent: a connection redirected by the driver, fixed = its original destination.
    ClientSession(Proxy& proxy, asio::ip::tcp::socket socket, std::optional<FixedOrigin> fixed,
                  bool transparent = false);
    ~ClientSession();

    // Runs on the session's thread: finds the owner process, reads the rules, announces the
    // connection to the program and starts reading.
    void Start();
    ENDPOINT_ID Id() const { return id_; }
    const asio::any_io_executor& Executor() { return executor_; }
    Proxy& Owner() { return proxy_; }

    // From the program, on any thread.
    void AttachFilter(PF_FilterType type, uint32_t flags);
    void PostFromProgram(PF_ObjectType type, std::string wire);
    void PostRawToClient(std::string bytes);
    bool PostRawToOrigin(std::string bytes);
    void SetSuspended(bool suspended);
    // Closes everything without telling the program (the proxy is stopping; no worker runs).
    void Abort();

    // From the session's origins, on its thread.
    void Deliver(ResponseSlot* slot, const char* data, size_t n);
    bool CanTakeMore(const ResponseSlot* slot) const;
    void FinishSlot(ResponseSlot* slot, bool closeAfter);
    void OriginFailed(OriginConnection* origin, ResponseSlot* slot, int status);
    void OriginIdle(OriginConnection* origin);
    void OriginClosed(OriginConnection* origin);
    void OriginDrained(OriginConnection* origin);
    void OriginConnectedForTunnel(OriginConnection* origin);
    void OriginSpokeFirst(OriginConnection* origin);
    void OriginUpgraded(OriginConnection* origin);
    void TunnelEnded();

    // While held, bytes delivered for the client gather instead of being written one piece at a
    // time; the last release writes them together.
    class FlushHold {
      public:
        explicit FlushHold(ClientSession& session) : session_(session) { ++session_.flushHeld_; }
        ~FlushHold() {
            if (--session_.flushHeld_ == 0) {
                session_.FlushClient();
            }
        }
        FlushHold(const FlushHold&) = delete;
        FlushHold& operator=(const FlushHold&) = delete;

      private:
        ClientSession& session_;
    };

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
        Sniff,         // CONNECT established: the first bytes decide HTTP or raw relay
        Tunnel,        // raw relay both ways
        Closing,       // nothing more is read; close once the responses are written
    };

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

    void ReadClient();
    void OnClientRead(const asio::error_code& error, size_t n);
    void ProcessInput();
    bool TakeHead();
    void HandleRequest(RequestHead head);
    void JudgeAndRoute();
    void Forward(std::string bytes, bool streamBody);
    void AfterRequest();
    void DeliverWholeRequest();
    void StartConnect(RequestHead head);
    void DecideSniff();
    void DecideFirstBytes();
    void StartRawRelay();
    void ConnectAndSniff();
    void StreamBody(size_t available);
    void Refuse(int status);
    void RefuseCurrent(int status);
    void DrainInbox();
    void AnswerSlot(ResponseSlot* slot, const std::string& wire);
    std::shared_ptr<ResponseSlot> NewSlot(bool closeAfter);
    std::shared_ptr<OriginConnection> OriginFor(const std::string& host, uint16_t port);
    void AdvanceSlots();
    void FlushClient();
    void MaybeClose();
    void ReleaseOwner();
    void Close();
    bool ResumeInput();

    void UpdateDeadline();
    void SetDeadline(Clock::time_point when);
    void ArmTimer(Clock::time_point when);
    void OnTimeout();

    Proxy& proxy_;
    asio::ip::tcp::socket client_;
    asio::any_io_executor executor_;
    std::optional<FixedOrigin> fixed_;
    ENDPOINT_ID id_ = 0;
    SocketOwner owner_;  // the client's process and descriptor
    bool transparent_ = false;
    bool rawRelay_ = false;  // relayed untouched to the original destination
    Clock::time_point firstBytesDeadline_{};
    bool announced_ = false;  // the program was told of the connection (slot 3)
    bool filtered_ = false;
    std::atomic<bool> httpFilter_{false};
    std::atomic<bool> suspended_{false};
    PFEvents events_{};

    std::vector<char> in_;
    size_t inStart_ = 0;
    size_t inEnd_ = 0;
    bool reading_ = false;
    bool lastReadFilled_ = false;  // the last read filled the buffer: more is coming
    bool clientEof_ = false;
    bool closed_ = false;
    Phase phase_ = Phase::Head;

    bool headStarted_ = false;
    size_t headScanFrom_ = 0;
    Clock::time_point headDeadline_{};

    Request current_;
    BodyScanner body_;
    std::string collected_;
    std::shared_ptr<OriginConnection> bodyOrigin_;  // receives the streamed body or tunnel
    std::string parked_;                            // a passed request waiting for its origin
    bool parkedStreamBody_ = false;
    std::shared_ptr<OriginConnection> parkedOrigin_;
    std::shared_ptr<ResponseSlot> judging_;  // the request the program is deciding on

    std::deque<std::shared_ptr<ResponseSlot>> slots_;
    OutQueue toClient_;
    int flushHeld_ = 0;
    bool closeAfterFlush_ = false;
    bool pausedForResponses_ = false;
    std::map<std::string, std::shared_ptr<OriginConnection>> origins_;

    std::mutex inboxMutex_;
    std::vector<Posted> inbox_;

    asio::steady_timer timer_;
    Clock::time_point deadline_ = Clock::time_point::max();
    Clock::time_point timerAt_{};
    bool timerArmed_ = false;
    uint64_t timerGeneration_ = 0;
};

}  // namespace gx::interception
