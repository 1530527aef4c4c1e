// The protection engine, as the console sees it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace gx {

// The subject of the root certificate that signs the certificates of inspected HTTPS sites. The
// interception library makes its root with it; the tools that install the root's trust find
// it by it.
inline constexpr char kRootCertSubject[] = "Gardalix Root CA";

// Starts both interception layers with the engine's callbacks and the two base rules.
// True when the engine runs. Main thread only.
bool StartDriver();
// Stops both layers; harmless in any state. Main thread only.
void StopDriver();

// Empties the exemption tables; the console does it once at its creation, before the first start.
void ClearExemptionTables();

// A block, as the history records it; its fields are always read together. Texts are
// Windows-1252.
struct BlockEvent {
    std::string url;         // LastBlockedUrl
    std::string reason;      // LastBlockReason
    std::string program;     // full path of the program that sent the request; empty: unknown
    uint32_t processId = 0;  // its process; 0: unknown
    uint32_t account = UINT32_MAX;  // the account (uid) that sent it; max: unknown
};
// The newest block (LastBlockedUrl, LastBlockReason); empty before the first.
BlockEvent LastBlockEvent();

// Every block waits in a queue, in the order the blocks happened, until the console's history
// timer takes them all. A page with several listed resources makes as many entries. The queue
// is bounded: past kPendingBlocksMax waiting, the oldest is dropped (and counted), so that a
// console that never reads cannot make the engine grow.
inline constexpr size_t kPendingBlocksMax = 4096;
std::vector<BlockEvent> TakeBlockEvents();
// Blocks dropped from a full queue since the start.
uint64_t DroppedBlockEvents();

// Called on a worker thread after each block. The console installs a hook that arms its
// history timer if it is not armed yet (posting to the main thread). Null = nothing to arm.
using ArmBlockTimerHook = void (*)();
void SetArmBlockTimerHook(ArmBlockTimerHook hook);

// Called on a worker thread with every block, after the arming hook, so that the console can
// warn about a program that it does not expect to browse. Null = nobody listens.
using BlockAlertHook = void (*)(const BlockEvent& block);
void SetBlockAlertHook(BlockAlertHook hook);

}  // namespace gx
