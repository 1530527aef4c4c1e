#include "tools/gx-driver/NftRules.h"

#include <charconv>
#include <sstream>

namespace gx::driver {

std::string RedirectRuleset(const RedirectSettings& settings) {
    std::ostringstream mark;
    mark << "0x" << std::hex << settings.mark;
    std::string ports;
    for (uint16_t port : settings.ports) {
        ports += (ports.empty() ? "" : ", ") + std::to_string(port);
    }
    std::string match = ports.empty() ? "meta l4proto tcp" : "tcp dport { " + ports + " }";
    std::ostringstream text;
    // Creating the table first makes the deletion valid when it does not exist yet.
    text << "table inet gardalix\n"
         << "delete table inet gardalix\n"
         << "table inet gardalix {\n"
         << "    chain outbound {\n"
         << "        type nat hook output priority -100; policy accept;\n"
         << "        meta mark " << mark.str() << " return\n"
         << "        ip daddr 127.0.0.0/8 return\n"
         << "        ip6 daddr ::1 return\n"
         << "        " << match << " redirect to :" << settings.listenPort << "\n"
         << "    }\n"
         << "    chain http3 {\n"
         << "        type filter hook output priority 0; policy accept;\n"
         << "        meta mark " << mark.str() << " return\n"
         << "        udp dport 443 reject\n"
         << "    }\n"
         << "}\n";
    return text.str();
}

std::string DeleteRuleset() {
    return "table inet gardalix\ndelete table inet gardalix\n";
}

bool ParsePortList(const std::string& text, std::vector<uint16_t>& ports) {
    ports.clear();
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        std::string item = text.substr(start, comma - start);
        unsigned value = 0;
        auto result = std::from_chars(item.data(), item.data() + item.size(), value);
        if (item.empty() || result.ec != std::errc() || result.ptr != item.data() + item.size() ||
            value == 0 || value > 65535) {
            return false;
        }
        ports.push_back(static_cast<uint16_t>(value));
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    return !ports.empty();
}

}  // namespace gx::driver
