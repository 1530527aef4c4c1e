#include "platform/interception/Proxy.h"

#include <algorithm>

#include "platform/interception/ClientSession.h"

namespace gx::interception {
namespace {

std::atomic<ENDPOINT_ID> gNextId{1};  // identifiers are never reused within a process

constexpr auto kAcceptRetry = std::chrono::milliseconds(50);

}  // namespace

Proxy::Proxy(const PFEvents& events, RuleList& rules, const Limits& limits)
    : events_(events), rules_(rules), limits_(limits) {}

Proxy::~Proxy() {
    Stop();
}

bool Proxy::Start(const asio::ip::tcp::endpoint& explicitEndpoint) {
    io_ = std::make_unique<asio::io_context>();
    try {
        auto listener = std::make_unique<Listener>(Listener{
            asio::ip::tcp::acceptor(*io_), ListenerKind::Explicit, asio::steady_timer(*io_)});
        listener->acceptor.open(explicitEndpoint.protocol());
        listener->acceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true));
        listener->acceptor.bind(explicitEndpoint);
        listener->acceptor.listen(asio::socket_base::max_listen_connections);
        explicitPort_ = listener->acceptor.local_endpoint().port();
        listenEndpoints_.push_back(listener->acceptor.local_endpoint());
        listeners_.push_back(std::move(listener));
    } catch (const std::system_error&) {
        listeners_.clear();
        io_.reset();
        return false;
    }
    for (auto& listener : listeners_) {
        Accept(*listener);
    }
    unsigned count = std::max(2U, std::thread::hardware_concurrency());
    workerIds_.resize(count);
    for (unsigned i = 0; i < count; ++i) {
        workers_.emplace_back([this] { RunWorker(); });
        workerIds_[i] = workers_.back().get_id();
    }
    return true;
}

void Proxy::RunWorker() {
    if (events_.threadStart) {
        events_.threadStart();
    }
    for (;;) {
        try {
            io_->run();
            break;
        } catch (const std::exception&) {
            // A handler failed (allocation, for one); the connection it served is dropped by
            // its own time-out, the proxy goes on.
        }
    }
    if (events_.threadEnd) {
        events_.threadEnd();
    }
}

bool Proxy::OnWorkerThread() const {
    return std::find(workerIds_.begin(), workerIds_.end(), std::this_thread::get_id()) !=
           workerIds_.end();
}

void Proxy::Stop() {
    if (!io_) {
        return;
    }
    io_->stop();
    for (auto& worker : workers_) {
        worker.join();
    }
    workers_.clear();
    workerIds_.clear();
    std::unordered_map<ENDPOINT_ID, std::shared_ptr<ClientSession>> live;
    {
        std::lock_guard lock(registryMutex_);
        live.swap(sessions_);
    }
    for (auto& entry : live) {
        entry.second->Abort();
    }
    live.clear();
    // Destroying the context destroys every pending handler and with them the last sessions.
    listeners_.clear();
    io_.reset();
    listenEndpoints_.clear();
    explicitPort_ = 0;
}

void Proxy::Accept(Listener& listener) {
    listener.acceptor.async_accept(
        asio::make_strand(*io_),
        [this, &listener](const asio::error_code& error, asio::ip::tcp::socket socket) {
            if (error == asio::error::operation_aborted || !listener.acceptor.is_open()) {
                return;
            }
            if (error) {
                // Out of file descriptors, most likely: the waiting connections stay in the
                // backlog until some close; serving the open ones goes on meanwhile.
                listener.retry.expires_after(kAcceptRetry);
                listener.retry.async_wait([this, &listener](const asio::error_code& waitError) {
                    if (!waitError) {
                        Accept(listener);
                    }
                });
                return;
            }
            auto session = std::make_shared<ClientSession>(*this, std::move(socket), std::nullopt);
            asio::dispatch(session->Executor(), [session] { session->Start(); });
            Accept(listener);
        });
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
