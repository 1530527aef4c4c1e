#include "host/GX_megakillprocess.h"

#include <signal.h>
#include <unistd.h>

#include <climits>
#include <fstream>
#include <string>

namespace gx {

namespace {

constexpr int kCapKill = 5;  // CAP_KILL in the capability bit sets

// The effective capability set of this process, from /proc/self/status; 0 when unreadable.
unsigned long long EffectiveCapabilities() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("CapEff:", 0) == 0) {
            try {
                return std::stoull(line.substr(7), nullptr, 16);
            } catch (...) {
                return 0;
            }
        }
    }
    return 0;
}

}  // namespace

bool EnableDebugPrivilege() {
    return (EffectiveCapabilities() >> kCapKill) & 1ULL;
}

bool KillProcessById(uint32_t processId) {
    EnableDebugPrivilege();
    // kill() reads 0 as "my process group" and negative numbers as groups or "all processes".
    if (processId == 0 || processId > static_cast<uint32_t>(INT_MAX)) {
        return false;
    }
    const auto pid = static_cast<pid_t>(processId);
    if (pid == getpid()) {
        _exit(0);
    }
    return kill(pid, SIGKILL) == 0;
}

}  // namespace gx
