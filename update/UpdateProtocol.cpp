#include "update/UpdateProtocol.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "platform/codepage/Cp1252.h"
#include "update/UpdateTexts.h"

namespace gx {

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(start));
            break;
        }
        lines.emplace_back(text.substr(start, end - start));
        const bool crlf = text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n';
        start = end + (crlf ? 2 : 1);
    }
    return lines;
}

std::string ExtractUpdateField(std::string_view text, int n) {
    std::string field;
    int ended = 0;
    for (const char c : text) {
        if (c != ';' && c != '=') {
            field += c;
            continue;
        }
        if (++ended == n) {
            return field;
        }
        field.clear();
    }
    return {};
}

std::string GetUpdateValue(const std::vector<std::string>& lines, std::string_view key) {
    for (const std::string& line : lines) {
        if (line.find(key) != std::string::npos) {
            return ExtractUpdateField(line, 2);
        }
    }
    return {};
}

bool HasUpdateKey(const std::vector<std::string>& lines, std::string_view key) {
    for (const std::string& line : lines) {
        if (line.find(key) != std::string::npos) {
            return true;
        }
    }
    return false;
}

std::int32_t ParseSoftwareSize(std::string_view text) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') {
            return 0;  // "+-5" is no number
        }
    }
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return 0;
    }
    return value;
}

std::string EncodeQueryValue(std::string_view value) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(value.size());
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                           (byte >= '0' && byte <= '9') || byte == '.' || byte == '-' ||
                           byte == '_' || byte == '~';
        if (plain) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0x0F];
        }
    }
    return encoded;
}

std::string ConnectUrl(std::string_view base, const ConnectValues& values, bool fallback) {
    std::string url = std::string(base) + kConnectPath + EncodeQueryValue(values.id) +
                      "&w=" + EncodeQueryValue(values.w) + "&l=" + "&v=";
    if (!fallback) {
        url += "&h=" + EncodeQueryValue(values.h) + "&kdv=" + EncodeQueryValue(kRunningBuild) +
               "&idc=" + std::to_string(values.idc);
    }
    return url;
}

std::optional<std::string> ConnectRefusal(std::string_view reply) {
    const std::vector<std::string> lines = SplitLines(reply);
    if (lines.empty()) {
        return Cp1252(text::kEmptyConnectReply);
    }
    if (lines.front() == "OK") {
        return std::nullopt;
    }
    return lines.front();
}

std::optional<int> ProgressPercent(std::int64_t received, std::int64_t expected) {
    if (expected <= 0) {
        return std::nullopt;
    }
    const double percent =
        std::nearbyint(static_cast<double>(received) * 100.0 / static_cast<double>(expected));
    // Far beyond the announced size the bar shows 100 all the same; keep the number an int.
    constexpr double kCeiling = std::numeric_limits<int>::max();
    return static_cast<int>(std::clamp(percent, -kCeiling, kCeiling));
}

}  // namespace gx
