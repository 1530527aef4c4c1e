#include "platform/interception/Rules.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <algorithm>

namespace gx::interception {
namespace {

bool IsZero(const uint8_t* bytes, size_t n) {
    return std::all_of(bytes, bytes + n, [](uint8_t b) { return b == 0; });
}

// An address field restricts the rule when the address or its mask is non-zero; a zero mask
// with an address means the whole address.
bool AddressMatches(const uint8_t* ruleAddress, const uint8_t* ruleMask, size_t width, bool known,
                    const uint8_t* address) {
    if (IsZero(ruleAddress, width) && IsZero(ruleMask, width)) {
        return true;
    }
    if (!known) {
        return false;
    }
    bool wholeAddress = IsZero(ruleMask, width);
    for (size_t i = 0; i < width; ++i) {
        uint8_t mask = wholeAddress ? 0xFF : ruleMask[i];
        if ((ruleAddress[i] & mask) != (address[i] & mask)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool RuleMatches(const NF_RULE& rule, const ConnectionFacts& facts) {
    if (rule.protocol != 0 && rule.protocol != facts.protocol) {
        return false;
    }
    if (rule.processId != 0 && rule.processId != facts.processId) {
        return false;
    }
    if (rule.direction != 0 && (rule.direction & facts.direction) == 0) {
        return false;
    }
    if (rule.ip_family != 0 && rule.ip_family != facts.family) {
        return false;
    }
    if (rule.localPort != 0 && ntohs(rule.localPort) != facts.localPort) {
        return false;
    }
    if (rule.remotePort != 0 &&
        (!facts.remoteKnown || ntohs(rule.remotePort) != facts.remotePort)) {
        return false;
    }
    size_t width = facts.family == NF_AF_INET ? 4 : 16;
    return AddressMatches(rule.localIpAddress, rule.localIpAddressMask, width, true,
                          facts.localAddress) &&
           AddressMatches(rule.remoteIpAddress, rule.remoteIpAddressMask, width, facts.remoteKnown,
                          facts.remoteAddress);
}

void RuleList::Add(const NF_RULE& rule, bool toHead) {
    std::unique_lock lock(mutex_);
    if (toHead) {
        rules_.insert(rules_.begin(), rule);
    } else {
        rules_.push_back(rule);
    }
}

void RuleList::Clear() {
    std::unique_lock lock(mutex_);
    rules_.clear();
}

std::optional<uint32_t> RuleList::Decide(const ConnectionFacts& facts) const {
    std::shared_lock lock(mutex_);
    for (const NF_RULE& rule : rules_) {
        if (RuleMatches(rule, facts)) {
            return rule.filteringFlag;
        }
    }
    return std::nullopt;
}

}  // namespace gx::interception
