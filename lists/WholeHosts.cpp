#include "lists/WholeHosts.h"

#include <algorithm>
#include <bit>

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

void WholeHostSet::Names::Insert(std::string_view name) {
    set.insert(name);
    // About eight bits per name: one name in ten that is not in the set passes the filter.
    const size_t wanted = std::bit_ceil(std::max<size_t>(set.size() * 8 / 64, 64));
    if (filter.size() < wanted) {
        filter.assign(wanted, 0);
        for (const std::string_view held : set) {
            const size_t bit = NameHash{}(held) % (filter.size() * 64);
            filter[bit / 64] |= uint64_t{1} << (bit % 64);
        }
        return;
    }
    const size_t bit = NameHash{}(name) % (filter.size() * 64);
    filter[bit / 64] |= uint64_t{1} << (bit % 64);
}

bool WholeHostSet::Names::Contains(std::string_view name) const {
    if (filter.empty()) {
        return false;
    }
    const size_t bit = NameHash{}(name) % (filter.size() * 64);
    return (filter[bit / 64] >> (bit % 64) & 1) != 0 && set.contains(name);
}

void WholeHostSet::Clear() {
    hosts_ = {};
    domains_ = {};
    owned_.clear();
}

void WholeHostSet::Add(const WholeHostEntry& entry) {
    (entry.subdomains ? domains_ : hosts_).Insert(owned_.emplace_back(entry.host));
}

void WholeHostSet::Add(const WholeHostEntry& entry, std::string_view written) {
    const size_t at = entry.subdomains ? 2 : 0;
    if (written.substr(at, entry.host.size()) == entry.host &&
        written.size() == at + entry.host.size() + 2) {
        (entry.subdomains ? domains_ : hosts_).Insert(written.substr(at, entry.host.size()));
        return;
    }
    Add(entry);
}

bool WholeHostSet::Holds(const Names& names, std::string_view key, size_t nameLength) {
    // An entry without a port covers every port of the host; "name:port" only that port.
    return names.Contains(key.substr(0, nameLength)) ||
           (key.size() > nameLength && names.Contains(key));
}

bool WholeHostSet::Matches(std::string_view address) const {
    if (size() == 0) {
        return false;
    }
    for (std::string_view scheme : {"http://", "https://"}) {
        if (ascii::StartsWithNoCase(address, scheme)) {
            address.remove_prefix(scheme.size());
            break;
        }
    }
    std::string_view name;
    std::string_view port;
    SplitPort(address.substr(0, address.find_first_of("/?#")), name, port);
    if (!name.empty() && name.back() == '.') {
        name.remove_suffix(1);
    }
    // The host as the set holds it, "name[:port]", lower-cased into a buffer of this thread's:
    // this runs for every request, and allocates nothing once the buffer has grown.
    thread_local std::string key;
    key.assign(name);
    for (char& c : key) {
        c = ascii::Lower(c);
    }
    if (!port.empty()) {
        key += ':';
        key.append(port);
    }
    const std::string_view whole = key;
    if (Holds(hosts_, whole, name.size())) {
        return true;
    }
    // The host itself and each parent domain, label by label: "a.b.example", "b.example",
    // "example". A look-alike ("evilb.example") is never a parent of "b.example". Each is a
    // suffix of the name, so "domain:port" is a suffix of the key.
    for (size_t at = 0; at < name.size();) {
        if (Holds(domains_, whole.substr(at), name.size() - at)) {
            return true;
        }
        const size_t dot = whole.find('.', at);
        at = dot == std::string_view::npos || dot >= name.size() ? name.size() : dot + 1;
    }
    return false;
}

}  // namespace gx
