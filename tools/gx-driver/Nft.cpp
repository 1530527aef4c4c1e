#include "tools/gx-driver/Nft.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>

#include "platform/driver/DriverConfig.h"
#include "tools/gx-driver/Command.h"

namespace gx {
namespace {

// nft lives in the system folders, which a user's PATH (or sudo's) may not list.
constexpr const char* kNftCandidates[] = {"/usr/sbin/nft", "/sbin/nft", "/usr/bin/nft"};

std::string FindNft() {
    for (const char* candidate : kNftCandidates) {
        if (::access(candidate, X_OK) == 0) {
            return candidate;
        }
    }
    return "nft";  // left to the PATH
}

}  // namespace

NftResult RunNft(const std::vector<std::string>& arguments, const std::string& input) {
    const CommandResult run = RunProgram(FindNft(), arguments, input);
    NftResult result{run.ok(), run.output};
    if (!run.ran) {
        result.output = "la commande nft est introuvable ; installez le paquet nftables (" +
                        run.output.substr(0, run.output.find('\n')) + ")";
    }
    return result;
}

NftResult ApplyRuleset(const std::string& ruleset) {
    return RunNft({"-f", "-"}, ruleset);
}

bool DriverTableExists() {
    return RunNft({"list", "table", kDriverTableFamily, kDriverTableName}).ok;
}

namespace {

// The text of the armed set's elements; empty when it has none.
std::string ArmedElements() {
    const NftResult set =
        RunNft({"list", "set", kDriverTableFamily, kDriverTableName, kArmedSetName});
    const size_t elements = set.output.find("elements = {");
    if (!set.ok || elements == std::string::npos) {
        return "";
    }
    return set.output.substr(elements, set.output.find('}', elements) - elements);
}

}  // namespace

std::string ArmedAccounts() {
    // Elements read "ipv4 . 1000 expires 9s876ms": the account follows " . ".
    const std::string list = ArmedElements();
    std::set<unsigned long> uids;
    for (size_t at = list.find(" . "); at != std::string::npos; at = list.find(" . ", at + 3)) {
        char* end = nullptr;
        const unsigned long uid = std::strtoul(list.c_str() + at + 3, &end, 10);
        if (end != list.c_str() + at + 3) {
            uids.insert(uid);
        }
    }
    std::string text;
    for (unsigned long uid : uids) {
        const passwd* account = ::getpwuid(static_cast<uid_t>(uid));
        text += (text.empty() ? "" : ", ") + std::to_string(uid) +
                (account ? std::string(" (") + account->pw_name + ")" : std::string());
    }
    return text;
}

std::string ArmedFamilies() {
    const std::string list = ArmedElements();
    const bool v4 = list.find("ipv4") != std::string::npos;
    const bool v6 = list.find("ipv6") != std::string::npos;
    return v4 && v6 ? "IPv4, IPv6" : v4 ? "IPv4" : v6 ? "IPv6" : "";
}

}  // namespace gx
