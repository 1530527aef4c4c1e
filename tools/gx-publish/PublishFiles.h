// File writing for the publishing tool: a new private key that nobody else may read. Output
// files are replaced whole or not at all (platform/program/WholeFile.h).
#pragma once

#include <string>

#include "platform/program/WholeFile.h"

namespace gx {

// Creates the file with this mode; refuses an existing file or a link in its place.
bool WriteNewFile(const std::string& path, const std::string& contents, unsigned mode);

}  // namespace gx
