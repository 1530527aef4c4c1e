#include "platform/interception/TlsSessionCache.h"

namespace gx::interception {
namespace {

// On the context: the cache (the callback gets only the connection). On each connection: its
// key, freed with the connection.
int CacheIndex() {
    static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

void FreeKey(void*, void* key, CRYPTO_EX_DATA*, int, long, void*) {
    delete static_cast<std::string*>(key);
}

int OwnedKeyIndex() {
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, FreeKey);
    return index;
}

}  // namespace

void TlsSessionCache::Attach(SSL_CTX* context) {
    SSL_CTX_set_ex_data(context, CacheIndex(), this);
    SSL_CTX_set_session_cache_mode(context,
                                   SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(context, NewSession);
}

void TlsSessionCache::Prepare(SSL* ssl, const std::string& key) {
    SSL_set_ex_data(ssl, OwnedKeyIndex(), new std::string(key));
    std::lock_guard lock(mutex_);
    if (auto found = sessions_.find(key); found != sessions_.end()) {
        SSL_set_session(ssl, found->second.get());
    }
}

size_t TlsSessionCache::Size() {
    std::lock_guard lock(mutex_);
    return sessions_.size();
}

int TlsSessionCache::NewSession(SSL* ssl, SSL_SESSION* session) {
    auto* cache =
        static_cast<TlsSessionCache*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), CacheIndex()));
    auto* key = static_cast<std::string*>(SSL_get_ex_data(ssl, OwnedKeyIndex()));
    if (!cache || !key) {
        return 0;  // not ours to keep: OpenSSL frees it
    }
    // A copy: OpenSSL marks its own session not resumable when the connection is freed without
    // a closing alert, which is how most connections to servers end.
    if (SSL_SESSION* copy = SSL_SESSION_dup(session)) {
        cache->Keep(*key, copy);
    }
    return 0;  // OpenSSL keeps and frees its own
}

void TlsSessionCache::Keep(const std::string& key, SSL_SESSION* session) {
    std::shared_ptr<SSL_SESSION> owned(session, SSL_SESSION_free);
    std::lock_guard lock(mutex_);
    if (sessions_.insert_or_assign(key, std::move(owned)).second) {
        order_.push_back(key);
    }
    while (sessions_.size() > kMaxSessions && !order_.empty()) {
        sessions_.erase(order_.front());
        order_.pop_front();
    }
}

}  // namespace gx::interception
