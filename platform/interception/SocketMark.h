// The firewall mark of the proxy's own sockets, which the transparent-mode driver never
// redirects (see platform/driver/DriverConfig.h).
#pragma once

#include <cstdint>

namespace gx::interception {

// Sets the firewall mark of a socket, raising the permitted capability CAP_NET_ADMIN just for
// the call when it is not in effect. False when the mark cannot be set; errno tells why.
bool SetSocketMark(int fd, uint32_t mark);

}  // namespace gx::interception
