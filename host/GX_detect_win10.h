// The host's version as the update check reports it. This program runs on Linux, where no
// workstation service reports a Windows version: the probe answers the empty string, so the
// program never counts itself as running on Windows 10.
#pragma once

#include <string>
#include <string_view>

namespace gx {

// The workstation's "major.minor" version, or the empty string when no workstation service
// answers (always the case on Linux).
std::string GetWorkstationVersion();

// True when a workstation version text names Windows 10 or later: it contains "10." anywhere.
bool IsWin10VersionText(std::string_view version);

// The start-up probe, taken once per process on first use and never changed afterwards.
bool IsWin10();
// The workstation version when IsWin10(), otherwise empty.
const std::string& Win10Version();

}  // namespace gx
