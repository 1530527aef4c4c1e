// The system folder and system drive that the update check reports. Linux has neither a Windows
// folder nor drive letters: the folder is unknown ("?" and a separator) and the drive is "C",
// the answers the program gives when the system cannot tell.
#pragma once

#include <string>
#include <string_view>

namespace gx {

// The system folder with one trailing separator; "?" plus separator when unknown.
std::string GetWindowsDir();

// The drive letter of a system folder as GetWindowsDir answers it: its first character, or "C"
// when the folder is unknown ("?...") or empty.
std::string SystemDriveLetterOf(std::string_view windowsDir);

// SystemDriveLetterOf(GetWindowsDir()).
std::string GetSystemDriveLetter();

}  // namespace gx
