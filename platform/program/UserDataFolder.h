// Where a user's own data lives: $XDG_DATA_HOME when it names an absolute folder, else
// HOME/.local/share. The program keeps its folders below it, in "gardalix/" (the interception
// data, the downloaded lists); the tools find the same folder for the user they act for.
#pragma once

#include <string>

namespace gx {

// The data base folder for a user: xdgDataHome when it is an absolute path, else
// home + "/.local/share" (or "/tmp" without a home). Nothing is created.
std::string UserDataBase(const std::string& home, const std::string& xdgDataHome);

// The calling user's, from HOME and XDG_DATA_HOME.
std::string CurrentUserDataBase();

// One of the program's folders in a data base folder: base + "/gardalix/" + name.
std::string ProgramDataFolder(const std::string& base, const std::string& name);

}  // namespace gx
