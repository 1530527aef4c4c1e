#include "console/CodeAttempts.h"

#include <algorithm>

namespace gx {

CodeAttempts::CodeAttempts(Clock now) : now_(std::move(now)) {}

int CodeAttempts::SecondsLocked() const {
    const auto left = lockedUntil_ - now_();
    if (left <= std::chrono::steady_clock::duration::zero())
        return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::seconds>(left).count());
}

void CodeAttempts::RecordWrong() {
    ++wrongInARow_;
    if (wrongInARow_ <= kFreeAttempts)
        return;
    lockedUntil_ = now_() + nextWait_;
    nextWait_ = std::min(nextWait_ * 2, kLongestWait);
}

void CodeAttempts::RecordRight() {
    wrongInARow_ = 0;
    nextWait_ = kFirstWait;
    lockedUntil_ = {};
}

}  // namespace gx
