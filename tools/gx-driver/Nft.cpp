#include "tools/gx-driver/Nft.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/driver/DriverConfig.h"
#include "tools/gx-driver/FdText.h"

namespace gx {
namespace {

// nft lives in the system folders, which a user's PATH (or sudo's) may not list.
constexpr const char* kNftCandidates[] = {"/usr/sbin/nft", "/sbin/nft", "/usr/bin/nft"};

// The child's exit status when nft could not be started at all.
constexpr int kCannotRun = 127;

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
    const std::string nft = FindNft();
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(nft.c_str()));
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    int toChild[2];
    int fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0) {
        return {false, std::string("pipe : ") + std::strerror(errno)};
    }
    if (::pipe2(fromChild, O_CLOEXEC) != 0) {
        ::close(toChild[0]);
        ::close(toChild[1]);
        return {false, std::string("pipe : ") + std::strerror(errno)};
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(toChild[0], STDIN_FILENO);
        ::dup2(fromChild[1], STDOUT_FILENO);
        ::dup2(fromChild[1], STDERR_FILENO);
        ::execvp(argv[0], argv.data());
        const std::string message =
            std::string("impossible de lancer ") + argv[0] + " : " + std::strerror(errno) + "\n";
        [[maybe_unused]] auto ignored = ::write(STDERR_FILENO, message.data(), message.size());
        ::_exit(kCannotRun);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);
    if (child < 0) {
        ::close(toChild[1]);
        ::close(fromChild[0]);
        return {false, std::string("fork : ") + std::strerror(errno)};
    }
    // A ruleset is a few hundred bytes, well under a pipe's buffer: writing it all before
    // reading cannot block on nft's output.
    const auto oldPipeHandler = ::signal(SIGPIPE, SIG_IGN);
    WriteAll(toChild[1], input);
    ::close(toChild[1]);
    ::signal(SIGPIPE, oldPipeHandler);
    NftResult result;
    result.output = ReadAll(fromChild[0]);
    ::close(fromChild[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (WIFEXITED(status) && WEXITSTATUS(status) == kCannotRun) {
        result.output = "la commande nft est introuvable ; installez le paquet nftables (" +
                        result.output.substr(0, result.output.find('\n')) + ")";
    }
    return result;
}

NftResult ApplyRuleset(const std::string& ruleset) {
    return RunNft({"-f", "-"}, ruleset);
}

bool DriverTableExists() {
    return RunNft({"list", "table", kDriverTableFamily, kDriverTableName}).ok;
}

std::string ArmedFamilies() {
    const NftResult set =
        RunNft({"list", "set", kDriverTableFamily, kDriverTableName, kArmedSetName});
    const size_t elements = set.output.find("elements = {");
    if (!set.ok || elements == std::string::npos) {
        return "";
    }
    const std::string list = set.output.substr(elements, set.output.find('}', elements) - elements);
    const bool v4 = list.find("ipv4") != std::string::npos;
    const bool v6 = list.find("ipv6") != std::string::npos;
    return v4 && v6 ? "IPv4, IPv6" : v4 ? "IPv4" : v6 ? "IPv6" : "";
}

}  // namespace gx
