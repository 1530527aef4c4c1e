// The leaf certificates shown to a client whose HTTPS connection is inspected: one per server
// name, signed by the installation's root, for that name alone (a DNS entry, or an IP entry for
// an address), valid at most 397 days from a day in the past (clocks that run late). All leaves
// of a run share one P-256 key made at start. Leaves are kept in memory, the least recently
// used ones forgotten beyond the cache's capacity. Safe to call from every worker thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/tls/RootAuthority.h"

namespace gx::tls {

class LeafIssuer {
  public:
    explicit LeafIssuer(RootAuthority root, size_t capacity = 1024);

    // The leaf for a host name or an address ("a.example", "192.0.2.1", "2001:db8::1");
    // letter case and a trailing dot do not matter. nullptr when OpenSSL refuses.
    std::shared_ptr<X509> LeafFor(const std::string& name);
    EVP_PKEY* LeafKey() const { return leafKey_.get(); }
    const RootAuthority& Root() const { return root_; }

    uint64_t Hits() const { return hits_; }
    uint64_t Misses() const { return misses_; }
    size_t Cached();

  private:
    std::shared_ptr<X509> Issue(const std::string& name);

    RootAuthority root_;
    std::shared_ptr<EVP_PKEY> leafKey_;
    const size_t capacity_;
    std::mutex mutex_;
    std::list<std::pair<std::string, std::shared_ptr<X509>>> recent_;  // most recent first
    std::unordered_map<std::string, decltype(recent_)::iterator> byName_;
    std::atomic<uint64_t> hits_{0};
    std::atomic<uint64_t> misses_{0};
};

// The name as a certificate and a cache key hold it: lower case, no trailing dot.
std::string CanonicalServerName(const std::string& name);
// Do the two name one server (letter case and a trailing dot aside)? Allocates nothing: the
// proxy asks it for every request of a connection whose server is known.
bool SameServerName(std::string_view a, std::string_view b);

}  // namespace gx::tls
