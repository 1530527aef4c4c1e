#include "tools/gx-driver/NftRuleset.h"

#include <cstdio>
#include <sstream>

namespace gx {
namespace {

std::string TableName() {
    return std::string(kDriverTableFamily) + " " + kDriverTableName;
}

// Declaring the table first makes the delete that follows valid when it does not exist yet.
std::string DeclareThenDelete() {
    return "table " + TableName() + "\ndelete table " + TableName() + "\n";
}

// Loopback traffic stays local and the library's own marked sockets go where they asked:
// both are left alone by every chain.
void WriteExemptions(std::ostringstream& out, const DriverConfig& config) {
    char mark[16];
    std::snprintf(mark, sizeof mark, "0x%08x", static_cast<unsigned>(config.firewallMark));
    out << "\t\tmeta mark " << mark << " return\n";
    out << "\t\tip daddr 127.0.0.0/8 return\n";
    out << "\t\tip6 daddr ::1 return\n";
}

std::string RedirectedTraffic(const DriverConfig& config) {
    if (config.ports.empty()) {
        return "meta l4proto tcp";
    }
    std::string list = "tcp dport { ";
    for (size_t i = 0; i < config.ports.size(); ++i) {
        list += (i ? ", " : "") + std::to_string(config.ports[i]);
    }
    return list + " }";
}

}  // namespace

std::string BuildInstallRuleset(const DriverConfig& config) {
    std::ostringstream out;
    out << DeclareThenDelete();
    out << "table " << TableName() << " {\n";
    // New outbound TCP connections go to the transparent listener on loopback; the kernel
    // keeps the original destination for SO_ORIGINAL_DST.
    out << "\tchain redirect_tcp {\n";
    out << "\t\ttype nat hook output priority -100; policy accept;\n";
    WriteExemptions(out, config);
    out << "\t\t" << RedirectedTraffic(config) << " redirect to :" << config.transparentPort
        << "\n";
    out << "\t}\n";
    // HTTP/3 runs over UDP where the redirect never sees it; an immediate port-unreachable
    // makes browsers fall back to TCP without waiting for a time-out.
    out << "\tchain reject_quic {\n";
    out << "\t\ttype filter hook output priority 0; policy accept;\n";
    WriteExemptions(out, config);
    out << "\t\tudp dport 443 reject with icmpx type port-unreachable\n";
    out << "\t}\n";
    out << "}\n";
    return out.str();
}

std::string BuildRemoveRuleset() {
    return DeclareThenDelete();
}

}  // namespace gx
