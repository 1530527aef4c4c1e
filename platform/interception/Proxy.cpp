#include "platform/interception/Proxy.h"

#include <linux/netfilter_ipv4.h>
#include <linux/netfilter_ipv6/ip6_tables.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/driver/RedirectHeartbeat.h"
#include "platform/interception/ClientSession.h"
#include "platform/interception/SocketMark.h"

namespace gx::interception {
namespace {

std::atomic<ENDPOINT_ID> gNextId{1};  // identifiers are never reused within a process

constexpr auto kAcceptRetry = std::chrono::milliseconds(50);

}  // namespace

Proxy::Proxy(std::shared_ptr<ProgramBridge> program, RuleList& rules, const Limits& limits)
    : program_(std::move(program)), rules_(rules), limits_(limits) {}

Proxy::~Proxy() {
    Stop();
}

void Proxy::OpenListener(const asio::ip::tcp::endpoint& endpoint, ListenerKind kind) {
    asio::io_context& first = *contexts_.front();
    auto listener = std::make_unique<Listener>(
        Listener{asio::ip::tcp::acceptor(first), kind, asio::steady_timer(first)});
    listener->acceptor.open(endpoint.protocol());
    listener->acceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true));
    if (endpoint.protocol() == asio::ip::tcp::v6()) {
        listener->acceptor.set_option(asio::ip::v6_only(true));
    }
    listener->acceptor.bind(endpoint);
    listener->acceptor.listen(asio::socket_base::max_listen_connections);
    listenEndpoints_.push_back(listener->acceptor.local_endpoint());
    listeners_.push_back(std::move(listener));
}

bool Proxy::Start(const asio::ip::tcp::endpoint& explicitEndpoint,
                  std::optional<gx::DriverConfig> driver) {
    unsigned count = std::max(2U, std::thread::hardware_concurrency());
    try {
        for (unsigned i = 0; i < count; ++i) {
            contexts_.push_back(std::make_unique<asio::io_context>(1));
            // Creates the context's reactor now: later, with descriptors short, it could not be.
            asio::ip::tcp::socket warmUp(*contexts_.back());
        }
        OpenListener(explicitEndpoint, ListenerKind::Explicit);
        explicitPort_ = listenEndpoints_.back().port();
        if (driver) {
            // The driver redirects to the loopback address of each family.
            OpenListener({asio::ip::address_v4::loopback(), driver->transparentPort},
                         ListenerKind::Transparent);
            try {
                OpenListener({asio::ip::address_v6::loopback(), driver->transparentPort},
                             ListenerKind::Transparent);
            } catch (const std::system_error& error) {
                // No IPv6 on this machine: nothing to redirect there either.
                if (error.code() != std::errc::address_family_not_supported &&
                    error.code() != std::errc::address_not_available) {
                    throw;
                }
            }
            driver_ = driver;
            OpenHeartbeats();
        }
    } catch (const std::exception&) {
        CloseHeartbeats();
        ReleaseListeners();
        driver_.reset();
        return false;
    }
    for (auto& listener : listeners_) {
        Accept(*listener);
    }
    for (auto& context : contexts_) {
        guards_.push_back(asio::make_work_guard(*context));
    }
    workerIds_.resize(count);
    for (unsigned i = 0; i < count; ++i) {
        workers_.emplace_back([this, context = contexts_[i].get()] { RunWorker(*context); });
        workerIds_[i] = workers_.back().get_id();
    }
    if (heartbeatContext_) {
        heartbeatThread_ = std::thread([context = heartbeatContext_.get()] { context->run(); });
    }
    return true;
}

void Proxy::RunWorker(asio::io_context& context) {
    program_->WorkerStarted();
    for (;;) {
        try {
            context.run();
            break;
        } catch (const std::exception&) {
            // A handler failed (allocation, for one); the connection it served is dropped by
            // its own time-out, the proxy goes on.
        }
    }
    program_->WorkerEnded();
}

bool Proxy::OnWorkerThread() const {
    return std::find(workerIds_.begin(), workerIds_.end(), std::this_thread::get_id()) !=
           workerIds_.end();
}

void Proxy::Stop() {
    if (contexts_.empty()) {
        return;
    }
    // First of all: the machine's traffic goes out untouched again, not to a closed port. The
    // heartbeat ends before, so that no late beat arms the redirect again.
    if (heartbeatContext_) {
        heartbeatContext_->stop();
    }
    if (heartbeatThread_.joinable()) {
        heartbeatThread_.join();
    }
    Beat(false);
    CloseHeartbeats();
    for (auto& context : contexts_) {
        context->stop();
    }
    for (auto& worker : workers_) {
        worker.join();
    }
    workers_.clear();
    workerIds_.clear();
    guards_.clear();
    std::unordered_map<ENDPOINT_ID, std::shared_ptr<ClientSession>> live;
    {
        std::lock_guard lock(registryMutex_);
        live.swap(sessions_);
    }
    for (auto& entry : live) {
        entry.second->Abort();
    }
    live.clear();
    // Destroying the contexts destroys every pending handler and with them the last sessions.
    ReleaseListeners();
}

void Proxy::CloseHeartbeats() {
    for (const Heartbeat& heartbeat : heartbeats_) {
        ::close(heartbeat.fd);
    }
    heartbeats_.clear();
}

void Proxy::ReleaseListeners() {
    heartbeatTimer_.reset();
    heartbeatContext_.reset();
    listeners_.clear();
    contexts_.clear();
    listenEndpoints_.clear();
    explicitPort_ = 0;
}

