#include "platform/tls/DataFolder.h"

#include <sys/stat.h>

#include <cerrno>

#include "platform/program/UserDataFolder.h"

namespace gx::tls {
namespace {

bool MakeFolder(const std::string& path) {
    return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

// The folder and the ones above it that are missing (a fresh account has no ~/.local yet).
bool MakeFolders(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        if (!MakeFolder(path.substr(0, slash))) {
            return false;
        }
    }
    return MakeFolder(path);
}

}  // namespace

std::string InterceptionFolder(const std::string& base, const std::string& name) {
    return ProgramDataFolder(base, name);
}

std::string CurrentUserInterceptionFolder() {
    return InterceptionFolder(CurrentUserDataBase());
}

bool MakeInterceptionFolder(const std::string& base, const std::string& name) {
    return MakeFolders(base) && MakeFolder(base + "/gardalix") &&
           MakeFolder(InterceptionFolder(base, name));
}

}  // namespace gx::tls
