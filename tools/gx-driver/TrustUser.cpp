#include "tools/gx-driver/TrustUser.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <iostream>

#include "platform/program/FdText.h"
#include "platform/program/UserDataFolder.h"
#include "platform/tls/DataFolder.h"

namespace gx {
namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The uid of the user an administrator acts for, when the tool runs as root through sudo or
// pkexec; nullopt otherwise.
std::optional<uid_t> RequestingUid() {
    if (::geteuid() != 0) {
        return std::nullopt;
    }
    for (const char* variable : {"PKEXEC_UID", "SUDO_UID"}) {
        const std::string text = Environment(variable);
        unsigned long uid = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), uid);
        if (!text.empty() && error == std::errc() && end == text.data() + text.size()) {
            return static_cast<uid_t>(uid);
        }
    }
    return std::nullopt;
}

bool BecomeUser(const TrustUser& user) {
    return ::initgroups(user.name.c_str(), user.gid) == 0 && ::setgid(user.gid) == 0 &&
           ::setuid(user.uid) == 0 && ::setuid(0) != 0;  // and root's rights cannot come back
}

}  // namespace

std::optional<TrustUser> FindTrustUser(const std::string& dataHome, std::string* problem) {
    const std::optional<uid_t> requesting = RequestingUid();
    TrustUser user;
    user.uid = requesting.value_or(::getuid());
    user.other = user.uid != ::getuid();
    const passwd* entry = ::getpwuid(user.uid);
    if (entry == nullptr && user.other) {
        *problem = "utilisateur " + std::to_string(user.uid) + " inconnu du système";
        return std::nullopt;
    }
    user.gid = entry ? entry->pw_gid : ::getgid();
    user.name = entry && entry->pw_name ? entry->pw_name : std::to_string(user.uid);
    const std::string recorded = entry && entry->pw_dir ? entry->pw_dir : "";
    std::string xdgDataHome;
    if (user.other) {
        user.home = recorded;
    } else {
        user.home = Environment("HOME").empty() ? recorded : Environment("HOME");
        xdgDataHome = Environment("XDG_DATA_HOME");
    }
    if (!Environment(kUserHomeVariable).empty()) {
        user.home = Environment(kUserHomeVariable);
    }
    if (user.home.empty() || user.home.front() != '/') {
        *problem = "dossier personnel de " + user.name + " introuvable";
        return std::nullopt;
    }
    user.dataBase = UserDataBase(user.home, dataHome.empty() ? xdgDataHome : dataHome);
    user.folder = tls::InterceptionFolder(user.dataBase);
    return user;
}

int AsUser(const TrustUser& user, const std::function<int(std::string& reply)>& work,
           std::string* reply) {
    std::string answer;
    if (!user.other || ::geteuid() != 0) {
        const int status = work(answer);
        if (reply) {
            *reply = answer;
        }
        return status;
    }
    int channel[2];
    if (::pipe2(channel, O_CLOEXEC) != 0) {
        return 1;
    }
    std::cout.flush();
    std::cerr.flush();
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        int status = 1;
        if (BecomeUser(user)) {
            ::setenv("HOME", user.home.c_str(), 1);
            status = work(answer);
            WriteAll(channel[1], answer);
        } else {
            std::cerr << "gx-driver : impossible d'agir en tant que " << user.name << "\n";
        }
        std::cout.flush();
        std::cerr.flush();
        ::_exit(status);
    }
    ::close(channel[1]);
    if (child < 0) {
        ::close(channel[0]);
        return 1;
    }
    answer = ReadAll(channel[0]);
    ::close(channel[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (reply) {
        *reply = answer;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace gx
