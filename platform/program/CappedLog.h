// The program's small logs (the restart program's, the list refresh's): one line per event,
// appended, and bounded: a log grown past its bound is set aside as "<name>.1" (the one before
// it is lost) and a new one begun, so a log never fills the disk.
//
// The folder may be shared with other programs of the user: the log is never followed through a
// link, and something other than a regular file at its path is neither set aside nor written (a
// FIFO put there does not make the writer wait). Writing a log never fails the caller: what
// cannot be written is dropped.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace gx {

// Appends "<local date and time> <text>\n" to the file at path (created with mode 0600), first
// setting the file aside when it has grown past boundBytes.
void AppendLogLine(const std::string& path, std::string_view text, off_t boundBytes);

}  // namespace gx
