// The protection engine, as the console sees it.
#pragma once

#include <string>

namespace gx {

// The subject of the root certificate that signs the certificates of inspected HTTPS sites. The
// interception library makes its root with it; the tools that install the root's trust find
// it by it.
inline constexpr char kRootCertSubject[] = "NFSDK Sample CA";

// Starts both interception layers with the engine's callbacks and the two base rules.
// True when the engine runs. Main thread only.
bool StartDriver();
// Stops both layers; harmless in any state. Main thread only.
void StopDriver();

// Empties the exemption tables; the console does it once at its creation, before the first start.
void ClearExemptionTables();

// The last block: one slot, the last block wins; url and reason are always read together.
struct BlockEvent {
    std::string url;     // LastBlockedUrl
    std::string reason;  // LastBlockReason
};
BlockEvent LastBlockEvent();

// Called on a worker thread after each block. The console installs a hook that arms its
// history timer if it is not armed yet (posting to the main thread). Null = nothing to arm.
using ArmBlockTimerHook = void (*)();
void SetArmBlockTimerHook(ArmBlockTimerHook hook);

}  // namespace gx
