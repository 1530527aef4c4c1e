#include "platform/program/UserDataFolder.h"

#include <cstdlib>

namespace gx {

std::string UserDataBase(const std::string& home, const std::string& xdgDataHome) {
    if (!xdgDataHome.empty() && xdgDataHome.front() == '/') {
        return xdgDataHome;
    }
    return home.empty() ? std::string("/tmp") : home + "/.local/share";
}

std::string CurrentUserDataBase() {
    const char* home = std::getenv("HOME");
    const char* xdg = std::getenv("XDG_DATA_HOME");
    return UserDataBase(home ? home : "", xdg ? xdg : "");
}

std::string ProgramDataFolder(const std::string& base, const std::string& name) {
    return base + "/gardalix/" + name;
}

}  // namespace gx
