// The hand-off of blocks from the worker threads to the console: one slot holding the last
// blocked address, its reason (LastBlockedUrl, LastBlockReason) and the program that asked for
// it, read by the console's history timer on the main thread; the hook that arms that timer,
// and the hook that hears of every block for the console's alerts.
#pragma once

#include <string_view>

#include "engine/ConnectionPrograms.h"

namespace gx {

// Stores the block in the slot (the last block wins), then calls the console's hooks: the one
// that arms its history timer unless it is already armed, then the alert hook. Any thread.
void RecordBlock(std::string_view url, std::string_view reason, const ConnectionProgram& program);

}  // namespace gx
