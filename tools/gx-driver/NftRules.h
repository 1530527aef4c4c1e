// The nftables table that is this platform's interception driver.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace gx::driver {

inline constexpr const char* kTableFamily = "inet";
inline constexpr const char* kTableName = "gardalix";

struct RedirectSettings {
    uint16_t listenPort = 0;      // the library's transparent listener
    uint32_t mark = 0;            // the library's own sockets carry it: never redirected
    std::vector<uint16_t> ports;  // destination ports to redirect; empty = all
};

// One nft transaction that replaces the table whole (so installing twice leaves one table):
// outbound TCP of local processes, except to loopback and from marked sockets, is redirected
// to the listener; outbound UDP to port 443 (HTTP/3) is refused at once, so that browsers fall
// back to TCP, which the redirect sees.
std::string RedirectRuleset(const RedirectSettings& settings);
std::string DeleteRuleset();

// "80,8080" -> {80, 8080}. False on anything that is not a list of ports 1 to 65535.
bool ParsePortList(const std::string& text, std::vector<uint16_t>& ports);

}  // namespace gx::driver
