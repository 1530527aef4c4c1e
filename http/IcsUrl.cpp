#include "http/IcsUrl.h"

#include "platform/text/AsciiText.h"

#include <algorithm>

namespace gx {
namespace {

bool IsSchemeChar(char c) {
    c = ascii::Lower(c);
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

// The base path up to and including its last "/", or "/" when it has none.
std::string BaseFolder(std::string_view basePath) {
    const auto slash = basePath.rfind('/');
    return slash == std::string_view::npos ? std::string("/")
                                           : std::string(basePath.substr(0, slash + 1));
}

// "/a/b/" -> "/a/"; "/" stays "/".
std::string ParentFolder(const std::string& folder) {
    if (folder.size() <= 1) {
        return "/";
    }
    const auto slash = folder.rfind('/', folder.size() - 2);
    return slash == std::string::npos ? std::string("/") : folder.substr(0, slash + 1);
}

std::string ResolveParentRelative(std::string_view address, std::string_view basePath) {
    std::string folder = BaseFolder(basePath);
    while (address.starts_with("../")) {
        folder = ParentFolder(folder);
        address.remove_prefix(3);
    }
    return folder + std::string(address);
}

// Authority (user, password, host, port) and path of what follows the scheme.
void SplitRest(std::string_view rest, UrlParts& parts) {
    const auto pathStart = std::min(rest.find('/'), rest.find('?'));
    std::string_view authority = rest;
    if (pathStart != std::string_view::npos) {
        authority = rest.substr(0, pathStart);
        parts.path = std::string(rest.substr(pathStart));
    }
    const auto colon = authority.rfind(':');
    const auto at = authority.rfind('@');
    const bool hasColon = colon != std::string_view::npos;
    const bool hasAt = at != std::string_view::npos;
    if (!hasColon && !hasAt) {
        parts.host = std::string(authority);
        return;
    }
    if (hasColon && (!hasAt || colon > at)) {
        const std::size_t hostStart = hasAt ? at + 1 : 0;
        parts.port = std::string(authority.substr(colon + 1));
        parts.host = std::string(authority.substr(hostStart, colon - hostStart));
    } else {
        parts.host = std::string(authority.substr(at + 1));
    }
    if (hasAt) {
        const std::string_view credentials = authority.substr(0, at);
        const auto split = credentials.find(':');
        parts.user = std::string(credentials.substr(0, split));
        if (split != std::string_view::npos) {
            parts.password = std::string(credentials.substr(split + 1));
        }
    }
}

// An address without a usable "://" separator.
UrlParts SplitWithoutSeparator(std::string_view address) {
    UrlParts parts;
    if (address.starts_with('/')) {
        parts.scheme = "http";
        parts.path = std::string(address);
        return parts;
    }
    if (ascii::StartsWithNoCase(address, "http:")) {
        parts.scheme = "http";
        if (address.size() > 6 && address[6] != '/') {
            parts.path = std::string(address.substr(5));
        }
        return parts;
    }
    if (ascii::StartsWithNoCase(address, "mailto:")) {
        parts.scheme = "mailto";
        SplitRest(address.substr(address.find(':') + 1), parts);
        return parts;
    }
    SplitRest(address, parts);
    return parts;
}

}  // namespace

UrlParts SplitUrl(std::string_view address, std::string_view basePath) {
    UrlParts parts;
    if (address.empty()) {
        return parts;
    }
    if (address.starts_with("./")) {
        parts.path = BaseFolder(basePath) + std::string(address.substr(2));
        return parts;
    }
    if (address.starts_with("../")) {
        parts.path = ResolveParentRelative(address, basePath);
        return parts;
    }
    const auto separator = address.find("://");
    if (separator == std::string_view::npos) {
        return SplitWithoutSeparator(address);
    }
    const std::string_view scheme = address.substr(0, separator);
    if (!std::all_of(scheme.begin(), scheme.end(), IsSchemeChar)) {
        parts = SplitWithoutSeparator(address);
        if (parts.scheme.empty()) {
            parts.scheme = "http";
        }
        return parts;
    }
    parts.scheme = ascii::Lower(scheme);
    SplitRest(address.substr(separator + 3), parts);
    return parts;
}

}  // namespace gx
