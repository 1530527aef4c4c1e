#include "engine/BlockHandOff.h"

#include <atomic>
#include <mutex>

#include "engine/GX_Main.h"

namespace gx {
namespace {

// The fields change together under the lock, so a reader never gets the address of one block
// with the reason or program of another, nor a text half written.
std::mutex lastBlockMutex;
BlockEvent lastBlock;

std::atomic<ArmBlockTimerHook> armBlockTimerHook{nullptr};
std::atomic<BlockAlertHook> blockAlertHook{nullptr};

}  // namespace

void RecordBlock(std::string_view url, std::string_view reason, const ConnectionProgram& program) {
    BlockEvent block{std::string(url), std::string(reason), program.path, program.processId};
    {
        std::lock_guard lock(lastBlockMutex);
        lastBlock = block;
    }
    if (ArmBlockTimerHook hook = armBlockTimerHook.load(std::memory_order_acquire))
        hook();
    if (BlockAlertHook hook = blockAlertHook.load(std::memory_order_acquire))
        hook(block);
}

BlockEvent LastBlockEvent() {
    std::lock_guard lock(lastBlockMutex);
    return lastBlock;
}

void SetArmBlockTimerHook(ArmBlockTimerHook hook) {
    armBlockTimerHook.store(hook, std::memory_order_release);
}

void SetBlockAlertHook(BlockAlertHook hook) {
    blockAlertHook.store(hook, std::memory_order_release);
}

}  // namespace gx
