// Wrong parental codes in a row, and the wait they impose: after the fifth wrong code in a row
// the code dialog is locked for a minute, and each further wrong code (until a right one) locks
// it again for twice as long as before, up to an hour. A right code starts afresh. Kept in
// memory for the program's run: whoever can restart the program can also simply stop it.
#pragma once

#include <chrono>
#include <functional>

namespace gx {

class CodeAttempts {
  public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    static constexpr int kFreeAttempts = 4;  // the fifth wrong code in a row locks
    static constexpr std::chrono::seconds kFirstWait{60};
    static constexpr std::chrono::seconds kLongestWait{3600};

    explicit CodeAttempts(Clock now = &std::chrono::steady_clock::now);

    // Whole seconds left before a code may be tried again (rounded up); 0 when it may now.
    int SecondsLocked() const;
    void RecordWrong();
    void RecordRight();
    int WrongInARow() const { return wrongInARow_; }

  private:
    Clock now_;
    int wrongInARow_ = 0;
    std::chrono::seconds nextWait_ = kFirstWait;
    std::chrono::steady_clock::time_point lockedUntil_{};
};

}  // namespace gx
