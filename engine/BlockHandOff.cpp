#include "engine/BlockHandOff.h"

#include <atomic>
#include <deque>
#include <iterator>
#include <mutex>

#include "engine/GX_Main.h"

namespace gx {
namespace {

// The queue and the newest block change together under the lock, so a reader never gets the
// address of one block with the reason or program of another, nor a text half written.
std::mutex blocksMutex;
std::deque<BlockEvent> pendingBlocks;
BlockEvent lastBlock;
uint64_t droppedBlocks = 0;

std::atomic<ArmBlockTimerHook> armBlockTimerHook{nullptr};
std::atomic<BlockAlertHook> blockAlertHook{nullptr};

}  // namespace

void RecordBlock(std::string_view url, std::string_view reason, const ConnectionProgram& program) {
    BlockEvent block{std::string(url), std::string(reason), program.path, program.processId,
                     program.account};
    {
        std::lock_guard lock(blocksMutex);
        if (pendingBlocks.size() >= kPendingBlocksMax) {
            pendingBlocks.pop_front();
            ++droppedBlocks;
        }
        pendingBlocks.push_back(block);
        lastBlock = block;
    }
    if (ArmBlockTimerHook hook = armBlockTimerHook.load(std::memory_order_acquire))
        hook();
    if (BlockAlertHook hook = blockAlertHook.load(std::memory_order_acquire))
        hook(block);
}

BlockEvent LastBlockEvent() {
    std::lock_guard lock(blocksMutex);
    return lastBlock;
}

std::vector<BlockEvent> TakeBlockEvents() {
    std::deque<BlockEvent> taken;
    {
        std::lock_guard lock(blocksMutex);
        taken.swap(pendingBlocks);
    }
    return {std::make_move_iterator(taken.begin()), std::make_move_iterator(taken.end())};
}

uint64_t DroppedBlockEvents() {
    std::lock_guard lock(blocksMutex);
    return droppedBlocks;
}

void SetArmBlockTimerHook(ArmBlockTimerHook hook) {
    armBlockTimerHook.store(hook, std::memory_order_release);
}

void SetBlockAlertHook(BlockAlertHook hook) {
    blockAlertHook.store(hook, std::memory_order_release);
}

}  // namespace gx
