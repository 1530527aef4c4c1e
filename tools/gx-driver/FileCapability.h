// The program's file capability: cap_net_admin in the permitted set only, so that the
// program starts without privilege and raises it just around the calls that need it.
#pragma once

#include <string>

namespace gx {

// Sets exactly cap_net_admin+p on the file (replacing any capabilities it had).
bool GrantNetAdmin(const std::string& path, std::string* error);

// Removes every file capability; true when none is left (also when the file has none or
// does not exist).
bool RemoveCapabilities(const std::string& path, std::string* error);

// True when the file carries cap_net_admin in its permitted set.
bool HasNetAdmin(const std::string& path);

}  // namespace gx
