// The HTTPS connections that cannot be inspected, remembered so that they are not broken twice:
// a program that refuses the proxy's certificate (it pins its servers' keys, or trusts only a
// store of its own), a server that asks for a client certificate, a TLS connection that does
// not carry HTTP/1.x. Each is kept for a host and a program, for some hours; the next connection
// of that program to that host is relayed untouched. Bounded: the oldest entries go first.
// Safe to use from every worker thread.
#pragma once

#include <chrono>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>

namespace gx::interception {

class FailOpenMemory {
  public:
    using Clock = std::chrono::steady_clock;

    explicit FailOpenMemory(size_t capacity = 4096,
                            Clock::duration lifetime = std::chrono::hours(6))
        : capacity_(capacity), lifetime_(lifetime) {}

    // host: as the certificate would name it (lower case, no trailing dot).
    void Remember(const std::string& host, const std::string& program);
    bool Remembers(const std::string& host, const std::string& program);
    size_t Size();

  private:
    using Entry = std::pair<std::string, Clock::time_point>;  // key, until

    const size_t capacity_;
    const Clock::duration lifetime_;
    std::mutex mutex_;
    std::list<Entry> byAge_;  // oldest first
    std::unordered_map<std::string, std::list<Entry>::iterator> byKey_;
};

}  // namespace gx::interception
