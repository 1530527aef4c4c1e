// Opening a file or an address the way the desktop would.
#pragma once

#include <string>

namespace gx {

// An executable file (a path to a regular file that may be run) is started directly, detached
// from this process, with the parameters split as a shell would and in the given directory (the
// current one when empty). Anything else (a web address, a document, a folder) goes to the
// desktop's opener. True when the program was started or the opener accepted the request.
// Texts of any length are passed on unchanged. `show` is accepted for the callers' sake and has
// no meaning on this desktop.
bool ShellOpen(const std::string& file, const std::string& parameters = {},
               const std::string& directory = {}, int show = 1);

}  // namespace gx
