#include "platform/registry/HiveLocation.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>

namespace gx {
namespace {

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string HomeFolder() {
    std::string home = Variable("HOME");
    if (home.empty()) {
        if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) {
            home = entry->pw_dir;
        }
    }
    return home;
}

// The user's data folder; an unset, empty or relative XDG_DATA_HOME is ignored, as the base
// directory rules require.
std::string UserDataFolder() {
    const std::string xdg = Variable("XDG_DATA_HOME");
    if (!xdg.empty() && xdg.front() == '/') {
        return xdg;
    }
    const std::string home = HomeFolder();
    return home.empty() ? "" : home + "/.local/share";
}

bool IsWritableFolder(const char* path) {
    struct stat info {};
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode) && access(path, W_OK | X_OK) == 0;
}

// mkdir -p, private to the user.
void CreateFolders(const std::string& path) {
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
            return;
        }
        if (slash == std::string::npos) {
            return;
        }
    }
}

std::mutex hiveMutex;
std::shared_ptr<RegistryHive> hive;

}  // namespace

std::string HivePath(bool createFolder) {
    if (std::string named = Variable(kHivePathVariable); !named.empty()) {
        return named;
    }
    if (IsWritableFolder(kMachineHiveFolder)) {
        return std::string(kMachineHiveFolder) + "/" + kHiveFileName;
    }
    const std::string data = UserDataFolder();
    if (data.empty()) {
        return "";
    }
    const std::string folder = data + "/gardalix";
    if (createFolder) {
        CreateFolders(folder);
    }
    return folder + "/" + kHiveFileName;
}

std::shared_ptr<RegistryHive> ProcessHive() {
    std::lock_guard lock(hiveMutex);
    if (!hive) {
        hive = RegistryHive::Open(HivePath(true));
    }
    return hive;
}

void CloseProcessHive() {
    std::lock_guard lock(hiveMutex);
    hive.reset();
}

}  // namespace gx
