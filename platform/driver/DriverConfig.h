// The transparent-mode driver: what `gx-driver install` sets up for the interception library,
// and the file through which the two agree.
//
// `gx-driver install` (run once by an administrator, as root) does three things:
//  1. It creates the nftables table `inet gardalix` (family inet: IPv4 and IPv6 alike):
//     - a nat chain on the output hook that redirects every new outbound TCP connection of a
//       local process (all destination ports, or only those of the `ports` key) to
//       `transparent_port` on the loopback interface: the kernel rewrites the destination to
//       127.0.0.1:PORT for IPv4 and [::1]:PORT for IPv6. Skipped: destinations in 127.0.0.0/8
//       and ::1, and packets whose firewall mark equals `firewall_mark`.
//     - a filter chain on the output hook that rejects outbound UDP to port 443 (QUIC) with an
//       ICMP port-unreachable, so that browsers fall back to TCP at once. It skips the same
//       loopback destinations and marked packets.
//     Both act only while the running program has armed them (see "Arming" below): while
//     Gardalix is not running, or its transparent listener is closed, the machine's traffic
//     goes out untouched instead of being sent to a port where nobody (or another local user's
//     program) listens.
//  2. It writes the configuration file below (last, after the table exists).
//  3. It gives the program `cap_net_admin` as a permitted file capability only
//     (`cap_net_admin+p`): the process starts without it in its effective set.
//
// What the interception library does with it:
//  - When ReadDriverConfig() returns a configuration, open the transparent listener on
//    127.0.0.1:transparent_port and [::1]:transparent_port (IPV6_V6ONLY), beside the explicit
//    one. No file (or a malformed one): transparent mode is not installed.
//  - Give every upstream socket it opens SO_MARK = firewall_mark before connect(), so that its
//    own connections are never redirected back to itself. Setting SO_MARK needs
//    CAP_NET_ADMIN: raise it in the effective set just around that setsockopt() and drop it
//    again (libcap: cap_get_proc, cap_set_flag(CAP_EFFECTIVE, CAP_NET_ADMIN, CAP_SET),
//    cap_set_proc). Without the capability, transparent mode is not available: say so once.
//  - Find each accepted connection's original destination with
//    getsockopt(SOL_IP, SO_ORIGINAL_DST) (a sockaddr_in) for IPv4 and
//    getsockopt(SOL_IPV6, IP6T_SO_ORIGINAL_DST) (a sockaddr_in6) for IPv6.
//  - Arm the redirect while its transparent listener of a family is open, and disarm it when it
//    closes: see RedirectHeartbeat.h.
//
// Arming: the table holds a set `armed` of address families (ipv4, ipv6), each with the account
// (uid) of the process that armed it, whose elements expire kRedirectArmSeconds after they were
// last refreshed; the redirect and the QUIC refusal apply only to packets of a family in the
// set sent by a socket of that account. So a user's Gardalix judges that user's connections
// alone: another account's traffic (and root's services') goes out untouched, never judged by
// this user's settings nor written into this user's history. With `accounts=all` (the system
// service) the set holds families alone and every account's traffic is redirected. The kernel
// refreshes an element itself when it sees a UDP datagram carrying the firewall mark, sent to
// 127.0.0.1:transparent_port (ipv4) or
// [::1]:transparent_port (ipv6), whose first byte is kArmByte; kDisarmByte removes it at once.
// Such datagrams are dropped (send() fails with EPERM, which is expected). Only a process that
// may set the mark (CAP_NET_ADMIN) can arm, and a crashed program disarms by expiry.
//
// The file: plain `key=value` lines, blank lines and lines starting with '#' ignored, spaces
// around keys and values ignored, unknown keys ignored (newer tools may add some), a key given
// twice makes the file malformed.
//   transparent_port=3130      required, 1..65535
//   firewall_mark=0x00004758   required, non-zero, decimal or 0x-hexadecimal
//   ports=all                  optional (default all): `all` or a comma list such as 80,8080
//   program=/path/to/gardalix  optional: the program that was given the capability
//   accounts=own               optional (default own): `own`, the connections of the account
//                              whose program armed the redirect; `all`, every account's
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace gx {

// Where the configuration lives; the environment variable overrides it (tests).
inline constexpr const char* kDriverConfigPath = "/etc/gardalix/driver.conf";
inline constexpr const char* kDriverConfigEnvironment = "GARDALIX_DRIVER_CONF";

// The port of the library's transparent listener, when the administrator chose no other.
inline constexpr std::uint16_t kDefaultTransparentPort = 3130;

// The firewall mark (SO_MARK) of the library's own upstream sockets: "GX".
inline constexpr std::uint32_t kDriverFirewallMark = 0x4758;

// The nftables table: family and name, and its set of armed address families.
inline constexpr const char* kDriverTableFamily = "inet";
inline constexpr const char* kDriverTableName = "gardalix";
inline constexpr const char* kArmedSetName = "armed";

// Arming: how long an arming lasts without refresh, how often the program refreshes it, and
// the first byte of the datagrams that arm and disarm.
inline constexpr int kRedirectArmSeconds = 10;
inline constexpr int kRedirectHeartbeatSeconds = 2;
inline constexpr char kArmByte = '1';
inline constexpr char kDisarmByte = '0';

// The file keys.
inline constexpr std::string_view kTransparentPortKey = "transparent_port";
inline constexpr std::string_view kFirewallMarkKey = "firewall_mark";
inline constexpr std::string_view kPortsKey = "ports";
inline constexpr std::string_view kProgramKey = "program";
inline constexpr std::string_view kAccountsKey = "accounts";

struct DriverConfig {
    std::uint16_t transparentPort = kDefaultTransparentPort;
    std::uint32_t firewallMark = kDriverFirewallMark;
    std::vector<std::uint16_t> ports;  // redirected destination ports; empty = all ports
    std::string program;               // the program given the capability; may be empty
    bool allAccounts = false;          // every account's connections, not the armer's alone

    bool operator==(const DriverConfig&) const = default;
};

// The path of the configuration file: $GARDALIX_DRIVER_CONF when set and not empty, else
// kDriverConfigPath.
std::string DriverConfigPath();

// Parses a comma list of ports ("80,8080"): each 1..65535, sorted, duplicates dropped.
// Nothing when the list is empty or any item is not a port.
std::optional<std::vector<std::uint16_t>> ParsePortList(std::string_view text);

// The file's text for a configuration, and back. ParseDriverConfig gives nothing when a
// required key is missing, a known key is malformed, or any key is repeated.
std::string FormatDriverConfig(const DriverConfig& config);
std::optional<DriverConfig> ParseDriverConfig(std::string_view text);

// Reads the configuration file; nothing when it is absent, unreadable or malformed.
std::optional<DriverConfig> ReadDriverConfig(const std::string& path = DriverConfigPath());

// Writes the configuration file atomically: a temporary file in the same folder, flushed to
// disk, then renamed over the old one (readers see the old file or the new one, never half of
// one). Creates the folder when missing. On failure returns false, leaves any old file as it
// was, and puts a French explanation in *error when given.
bool WriteDriverConfig(const DriverConfig& config, const std::string& path = DriverConfigPath(),
                       std::string* error = nullptr);

// Removes the configuration file; true when it is gone (also when it never existed).
bool RemoveDriverConfig(const std::string& path = DriverConfigPath(), std::string* error = nullptr);

}  // namespace gx
