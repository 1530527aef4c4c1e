// Turns a readable list source into the scrambled records of a list file.
//
// The source is UTF-8 text, one entry per line (CR LF accepted, final newline optional); blank
// lines and lines beginning with "#" are comments. Each entry is stored as Windows-1252.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace gx {

enum class ListKind { Malware, Adult };

struct ListKindInfo {
    size_t recordSize;
    size_t maxEntryBytes;
    size_t maxEntries;  // 0 = no limit
    const char* fileName;
};
const ListKindInfo& InfoOf(ListKind kind);

// "malware" or "adult"; false for any other word.
bool ParseListKind(std::string_view word, ListKind& kind);

struct PackResult {
    bool ok = false;
    std::string records;   // the file's content when ok
    size_t errorLine = 0;  // 1-based line of the fault, 0 when the fault is not one line's
    std::string error;     // French, UTF-8
};

PackResult PackList(ListKind kind, std::string_view source);

}  // namespace gx
