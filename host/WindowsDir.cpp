#include "host/WindowsDir.h"

#include "platform/program/GX_COM.h"

namespace gx {

std::string GetWindowsDir() {
    return std::string("?") + kPathSeparator;
}

std::string SystemDriveLetterOf(std::string_view windowsDir) {
    if (windowsDir.empty() || windowsDir.front() == '?') {
        return "C";
    }
    return std::string(1, windowsDir.front());
}

std::string GetSystemDriveLetter() {
    return SystemDriveLetterOf(GetWindowsDir());
}

}  // namespace gx
