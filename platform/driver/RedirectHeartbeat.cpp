#include "platform/driver/RedirectHeartbeat.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>

#include "platform/driver/DriverConfig.h"

namespace gx {

bool SendRedirectHeartbeat(int markedUdpSocket, int family, std::uint16_t transparentPort,
                           bool arm) {
    const char payload = arm ? kArmByte : kDisarmByte;
    sockaddr_storage target{};
    socklen_t length = 0;
    if (family == AF_INET) {
        auto* in = reinterpret_cast<sockaddr_in*>(&target);
        in->sin_family = AF_INET;
        in->sin_port = htons(transparentPort);
        in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof(sockaddr_in);
    } else if (family == AF_INET6) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&target);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(transparentPort);
        in6->sin6_addr = in6addr_loopback;
        length = sizeof(sockaddr_in6);
    } else {
        return false;
    }
    const ssize_t sent = ::sendto(markedUdpSocket, &payload, 1, MSG_DONTWAIT,
                                  reinterpret_cast<const sockaddr*>(&target), length);
    return sent == 1 || (sent < 0 && errno == EPERM);
}

}  // namespace gx
