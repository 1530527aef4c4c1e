// The in-memory child-protection switch. The console sets it on the main thread (at creation
// from the stored setting, on Apply and on Default); the engine's worker threads read it for
// every request, so it is an atomic and needs no lock.
#pragma once

#include <atomic>

namespace gx {

extern std::atomic<bool> PornFilterOn;

}  // namespace gx
