// Where a user's interception data lives (the root authority, the trust marker): the folder
// "netfilter2" in the user's data folder, $XDG_DATA_HOME/gardalix/netfilter2 or, without it,
// HOME/.local/share/gardalix/netfilter2. The interception library maps the folder the program
// names to this one; the tools find the same folder for the user they act for.
#pragma once

#include <string>

namespace gx::tls {

inline constexpr char kDataFolderName[] = "netfilter2";

// base + "/gardalix/" + name; the base is a user's data folder (platform/program/UserDataFolder.h).
std::string InterceptionFolder(const std::string& base, const std::string& name = kDataFolderName);

// The calling user's folder, from HOME and XDG_DATA_HOME.
std::string CurrentUserInterceptionFolder();

// Creates base/gardalix and the folder itself with mode 0700 where missing. False on failure.
bool MakeInterceptionFolder(const std::string& base, const std::string& name = kDataFolderName);

}  // namespace gx::tls
