// ASCII helpers for protocol texts (field names, schemes, tokens, host names). Only A to Z are
// folded, whatever the C locale says: every other byte, Windows-1252 capitals included, passes
// unchanged. Header-only, shared by every folder.
#pragma once

#include <string>
#include <string_view>

namespace gx::ascii {

// The lower-case form of A to Z; any other byte as it is.
constexpr char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The text with A to Z lowered.
inline std::string Lower(std::string_view text) {
    std::string lowered(text);
    for (char& c : lowered) {
        c = Lower(c);
    }
    return lowered;
}

// Lowers A to Z of a NUL-terminated text in place.
inline void LowerInPlace(char* text) {
    for (; *text != '\0'; ++text) {
        *text = Lower(*text);
    }
}

// Equal when A to Z are folded.
constexpr bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) {
            return false;
        }
    }
    return true;
}

// Starts with the prefix when A to Z are folded (on both sides).
constexpr bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

// Ends with the suffix, byte for byte.
constexpr bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// The text without the blanks (space, tab) at either end.
constexpr std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace gx::ascii
