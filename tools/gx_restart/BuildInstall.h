// The file work of an update: reading "gxsoft.dat" without following links, unpacking a checked
// build into a new folder beside the program directory, and the swaps by renames that install
// it and take it back. The program directory is never written into: it is replaced whole, and
// the folder it was stays beside it, as "<program directory>.previous", for one rollback.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "update/BuildFile.h"

namespace gx {

// The whole content of a regular file, opened without following a link; nullopt when it is
// missing, not a regular file, or larger than any build file may be.
std::optional<std::string> ReadBuildFile(const std::string& path);

// The program directory without its trailing separator, and its two neighbours.
struct InstallPaths {
    std::string programDir;   // "/opt/gardalix"
    std::string previousDir;  // "/opt/gardalix.previous"
    std::string parentDir;    // "/opt"
};
InstallPaths PathsOf(const std::string& programDirWithSeparator);

// Whether this user may replace the program directory: write it and its parent folder.
bool CanReplace(const InstallPaths& paths);

// Writes the entries into a new folder beside the program directory; its path, or nullopt
// (with nothing left behind).
std::optional<std::string> UnpackBeside(const InstallPaths& paths,
                                        const std::vector<ArchiveEntry>& entries);

// Puts the unpacked folder in the program directory's place and the old one at previousDir
// (an older rollback is removed first). False, with the program directory as it was, on failure.
bool SwapIn(const InstallPaths& paths, const std::string& unpackedDir);

// Puts previousDir back in the program directory's place and removes the build that failed.
bool SwapBack(const InstallPaths& paths);

// Removes a folder and what it holds, links removed and never followed.
void RemoveTree(const std::string& path);

}  // namespace gx
