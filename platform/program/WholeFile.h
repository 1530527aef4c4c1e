// Whole files read and replaced at once: a reader of a replaced file sees the old content or the
// new one, never a part.
#pragma once

#include <optional>
#include <string>

namespace gx {

// Writes beside the path (same folder, a fresh name), flushes it to the disk and renames it over
// the path. False, with nothing left behind, when any step fails.
bool ReplaceFile(const std::string& path, const std::string& contents, unsigned mode);

// The file's whole content; nullopt when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::string& path);

}  // namespace gx
