// Where the registry hive lives, and the hive that this process uses.
//
// The file named by the environment variable GARDALIX_REGISTRY when it is set; otherwise
// /var/lib/gardalix/registry.db when that folder exists and this process may write to it (a
// machine-wide installation); otherwise registry.db in the user's data folder,
// ${XDG_DATA_HOME:-$HOME/.local/share}/gardalix, which is created on first use.
#pragma once

#include <memory>
#include <string>

#include "platform/registry/RegistryHive.h"

namespace gx {

inline constexpr const char* kHivePathVariable = "GARDALIX_REGISTRY";
inline constexpr const char* kMachineHiveFolder = "/var/lib/gardalix";
inline constexpr const char* kHiveFileName = "registry.db";

// The hive file by the rules above; empty when no place can be named (no home folder). With
// createFolder, the user's data folder is created when that is where the hive goes.
std::string HivePath(bool createFolder = false);

// The hive of this process, opened on first use; null when it cannot be opened or created
// (the next call tries again).
std::shared_ptr<RegistryHive> ProcessHive();

// Closes the process hive; the next ProcessHive() looks for its place again. For tests and
// tools that switch hives.
void CloseProcessHive();

}  // namespace gx
