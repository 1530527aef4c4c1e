// The files of an update: the user's own temporary folder, the download target "gxsoft.dat",
// the installers that an earlier update left behind, and the check of a download's content.
//
// The temporary folder is the user's own, never the shared /tmp: there another user could plant
// a link named "gxsoft.dat" and have the download written wherever the link points. The target
// is therefore removed (never followed) and then created anew, exclusively.
#pragma once

#include "platform/program/GX_COM.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "http/Streams.h"

namespace gx {

inline constexpr char kDownloadFileName[] = "gxsoft.dat";
inline constexpr char kOldInstallerName[] = "gxsoft";
inline constexpr char kRestartProgramName[] = "gx_restart";
// The text that stands for a temporary folder that cannot be found.
inline constexpr char kNoTempDirectory[] = "?";

// The user's temporary folder with one trailing separator: $TMPDIR when set, else
// $XDG_RUNTIME_DIR, else the folder "gardalix-tmp" (mode 0700, created when missing) in the
// user's cache folder ($XDG_CACHE_HOME, else ~/.cache). "?" when none of them can be had.
std::string GetTempDirectory();

// Clears the write protection of a regular file and deletes it; a link is deleted itself and
// its target left alone. True when the name is gone.
bool ForceDeleteFile(const std::string& path);

// Deletes "gxsoft" (plus the executable suffix) in the program folder and then in the
// temporary folder; a missing or undeletable file is no error. A temporary folder of "?" is
// skipped.
void DeleteOldInstallers(const std::string& programDir, const std::string& tempDir);

// Creates the file, which must not exist yet (a link in its place is not followed), empty and
// open for writing; null when that fails.
std::unique_ptr<FileStream> CreateDownloadTarget(const std::string& path);

// The SHA-256 of a file's content in lower-case hex; nullopt when it cannot be read.
std::optional<std::string> FileSha256Hex(const std::string& path);

// Whether a file's content has the SHA-256 given in hex (either letter case).
bool FileMatchesSha256(const std::string& path, std::string_view expectedHex);

}  // namespace gx
