#include "platform/interception/FirstBytes.h"

#include <algorithm>
#include <string_view>

#include "platform/interception/HttpText.h"

namespace gx::interception {

std::optional<bool> LooksLikeHttp(const char* data, size_t n) {
    constexpr size_t kLongestMethod = 24;
    size_t start = 0;
    while (start < n && (data[start] == '\r' || data[start] == '\n')) {
        ++start;
    }
    if (start == n) {
        return std::nullopt;
    }
    data += start;
    n -= start;
    // Servers may split the request line on any blank, not only on a space.
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; };
    size_t space = 0;
    while (space < n && space <= kLongestMethod && !isBlank(data[space])) {
        if (!IsTokenChar(data[space])) {
            return false;
        }
        ++space;
    }
    if (space >= n) {
        return n > kLongestMethod ? std::optional<bool>(false) : std::nullopt;
    }
    if (space == 0 || space > kLongestMethod) {
        return false;
    }
    std::string_view method(data, space);
    size_t targetStart = space;
    while (targetStart < n && isBlank(data[targetStart])) {
        ++targetStart;
    }
    std::string_view target(data + targetStart, n - targetStart);
    if (target.empty()) {
        return std::nullopt;
    }
    if (method == "CONNECT" || target.front() == '/' || target.front() == '*') {
        return true;
    }
    constexpr std::string_view kScheme = "http";
    size_t compared = std::min(target.size(), kScheme.size());
    if (!StartsWithNoCase(target.substr(0, compared), kScheme.substr(0, compared))) {
        return false;
    }
    return target.size() >= kScheme.size() ? std::optional<bool>(true) : std::nullopt;
}

}  // namespace gx::interception
