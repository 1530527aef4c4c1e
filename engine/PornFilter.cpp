#include "engine/PornFilter.h"

namespace gx {

std::atomic<bool> PornFilterOn{false};

}  // namespace gx
