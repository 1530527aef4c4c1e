// Servers that refused a handshake offering HTTP/1.1 alone (ALPN "no application protocol":
// gRPC services, some APIs). The next connection to one offers HTTP/2 from the start instead of
// failing first. Shared by every worker thread, so a small lock guards it; bounded, since the
// names come from the network.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_set>

namespace gx::interception {

class Http2OnlyServers {
  public:
    static constexpr size_t kMaxServers = 512;

    // key: the server's name and port, as the TLS session cache names it.
    void Remember(const std::string& key) {
        std::lock_guard lock(mutex_);
        if (servers_.size() >= kMaxServers) {
            servers_.clear();  // relearnt at the cost of one refused handshake each
        }
        servers_.insert(key);
    }
    bool Has(const std::string& key) {
        std::lock_guard lock(mutex_);
        return servers_.count(key) != 0;
    }

  private:
    std::mutex mutex_;
    std::unordered_set<std::string> servers_;
};

}  // namespace gx::interception
