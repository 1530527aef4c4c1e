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
    unsigned count = std::max(2U, std::thread::hardware_concurrency());
    try {
        for (unsigned i = 0; i < count; ++i) {
            contexts_.push_back(std::make_unique<asio::io_context>(1));
            // Creates the context's reactor now: later, with descriptors short, it could not be.
            asio::ip::tcp::socket warmUp(*contexts_.back());
        }
        asio::io_context& first = *contexts_.front();
        auto listener = std::make_unique<Listener>(Listener{
            asio::ip::tcp::acceptor(first), ListenerKind::Explicit, asio::steady_timer(first)});
        listener->acceptor.open(explicitEndpoint.protocol());
        listener->acceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true));
        listener->acceptor.bind(explicitEndpoint);
        listener->acceptor.listen(asio::socket_base::max_listen_connections);
        explicitPort_ = listener->acceptor.local_endpoint().port();
        listenEndpoints_.push_back(listener->acceptor.local_endpoint());
        listeners_.push_back(std::move(listener));
    } catch (const std::exception&) {
        listeners_.clear();
        contexts_.clear();
        listenEndpoints_.clear();
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
    return true;
}

void Proxy::RunWorker(asio::io_context& context) {
    if (events_.threadStart) {
        events_.threadStart();
    }
    for (;;) {
        try {
            context.run();
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
    if (contexts_.empty()) {
        return;
    }
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
    listeners_.clear();
    contexts_.clear();
    listenEndpoints_.clear();
    explicitPort_ = 0;
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
                StartSession(std::move(socket));
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
                StartSession(std::move(socket));
            }
        } catch (const std::exception&) {
            RetryAccept(listener);  // no memory for a new session: try again shortly
        }
    });
}

void Proxy::StartSession(asio::ip::tcp::socket socket) {
    auto session = std::make_shared<ClientSession>(*this, std::move(socket), std::nullopt);
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
