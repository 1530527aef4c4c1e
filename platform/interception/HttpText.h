// HTTP/1.1 grammar helpers for heads: tokens and comma-separated lists. Case folding and
// trimming are the shared ASCII helpers, pulled in here for the parsers.
#pragma once

#include <string_view>

#include "platform/text/AsciiText.h"

namespace gx::interception {

using ascii::EndsWith;
using ascii::EqualsNoCase;
using ascii::StartsWithNoCase;

// RFC 9110 token characters (method names, field names, codings).
inline bool IsTokenChar(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    switch (c) {
        case '!':
        case '#':
        case '$':
        case '%':
        case '&':
        case '\'':
        case '*':
        case '+':
        case '-':
        case '.':
        case '^':
        case '_':
        case '`':
        case '|':
        case '~':
            return true;
        default:
            return false;
    }
}

inline bool IsToken(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    for (char c : text) {
        if (!IsTokenChar(c)) {
            return false;
        }
    }
    return true;
}

// Calls visit(item) for each comma-separated, trimmed, non-empty item of a list value.
template <typename Visit>
void ForEachListItem(std::string_view value, Visit visit) {
    while (!value.empty()) {
        size_t comma = value.find(',');
        std::string_view item = ascii::Trim(value.substr(0, comma));
        if (!item.empty()) {
            visit(item);
        }
        if (comma == std::string_view::npos) {
            break;
        }
        value.remove_prefix(comma + 1);
    }
}

// Whether a list value holds the token (letter case ignored).
inline bool HasToken(std::string_view list, std::string_view token) {
    bool found = false;
    ForEachListItem(list,
                    [&](std::string_view item) { found = found || EqualsNoCase(item, token); });
    return found;
}

}  // namespace gx::interception
