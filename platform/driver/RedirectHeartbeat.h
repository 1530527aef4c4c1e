// Arming the transparent redirect from the running program (see DriverConfig.h, "Arming").
//
// Use in the interception library, once the transparent listener of a family is open:
//   int beat = socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
//   setsockopt(beat, SOL_SOCKET, SO_MARK, &config.firewallMark, 4);   // CAP_NET_ADMIN raised
//   SendRedirectHeartbeat(beat, family, config.transparentPort, true);  // now, then every
//                                                                       //
//                                                                       kRedirectHeartbeatSeconds
//   ...
//   SendRedirectHeartbeat(beat, family, config.transparentPort, false); // before closing the
//   close(beat);                                                        // listener
#pragma once

#include <cstdint>

namespace gx {

// Sends one arming (arm = true) or disarming datagram for the family (AF_INET or AF_INET6) on
// a UDP socket of that family that already carries the firewall mark. True when the datagram
// left the socket: the table drops it on purpose, so EPERM counts as sent.
bool SendRedirectHeartbeat(int markedUdpSocket, int family, std::uint16_t transparentPort,
                           bool arm);

}  // namespace gx