void Proxy::OpenHeartbeats() {
    for (const auto& listener : listeners_) {
        if (listener->kind != ListenerKind::Transparent) {
            continue;
        }
        int family = listener->acceptor.local_endpoint().address().is_v4() ? AF_INET : AF_INET6;
        int fd = ::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0 || !SetSocketMark(fd, driver_->firewallMark)) {
            if (fd >= 0) {
                ::close(fd);
            }
            throw std::system_error(errno, std::generic_category(), "heartbeat");
        }
        heartbeats_.push_back({fd, family});
    }
    Beat(true);
    heartbeatContext_ = std::make_unique<asio::io_context>(1);
    heartbeatTimer_ = std::make_unique<asio::steady_timer>(*heartbeatContext_);
    ScheduleHeartbeat();
}

void Proxy::Beat(bool arm) {
    for (const Heartbeat& heartbeat : heartbeats_) {
        gx::SendRedirectHeartbeat(heartbeat.fd, heartbeat.family, driver_->transparentPort, arm);
    }
}

void Proxy::ScheduleHeartbeat() {
    heartbeatTimer_->expires_after(std::chrono::seconds(gx::kRedirectHeartbeatSeconds));
    heartbeatTimer_->async_wait([this](const asio::error_code& error) {
        if (!error) {
            Beat(true);
            ScheduleHeartbeat();
        }
    });
}

void Proxy::Accept(Listener& listener) {
    asio::io_context& target = *contexts_[nextContext_++ % contexts_.size()];
    listener.acceptor.async_accept(
        target, [this, &listener](const asio::error_code& error, asio::ip::tcp::socket socket) {
            if (error == asio::error::operation_aborted || !listener.acceptor.is_open()) {
                return;
            }
            if (error) {
                RetryAccept(listener);
                return;
            }
            try {
                StartSession(std::move(socket), listener.kind);
            } catch (const std::exception&) {
                // The connection is dropped; accepting goes on.
            }
            Accept(listener);
        });
}

// Out of file descriptors, most likely: the waiting connections stay in the backlog and serving
// the open ones goes on. The listener has signalled its waiting connections already and will
// not again, so the backlog is taken by direct non-blocking accepts until it is empty.
void Proxy::RetryAccept(Listener& listener) {
    listener.retry.expires_after(kAcceptRetry);
    listener.retry.async_wait([this, &listener](const asio::error_code& waitError) {
        if (waitError || !listener.acceptor.is_open()) {
            return;
        }
        try {
            asio::error_code error;
            listener.acceptor.non_blocking(true, error);
            for (;;) {
                asio::io_context& target = *contexts_[nextContext_++ % contexts_.size()];
                asio::ip::tcp::socket socket = listener.acceptor.accept(target, error);
                if (error == asio::error::would_block || error == asio::error::try_again) {
                    Accept(listener);
                    return;
                }
                if (error) {
                    RetryAccept(listener);
                    return;
                }
                StartSession(std::move(socket), listener.kind);
            }
        } catch (const std::exception&) {
            RetryAccept(listener);  // no memory for a new session: try again shortly
        }
    });
}

// The destination a redirected connection was meant for; nullopt when there is none (a
// connection made to the transparent listener directly).
static std::optional<FixedOrigin> OriginalDestination(asio::ip::tcp::socket& socket) {
    sockaddr_storage destination{};
    socklen_t length = sizeof destination;
    int fd = socket.native_handle();
    bool v4 = socket.local_endpoint().address().is_v4();
    int result = v4 ? ::getsockopt(fd, SOL_IP, SO_ORIGINAL_DST, &destination, &length)
                    : ::getsockopt(fd, SOL_IPV6, IP6T_SO_ORIGINAL_DST, &destination, &length);
    if (result != 0) {
        return std::nullopt;
    }
    asio::ip::tcp::endpoint endpoint;
    std::memcpy(endpoint.data(), &destination, std::min<size_t>(length, endpoint.capacity()));
    return FixedOrigin{endpoint.address().to_string(), endpoint.port()};
}

void Proxy::StartSession(asio::ip::tcp::socket socket, ListenerKind kind) {
    std::optional<FixedOrigin> fixed;
    if (kind == ListenerKind::Transparent) {
        asio::error_code error;
        fixed = OriginalDestination(socket);
        if (!fixed || IsOwnListener({asio::ip::make_address(fixed->host, error), fixed->port})) {
            return;  // nowhere to go but back here: closed
        }
    }
    auto session = std::make_shared<ClientSession>(*this, std::move(socket), std::move(fixed),
                                                   kind == ListenerKind::Transparent);
    asio::post(session->Executor(), [session] { session->Start(); });
}

ENDPOINT_ID Proxy::Register(const std::shared_ptr<ClientSession>& session) {
    ENDPOINT_ID id = gNextId++;
    std::lock_guard lock(registryMutex_);
    sessions_[id] = session;
    return id;
}

void Proxy::Unregister(ENDPOINT_ID id) {
    std::lock_guard lock(registryMutex_);
    sessions_.erase(id);
}

std::shared_ptr<ClientSession> Proxy::Find(ENDPOINT_ID id) {
    std::lock_guard lock(registryMutex_);
    auto found = sessions_.find(id);
    return found == sessions_.end() ? nullptr : found->second;
}

bool Proxy::IsOwnListener(const asio::ip::tcp::endpoint& endpoint) const {
    for (const auto& own : listenEndpoints_) {
        if (own.port() != endpoint.port()) {
            continue;
        }
        const auto& a = endpoint.address();
        const auto& b = own.address();
        if (a == b || a.is_unspecified() || b.is_unspecified() ||
            (a.is_loopback() && b.is_loopback())) {
            return true;
        }
    }
    return false;
}

}  // namespace gx::interception
