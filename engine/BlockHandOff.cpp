#include "engine/BlockHandOff.h"

#include <atomic>
#include <mutex>

#include "engine/GX_Main.h"

namespace gx {
namespace {

// Both texts change together under the lock, so a reader never gets the address of one block
// with the reason of another, nor a text half written.
std::mutex lastBlockMutex;
BlockEvent lastBlock;

std::atomic<ArmBlockTimerHook> armBlockTimerHook{nullptr};

}  // namespace

void RecordBlock(std::string_view url, std::string_view reason) {
    {
        std::lock_guard lock(lastBlockMutex);
        lastBlock.url.assign(url);
        lastBlock.reason.assign(reason);
    }
    if (ArmBlockTimerHook hook = armBlockTimerHook.load(std::memory_order_acquire))
        hook();
}

BlockEvent LastBlockEvent() {
    std::lock_guard lock(lastBlockMutex);
    return lastBlock;
}

void SetArmBlockTimerHook(ArmBlockTimerHook hook) {
    armBlockTimerHook.store(hook, std::memory_order_release);
}

}  // namespace gx
