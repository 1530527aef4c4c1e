#include "tools/gx-driver/NftRuleset.h"

#include <cstdio>
#include <sstream>

namespace gx {
namespace {

std::string TableName() {
    return std::string(kDriverTableFamily) + " " + kDriverTableName;
}

std::string Mark(const DriverConfig& config) {
    char mark[16];
    std::snprintf(mark, sizeof mark, "0x%08x", static_cast<unsigned>(config.firewallMark));
    return mark;
}

// Declaring the table first makes the delete that follows valid when it does not exist yet.
std::string DeclareThenDelete() {
    return "table " + TableName() + "\ndelete table " + TableName() + "\n";
}

// Loopback traffic stays local and the library's own marked sockets go where they asked:
// both are left alone by every chain.
void WriteExemptions(std::ostringstream& out, const DriverConfig& config) {
    out << "\t\tmeta mark " << Mark(config) << " return\n";
    out << "\t\tip daddr 127.0.0.0/8 return\n";
    out << "\t\tip6 daddr ::1 return\n";
}

// What the set holds: the family, and unless every account is redirected, the account.
std::string ArmedKey(const DriverConfig& config) {
    return config.allAccounts ? "meta nfproto" : "meta nfproto . meta skuid";
}

// The running program's marked datagrams to its own listener port arm the family they travel
// in (first byte kArmByte) or disarm it (kDisarmByte), for the account that sent them; the
// kernel keeps the set.
void WriteArming(std::ostringstream& out, const DriverConfig& config) {
    const struct {
        char byte;
        const char* operation;
    } operations[] = {{kArmByte, "update"}, {kDisarmByte, "delete"}};
    for (const auto& op : operations) {
        for (const char* loopback : {"ip daddr 127.0.0.1", "ip6 daddr ::1"}) {
            char byte[8];
            std::snprintf(byte, sizeof byte, "0x%02x", static_cast<unsigned char>(op.byte));
            out << "\t\tmeta mark " << Mark(config) << " " << loopback << " udp dport "
                << config.transparentPort << " @th,64,8 " << byte << " " << op.operation << " @"
                << kArmedSetName << " { " << ArmedKey(config) << " } drop\n";
        }
    }
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
    const std::string armed = ArmedKey(config) + " @" + kArmedSetName + " ";
    std::ostringstream out;
    out << DeclareThenDelete();
    out << "table " << TableName() << " {\n";
    // The families whose transparent listener is open right now, with the account whose
    // program opened it; an element the program no longer refreshes (it stopped or crashed)
    // expires and the traffic goes out untouched.
    out << "\tset " << kArmedSetName << " {\n";
    out << "\t\ttypeof " << ArmedKey(config) << "\n";
    out << "\t\tflags dynamic,timeout\n";
    out << "\t\ttimeout " << kRedirectArmSeconds << "s\n";
    out << "\t}\n";
    // New outbound TCP connections go to the transparent listener on loopback; the kernel
    // keeps the original destination for SO_ORIGINAL_DST.
    out << "\tchain redirect_tcp {\n";
    out << "\t\ttype nat hook output priority -100; policy accept;\n";
    WriteExemptions(out, config);
    out << "\t\t" << armed << RedirectedTraffic(config)
        << " redirect to :" << config.transparentPort << "\n";
    out << "\t}\n";
    // HTTP/3 runs over UDP where the redirect never sees it; an immediate port-unreachable
    // makes browsers fall back to TCP without waiting for a time-out.
    out << "\tchain filter_out {\n";
    out << "\t\ttype filter hook output priority 0; policy accept;\n";
    WriteArming(out, config);
    WriteExemptions(out, config);
    out << "\t\t" << armed << "udp dport 443 reject with icmpx type port-unreachable\n";
    out << "\t}\n";
    out << "}\n";
    return out.str();
}

std::string BuildRemoveRuleset() {
    return DeclareThenDelete();
}

}  // namespace gx
