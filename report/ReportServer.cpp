#include "report/ReportServer.h"

#include <algorithm>
#include <cctype>

#include "platform/registry/Registry.h"
#include "store/GX_ConfigReg.h"

namespace gx {

namespace {

std::string_view Trimmed(std::string_view text) {
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool StartsWithHttpScheme(std::string_view text) {
    constexpr std::string_view kScheme = "http://";
    return text.size() >= kScheme.size() &&
           std::equal(kScheme.begin(), kScheme.end(), text.begin(), [](char wanted, char got) {
               return wanted == std::tolower(static_cast<unsigned char>(got));
           });
}

// A host with an optional port from 1 to 65535: no path, query, user or blank in it.
bool IsHostAndPort(std::string_view authority) {
    const size_t colon = authority.rfind(':');
    const std::string_view host = authority.substr(0, colon);
    const bool hostOk = !host.empty() && std::none_of(host.begin(), host.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte <= ' ' || byte >= 127 || c == '/' || c == '?' || c == '#' || c == '@' ||
               c == ':';
    });
    if (!hostOk || colon == std::string_view::npos) {
        return hostOk;
    }
    const std::string_view port = authority.substr(colon + 1);
    if (port.empty() || port.size() > 5 ||
        !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    const long number = std::stol(std::string(port));
    return number >= 1 && number <= 65535;
}

}  // namespace

std::string NormalisedReportServer(std::string_view text) {
    text = Trimmed(text);
    if (!StartsWithHttpScheme(text)) {
        return {};
    }
    std::string_view authority = text.substr(7);
    while (!authority.empty() && authority.back() == '/') {
        authority.remove_suffix(1);
    }
    if (!IsHostAndPort(authority)) {
        return {};
    }
    return "http://" + std::string(authority);
}

std::string ReportServerBase() {
    std::string configured;
    try {
        Registry registry;
        if (registry.OpenKey(kGardalixKey, false)) {
            configured = NormalisedReportServer(registry.ReadString(kReportServerValue));
        }
    } catch (const ERegistryException&) {
        configured.clear();  // a value of another type names no server
    }
    return configured.empty() ? std::string(kDefaultReportServer) : configured;
}

std::uint16_t ReportCustomerCode() {
    try {
        return CustomerCode();
    } catch (const ERegistryException&) {
        return 0;  // a value of another type is no code
    }
}

}  // namespace gx
