// The rule list that decides, for every new connection, whether the program sees it.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <vector>

#include "api/interception/NetFilter2API.h"

namespace gx::interception {

// What is known of a connection when the rules are read. The remote end is unknown for a
// connection to the explicit proxy (no origin is named before its first request).
struct ConnectionFacts {
    int32_t protocol = NF_IPPROTO_TCP;
    uint32_t processId = 0;
    uint8_t direction = NF_D_OUT;
    uint16_t family = 0;  // NF_AF_INET for IPv4
    uint8_t localAddress[16] = {};
    uint16_t localPort = 0;  // host byte order
    bool remoteKnown = false;
    uint8_t remoteAddress[16] = {};
    uint16_t remotePort = 0;  // host byte order
};

// True when every non-zero field of the rule matches the connection.
bool RuleMatches(const NF_RULE& rule, const ConnectionFacts& facts);

// Rules may be added from worker threads while other threads read the list.
class RuleList {
  public:
    void Add(const NF_RULE& rule, bool toHead);
    void Clear();
    // The filtering flag of the first matching rule; nullopt when none matches.
    std::optional<uint32_t> Decide(const ConnectionFacts& facts) const;

  private:
    mutable std::shared_mutex mutex_;
    std::vector<NF_RULE> rules_;  // head first
};

}  // namespace gx::interception
