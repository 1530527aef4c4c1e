// Turns a feed of malicious addresses into the source of the malicious list: one address per
// line, without its scheme; a feed line that names only a host's root ("host/") means the whole
// host and becomes "host/*"; full addresses are kept as they are; blank lines, comments ("#")
// and repeated entries (letter case ignored) are dropped.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace gx {

struct ImportResult {
    std::string text;       // the list source, one entry per line
    size_t addresses = 0;   // full addresses written
    size_t wholeHosts = 0;  // "host/*" entries written (from root-only lines, or as given)
    size_t duplicates = 0;
    size_t skipped = 0;  // blank and comment lines
};

ImportResult ImportFeed(std::string_view feed);

}  // namespace gx
