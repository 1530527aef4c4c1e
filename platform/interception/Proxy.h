// The interception proxy: one Asio io_context per worker thread (at least two, one per core),
// its listeners and the registry of live client connections by identifier. Each accepted
// connection is given to the next worker in turn and stays on it, so a connection's handlers
// never run concurrently and no thread wakes another to carry on its work.
//
// A listener hands each accepted connection to a ClientSession together with what the listener
// knows of it: an explicit-proxy connection names its origins request by request, a transparent
// one (redirected by the firewall) carries its original destination.
#pragma once

#include <asio.hpp>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

#include "api/interception/NetFilter2API.h"
#include "platform/driver/DriverConfig.h"
#include "platform/interception/Interception.h"
#include "platform/interception/ProcessFinder.h"
#include "platform/interception/ProgramBridge.h"
#include "platform/interception/Rules.h"
#include "platform/interception/TlsInterceptor.h"

namespace gx::interception {

class ClientSession;

enum class ListenerKind { Explicit, Transparent };

class Proxy {
  public:
    Proxy(std::shared_ptr<ProgramBridge> program, RuleList& rules, const Limits& limits);
    ~Proxy();
    Proxy(const Proxy&) = delete;
    Proxy& operator=(const Proxy&) = delete;

    // Opens the explicit listener, and the transparent ones on 127.0.0.1 and ::1 when the driver
    // is installed, then starts the workers. False: nothing is left open.
    bool Start(const asio::ip::tcp::endpoint& explicitEndpoint,
               std::optional<gx::DriverConfig> driver = std::nullopt);
    // Closes everything and joins the workers. Must not run on a worker thread.
    void Stop();

    uint16_t ExplicitPort() const { return explicitPort_; }
    bool TransparentOn() const { return driver_.has_value(); }
    // The mark of upstream sockets, so that the driver never redirects them; 0 = none.
    uint32_t UpstreamMark() const { return driver_ ? driver_->firewallMark : 0; }
    bool OnWorkerThread() const;

    std::shared_ptr<ClientSession> Find(ENDPOINT_ID id);

    // For the sessions.
    ProgramBridge& Program() { return *program_; }
    // HTTPS inspection; nullptr when the proxy has none (no root could be had).
    TlsInterceptor* Tls() const { return tls_.get(); }
    void SetTls(std::shared_ptr<TlsInterceptor> tls) { tls_ = std::move(tls); }
    const RuleList& Rules() const { return rules_; }
    ProcessFinder& Processes() { return processes_; }
    const Limits& GetLimits() const { return limits_; }
    ENDPOINT_ID Register(const std::shared_ptr<ClientSession>& session);
    void Unregister(ENDPOINT_ID id);
    // Would a connection to this endpoint come back into one of our listeners?
    bool IsOwnListener(const asio::ip::tcp::endpoint& endpoint) const;

  private:
    struct Listener {
        asio::ip::tcp::acceptor acceptor;
        ListenerKind kind;
        asio::steady_timer retry;
    };
    void Accept(Listener& listener);
    void RetryAccept(Listener& listener);
    void StartSession(asio::ip::tcp::socket socket, ListenerKind kind);
    void OpenHeartbeats();
    void CloseHeartbeats();
    // Releases the listeners, the workers' contexts and the heartbeat's, once no thread runs.
    void ReleaseListeners();
    void Beat(bool arm);
    void ScheduleHeartbeat();
    void OpenListener(const asio::ip::tcp::endpoint& endpoint, ListenerKind kind);
    void RunWorker(asio::io_context& context);

    std::shared_ptr<ProgramBridge> program_;
    std::shared_ptr<TlsInterceptor> tls_;
    RuleList& rules_;
    Limits limits_;
    ProcessFinder processes_;

    std::mutex registryMutex_;
    // Live sessions are held here until they close, also while no operation of theirs is pending
    // (a request the program holds).
    std::unordered_map<ENDPOINT_ID, std::shared_ptr<ClientSession>> sessions_;

    using WorkGuard = asio::executor_work_guard<asio::io_context::executor_type>;
    std::vector<std::unique_ptr<asio::io_context>> contexts_;
    std::vector<WorkGuard> guards_;
    size_t nextContext_ = 0;
    std::vector<std::unique_ptr<Listener>> listeners_;
    std::vector<asio::ip::tcp::endpoint> listenEndpoints_;
    std::vector<std::thread> workers_;
    std::vector<std::thread::id> workerIds_;
    uint16_t explicitPort_ = 0;
    std::optional<gx::DriverConfig> driver_;
    // Marked UDP sockets that keep the driver's redirect armed, one per family listened on:
    // the redirect acts only while this process refreshes it.
    struct Heartbeat {
        int fd;
        int family;
    };
    std::vector<Heartbeat> heartbeats_;
    // The redirect's heartbeat has a thread of its own: a worker busy with connections must
    // never let the arming lapse.
    std::unique_ptr<asio::io_context> heartbeatContext_;
    std::unique_ptr<asio::steady_timer> heartbeatTimer_;
    std::thread heartbeatThread_;
};

}  // namespace gx::interception
