// Small ASCII helpers for protocol texts (header names, schemes): only A-Z are folded, so the
// other Windows-1252 bytes pass unchanged.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace gx::ascii {

inline char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string Lower(std::string_view text) {
    std::string lowered(text);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](char c) { return Lower(c); });
    return lowered;
}

inline bool StartsWithNoCase(std::string_view text, std::string_view lowerPrefix) {
    return text.size() >= lowerPrefix.size() &&
           Lower(text.substr(0, lowerPrefix.size())) == lowerPrefix;
}

inline std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace gx::ascii
