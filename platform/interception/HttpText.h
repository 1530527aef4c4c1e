// Small text helpers for HTTP/1.1 heads (ASCII only: field names, tokens, codings).
#pragma once

#include <string_view>

namespace gx::interception {

inline char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

inline bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

inline bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

inline bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

inline std::string_view TrimSpaces(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

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
        std::string_view item = TrimSpaces(value.substr(0, comma));
        if (!item.empty()) {
            visit(item);
        }
        if (comma == std::string_view::npos) {
            break;
        }
        value.remove_prefix(comma + 1);
    }
}

}  // namespace gx::interception
