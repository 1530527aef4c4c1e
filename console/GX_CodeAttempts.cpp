#include "console/GX_CodeAttempts.h"

#include <algorithm>

namespace gx {

TCodeAttempts::TCodeAttempts(Clock now) : now_(std::move(now)) {}

int TCodeAttempts::SecondsLocked() const {
    const auto left = lockedUntil_ - now_();
    if (left <= std::chrono::steady_clock::duration::zero())
        return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::seconds>(left).count());
}

void TCodeAttempts::RecordWrong() {
    ++wrongInARow_;
    if (wrongInARow_ <= kFreeAttempts)
        return;
    lockedUntil_ = now_() + nextWait_;
    nextWait_ = std::min(nextWait_ * 2, kLongestWait);
}

void TCodeAttempts::RecordRight() {
    wrongInARow_ = 0;
    nextWait_ = kFirstWait;
    lockedUntil_ = {};
}

}  // namespace gx
