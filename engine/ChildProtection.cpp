#include "engine/ChildProtection.h"

namespace gx {

std::atomic<bool> PornFilterOn{false};

}  // namespace gx
