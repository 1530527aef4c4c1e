// The hand-off of blocks from the worker threads to the console: a bounded queue of every block
// (its address, its reason and the program that asked for it) that the console's history timer
// drains on the main thread, in order; the newest block kept apart (LastBlockedUrl,
// LastBlockReason); the hook that arms the timer, and the hook that hears of every block for the
// console's alerts.
#pragma once

#include <string_view>

#include "engine/ConnectionPrograms.h"

namespace gx {

// Queues the block, then calls the console's hooks: the one that arms its history timer unless
// it is already armed, then the alert hook. Any thread.
void RecordBlock(std::string_view url, std::string_view reason, const ConnectionProgram& program);

}  // namespace gx
