// File writing for the publishing tool: a new private key that nobody else may read, and
// output files replaced whole or not at all.
#pragma once

#include <optional>
#include <string>

namespace gx {

// Creates the file with this mode; refuses an existing file or a link in its place.
bool WriteNewFile(const std::string& path, const std::string& contents, unsigned mode);

// Writes beside the path and renames over it, so that a reader sees the old or the new file.
bool ReplaceFile(const std::string& path, const std::string& contents, unsigned mode);

std::optional<std::string> ReadWholeFile(const std::string& path);

}  // namespace gx
