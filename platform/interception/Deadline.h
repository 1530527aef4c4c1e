// One time-out for an object that lives on one event loop: the latest deadline set wins, and
// the handler runs once that time has passed. Setting a later deadline does not touch the timer
// (the wait that is pending re-arms itself when it wakes early), so the many small moves of a
// busy connection cost no system call.
#pragma once

#include <asio.hpp>
#include <chrono>
#include <functional>
#include <memory>

namespace gx::interception {

using Clock = std::chrono::steady_clock;

class Deadline {
  public:
    // onExpired runs on the executor; `owner` is kept alive while a wait is pending.
    Deadline(const asio::any_io_executor& executor, std::function<void()> onExpired);
    void SetOwner(std::weak_ptr<void> owner) { owner_ = std::move(owner); }

    // From now on the deadline is `when`; Clock::time_point::max() = none.
    void Set(Clock::time_point when);
    void SetAfter(Clock::duration delay) { Set(Clock::now() + delay); }
    void Clear() { Set(Clock::time_point::max()); }
    // No handler runs any more.
    void Cancel();

  private:
    void Arm(Clock::time_point when);

    asio::steady_timer timer_;
    std::function<void()> onExpired_;
    std::weak_ptr<void> owner_;
    Clock::time_point deadline_ = Clock::time_point::max();
    Clock::time_point timerAt_{};
    bool armed_ = false;
    bool cancelled_ = false;
    uint64_t generation_ = 0;
};

}  // namespace gx::interception
