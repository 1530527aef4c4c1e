// What the restart program knows of the running program: the single-instance lock that every
// running copy holds on Gardalix.lock in the user's runtime folder, and the program it starts.
//
// The restart program takes the lock itself while it replaces the files, so that nobody starts
// the program half-way through, and lets go before it starts the new build. To see whether the
// new build came up it never takes the lock (a start that found it taken would think another
// copy runs and end); it reads who holds it from /proc/locks.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>

namespace gx {

// The lock file of the running program.
std::string InstanceLockPath();

// Holds the instance lock for as long as it lives.
class HeldInstanceLock {
  public:
    HeldInstanceLock() = default;
    HeldInstanceLock(HeldInstanceLock&& other) noexcept;
    HeldInstanceLock& operator=(HeldInstanceLock&& other) noexcept;
    ~HeldInstanceLock();
    bool Held() const { return fd_ >= 0; }
    void Release();

    // Waits until no running copy holds the lock, polling, for at most `limit`; holds it then.
    static HeldInstanceLock WaitForProgramEnd(const std::string& lockPath,
                                              std::chrono::milliseconds limit);

  private:
    explicit HeldInstanceLock(int fd) : fd_(fd) {}
    int fd_ = -1;
};

// Whether some process holds the lock file, by /proc/locks; false when that cannot be read.
bool SomeoneHoldsLock(const std::string& lockPath);

// Starts the program in its own session, its folder as the current folder, without arguments.
// The process identifier, or -1.
pid_t StartProgram(const std::string& programDir, const std::string& programName);

// Whether a program just started came up: it took the instance lock and still runs after
// `settle`; gives up when it ends first or has not taken the lock within `limit`.
bool CameUp(pid_t child, const std::string& lockPath, std::chrono::milliseconds settle,
            std::chrono::milliseconds limit);

// Ends a started program that did not come up, and everything it started.
void StopProgram(pid_t child);

}  // namespace gx
