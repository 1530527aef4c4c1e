// The local date and time as the program writes them in its logs and in the names of files it
// sets aside.
#pragma once

#include <ctime>
#include <string>

namespace gx {

// `when` in local time through a strftime pattern; at most 63 characters (an empty text when the
// pattern would give more).
std::string LocalTimeText(std::time_t when, const char* pattern);

}  // namespace gx
