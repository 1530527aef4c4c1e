#include "platform/interception/Deadline.h"

namespace gx::interception {

Deadline::Deadline(const asio::any_io_executor& executor, std::function<void()> onExpired)
    : timer_(executor), onExpired_(std::move(onExpired)) {}

void Deadline::Set(Clock::time_point when) {
    deadline_ = when;
    if (!cancelled_ && when != Clock::time_point::max() && (!armed_ || when < timerAt_)) {
        Arm(when);
    }
}

void Deadline::Cancel() {
    cancelled_ = true;
    ++generation_;
    timer_.cancel();
}

void Deadline::Arm(Clock::time_point when) {
    timerAt_ = when;
    armed_ = true;
    uint64_t generation = ++generation_;
    timer_.expires_at(when);
    timer_.async_wait([this, keep = owner_.lock(), generation](const asio::error_code&) {
        if (generation != generation_ || cancelled_) {
            return;
        }
        armed_ = false;
        if (deadline_ == Clock::time_point::max()) {
            return;
        }
        if (Clock::now() < deadline_) {
            Arm(deadline_);  // moved later meanwhile
            return;
        }
        deadline_ = Clock::time_point::max();
        onExpired_();
    });
}

}  // namespace gx::interception
