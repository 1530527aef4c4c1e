#include "engine/TPFObject.h"

namespace gx {

TPFStream TPFObject::GetStream(int index) const {
    if (index < 0 || index >= PFObject_getStreamCount(handle_))
        return TPFStream();
    return TPFStream(PFObject_getStream(handle_, index));
}

}  // namespace gx
