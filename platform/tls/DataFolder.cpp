#include "platform/tls/DataFolder.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

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

std::string UserDataBase(const std::string& home, const std::string& xdgDataHome) {
    if (!xdgDataHome.empty() && xdgDataHome.front() == '/') {
        return xdgDataHome;
    }
    return home.empty() ? std::string("/tmp") : home + "/.local/share";
}

std::string InterceptionFolder(const std::string& base, const std::string& name) {
    return base + "/gardalix/" + name;
}

std::string CurrentUserInterceptionFolder() {
    const char* home = std::getenv("HOME");
    const char* xdg = std::getenv("XDG_DATA_HOME");
    return InterceptionFolder(UserDataBase(home ? home : "", xdg ? xdg : ""));
}

bool MakeInterceptionFolder(const std::string& base, const std::string& name) {
    return MakeFolders(base) && MakeFolder(base + "/gardalix") &&
           MakeFolder(InterceptionFolder(base, name));
}

}  // namespace gx::tls
