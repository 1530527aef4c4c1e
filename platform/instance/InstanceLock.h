// One running copy per user: the first copy holds a lock on a file in the user's runtime folder
// for the whole life of its process. The system drops the lock when the process ends, however it
// ends, so a crashed copy never blocks the next start.
#pragma once

#include <string>

namespace gx {

// The user's runtime folder for the lock and the console's socket: $XDG_RUNTIME_DIR when set,
// else /tmp/gardalix-<uid>, created private to the user. Empty when no safe folder exists (the
// /tmp folder belongs to another user, or is a link).
std::string InstanceFolder();

inline constexpr char kInstanceName[] = "Gardalix";

enum class InstanceState {
    FirstCopy,        // this process now holds the lock, until it ends
    AnotherCopyRuns,  // the lock is held by another process
};

// Takes the instance lock in the folder. Only a lock held elsewhere means that another copy runs;
// any other failure (no folder, no file) lets the start go on as the first copy.
InstanceState AcquireInstanceLock(const std::string& folder);

}  // namespace gx
