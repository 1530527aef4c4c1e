#include "platform/interception/SocketMark.h"

#include <sys/capability.h>
#include <sys/socket.h>

#include <cerrno>

namespace gx::interception {
namespace {

// Raises or lowers CAP_NET_ADMIN in the calling thread's effective set (capabilities are per
// thread on Linux, so no other thread runs with it).
bool SetNetAdminEffective(bool raise) {
    cap_t caps = cap_get_proc();
    if (!caps) {
        return false;
    }
    cap_value_t netAdmin[] = {CAP_NET_ADMIN};
    bool ok = cap_set_flag(caps, CAP_EFFECTIVE, 1, netAdmin, raise ? CAP_SET : CAP_CLEAR) == 0 &&
              cap_set_proc(caps) == 0;
    cap_free(caps);
    return ok;
}

}  // namespace

bool SetSocketMark(int fd, uint32_t mark) {
    if (::setsockopt(fd, SOL_SOCKET, SO_MARK, &mark, sizeof mark) == 0) {
        return true;  // the capability is in effect already (root, for one)
    }
    if (errno != EPERM || !SetNetAdminEffective(true)) {
        return false;
    }
    bool ok = ::setsockopt(fd, SOL_SOCKET, SO_MARK, &mark, sizeof mark) == 0;
    int savedErrno = errno;
    SetNetAdminEffective(false);
    errno = savedErrno;
    return ok;
}

}  // namespace gx::interception
