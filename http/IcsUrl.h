// Cutting an address into scheme, user, password, host, port and path (the path keeps the query).
#pragma once

#include <string>
#include <string_view>

namespace gx {

struct UrlParts {
    std::string scheme;
    std::string user;
    std::string password;
    std::string host;
    std::string port;
    std::string path;

    bool operator==(const UrlParts&) const = default;
};

// basePath is the request target of the previous request; only "./" and "../" addresses use it.
// Addresses beginning with "//" and IPv6 literals are not understood (the program uses neither).
UrlParts SplitUrl(std::string_view address, std::string_view basePath);

}  // namespace gx
