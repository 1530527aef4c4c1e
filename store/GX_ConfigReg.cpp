#include "store/GX_ConfigReg.h"

namespace gx {

std::atomic<bool> PornFilterOn{false};

}  // namespace gx
