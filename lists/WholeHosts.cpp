#include "lists/WholeHosts.h"

#include "platform/text/AsciiText.h"

namespace gx {
namespace {

// "name:port" splits into name and port; "[v6]:port" keeps its brackets in the name.
void SplitPort(std::string_view host, std::string_view& name, std::string_view& port) {
    size_t colon = host.rfind(':');
    bool bracketed = !host.empty() && host.front() == '[';
    if (colon == std::string_view::npos || (bracketed && colon < host.rfind(']'))) {
        name = host;
        port = {};
        return;
    }
    name = host.substr(0, colon);
    port = host.substr(colon + 1);
}

std::string CanonicalHost(std::string_view host) {
    std::string_view name;
    std::string_view port;
    SplitPort(host, name, port);
    if (!name.empty() && name.back() == '.') {
        name.remove_suffix(1);
    }
    std::string canonical = ascii::Lower(name);
    if (!port.empty()) {
        canonical += ':';
        canonical.append(port);
    }
    return canonical;
}

}  // namespace

std::optional<WholeHostEntry> ParseWholeHostEntry(std::string_view entry) {
    if (!ascii::EndsWith(entry, "/*") || entry.size() < 3) {
        return std::nullopt;
    }
    std::string_view host = entry.substr(0, entry.size() - 2);
    WholeHostEntry parsed;
    if (host.starts_with("*.")) {
        parsed.subdomains = true;
        host.remove_prefix(2);
    }
    if (host.empty() || host.find_first_of("/?#*@ ") != std::string_view::npos) {
        return std::nullopt;
    }
    parsed.host = CanonicalHost(host);
    return parsed;
}

std::string AddressHost(std::string_view address) {
    for (std::string_view scheme : {"http://", "https://"}) {
        if (ascii::StartsWithNoCase(address, scheme)) {
            address.remove_prefix(scheme.size());
            break;
        }
    }
    return CanonicalHost(address.substr(0, address.find_first_of("/?#")));
}

void WholeHostSet::Clear() {
    hosts_.clear();
    domains_.clear();
}

void WholeHostSet::Add(const WholeHostEntry& entry) {
    (entry.subdomains ? domains_ : hosts_).insert(entry.host);
}

bool WholeHostSet::Holds(const std::unordered_set<std::string>& set, std::string_view name,
                         std::string_view port) const {
    std::string key(name);
    if (set.contains(key)) {
        return true;  // an entry without a port: every port of the host
    }
    return !port.empty() && set.contains(key + ":" + std::string(port));
}

bool WholeHostSet::Matches(std::string_view address) const {
    if (hosts_.empty() && domains_.empty()) {
        return false;
    }
    std::string host = AddressHost(address);
    std::string_view name;
    std::string_view port;
    SplitPort(host, name, port);
    if (Holds(hosts_, name, port)) {
        return true;
    }
    // The host itself and each parent domain, label by label: "a.b.example", "b.example",
    // "example". A look-alike ("evilb.example") is never a parent of "b.example".
    for (std::string_view domain = name; !domain.empty();) {
        if (Holds(domains_, domain, port)) {
            return true;
        }
        size_t dot = domain.find('.');
        domain = dot == std::string_view::npos ? std::string_view() : domain.substr(dot + 1);
    }
    return false;
}

}  // namespace gx
