// The interception "driver" of this platform: an nftables table installed by the administrator
// with the tool gx-driver, which redirects the machine's outbound TCP connections to the
// library's transparent listener. The tool records what it installed in a small file that the
// library reads when it starts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace gx::interception {

inline constexpr const char* kDriverConfigPath = "/etc/gardalix/driver.conf";
// Overrides the path above (tests install the driver into network namespaces of their own).
inline constexpr const char* kDriverConfigVariable = "GARDALIX_DRIVER_CONF";
inline constexpr uint16_t kDefaultTransparentPort = 3130;
inline constexpr uint32_t kDefaultMark = 0x4758;  // "GX": the library's own upstream sockets

struct DriverConfig {
    uint16_t port = kDefaultTransparentPort;  // the transparent listener, on 127.0.0.1 and ::1
    uint32_t mark = kDefaultMark;             // sockets with this mark are never redirected
    std::string program;                      // the program given cap_net_admin, if any
};

std::string DriverConfigPath();

// nullopt when the file is absent; an unreadable or malformed file also gives nullopt, with
// the reason in error.
std::optional<DriverConfig> ReadDriverConfig(const std::string& path, std::string* error = nullptr);
bool WriteDriverConfig(const std::string& path, const DriverConfig& config);

// Sets the firewall mark of a socket, raising the permitted capability CAP_NET_ADMIN just for
// the call when it is not in effect. False when the mark cannot be set; errno tells why.
bool SetSocketMark(int fd, uint32_t mark);

}  // namespace gx::interception
