#include "platform/interception/FailOpenMemory.h"

namespace gx::interception {
namespace {

std::string KeyOf(const std::string& host, const std::string& program) {
    return host + '\n' + program;
}

}  // namespace

void FailOpenMemory::Remember(const std::string& host, const std::string& program) {
    std::string key = KeyOf(host, program);
    std::lock_guard lock(mutex_);
    if (auto found = byKey_.find(key); found != byKey_.end()) {
        byAge_.erase(found->second);
        byKey_.erase(found);
    }
    byAge_.emplace_back(key, Clock::now() + lifetime_);
    byKey_[key] = std::prev(byAge_.end());
    while (byAge_.size() > capacity_) {
        byKey_.erase(byAge_.front().first);
        byAge_.pop_front();
    }
}

bool FailOpenMemory::Remembers(const std::string& host, const std::string& program) {
    std::lock_guard lock(mutex_);
    auto found = byKey_.find(KeyOf(host, program));
    if (found == byKey_.end()) {
        return false;
    }
    if (found->second->second <= Clock::now()) {
        byAge_.erase(found->second);
        byKey_.erase(found);
        return false;
    }
    return true;
}

size_t FailOpenMemory::Size() {
    std::lock_guard lock(mutex_);
    return byAge_.size();
}

}  // namespace gx::interception
