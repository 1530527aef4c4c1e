// Ending a process by its identifier.
#pragma once

#include <cstdint>

namespace gx {

// True when this process may signal the processes of other users (it holds the kill
// capability, as root does). Nothing is changed: Linux grants the right at start or never.
bool EnableDebugPrivilege();

// Ends the process at once, without any shutdown work. Called with this process's own
// identifier it does not return: the process ends with exit status 0. For another process it
// sends SIGKILL and answers whether the signal was delivered (false for a process that has
// ended or that belongs to another user). Identifiers that name no single process (0, and
// numbers that the system reads as a process group or as "every process") are refused.
bool KillProcessById(uint32_t processId);

}  // namespace gx
