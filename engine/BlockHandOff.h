// The hand-off of blocks from the worker threads to the console: one slot holding the last
// blocked address and its reason (LastBlockedUrl, LastBlockReason), read by the console's history
// timer on the main thread, and the hook that arms that timer.
#pragma once

#include <string_view>

namespace gx {

// Stores the block in the slot (the last block wins), then calls the console's hook, which arms
// its history timer unless it is already armed. Any thread.
void RecordBlock(std::string_view url, std::string_view reason);

}  // namespace gx
