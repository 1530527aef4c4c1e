// What the restart program tells: one line per run in gx_restart.log beside the registry hive,
// and, when the user must know (an update that was not installed), a French sentence on stderr
// and in a message box where a display exists.
#pragma once

#include <string>

namespace gx {

inline constexpr char kRestartLogName[] = "gx_restart.log";

// The log file: gx_restart.log in the hive's folder; empty when there is no such place.
std::string RestartLogPath();

// Appends "<date> <text>" as one line; a log grown past its bound is first set aside as ".1".
void LogLine(const std::string& text);

// The sentence on stderr, then in a message box when a display exists (closed by itself after
// a few minutes at most, so that the restart program always ends).
void TellUser(const std::string& sentence);

}  // namespace gx
