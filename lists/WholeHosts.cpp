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

size_t WholeHostSet::NameHash::operator()(std::string_view name) const {
    uint64_t sum = 0;
    uint64_t scale = 1;
    for (size_t i = name.size(); i-- > 0;) {
        sum += (static_cast<unsigned char>(name[i]) + 1) * scale;
        scale *= kBase;
    }
    return Mixed(sum);
}

namespace {

// Where a name's two bits stand: one word of the filter (a power of two long), two bits in it, so
// that a look costs one cache line.
struct FilterBits {
    size_t word;
    uint64_t bits;
};
FilterBits BitsOf(uint64_t hash, size_t words) {
    return {static_cast<size_t>(hash) & (words - 1),
            (uint64_t{1} << (hash >> 52 & 63)) | (uint64_t{1} << (hash >> 58))};
}

}  // namespace

void WholeHostSet::Names::Insert(std::string_view name) {
    set.insert(name);
    hasPorts = hasPorts || name.find(':') != std::string_view::npos;
    // About sixteen bits per name: one name in fifty that is not in the set passes the filter.
    const size_t wanted = std::bit_ceil(std::max<size_t>(set.size() * 16 / 64, 64));
    if (filter.size() < wanted) {
        filter.assign(wanted, 0);
        for (const std::string_view held : set) {
            const FilterBits at = BitsOf(NameHash{}(held), filter.size());
            filter[at.word] |= at.bits;
        }
        return;
    }
    const FilterBits at = BitsOf(NameHash{}(name), filter.size());
    filter[at.word] |= at.bits;
}

bool WholeHostSet::Names::Contains(std::string_view name, uint64_t sum) const {
    if (filter.empty()) {
        return false;
    }
    const FilterBits at = BitsOf(Mixed(sum), filter.size());
    return (filter[at.word] & at.bits) == at.bits && set.contains(name);
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

bool WholeHostSet::Holds(const Names& names, std::string_view key, size_t nameLength,
                         uint64_t nameSum, uint64_t portSum, uint64_t portScale) {
    // An entry without a port covers every port of the host; "name:port" only that port.
    return names.Contains(key.substr(0, nameLength), nameSum) ||
           (key.size() > nameLength && names.hasPorts &&
            names.Contains(key, nameSum * portScale + portSum));
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
    // The polynomials of ":port" and, label by label from the right, of each suffix of the name.
    uint64_t portSum = 0;
    uint64_t scale = 1;
    for (size_t i = whole.size(); i-- > name.size();) {
        portSum += (static_cast<unsigned char>(whole[i]) + 1) * scale;
        scale *= kBase;
    }
    const uint64_t portScale = scale;
    uint64_t sum = 0;
    scale = 1;
    // The host itself and each parent domain: "a.b.example", "b.example", "example". A
    // look-alike ("evilb.example") is never a parent of "b.example". Each is a suffix of the
    // name, so "domain:port" is a suffix of the key.
    for (size_t i = name.size(); i-- > 0;) {
        sum += (static_cast<unsigned char>(whole[i]) + 1) * scale;
        scale *= kBase;
        if ((i == 0 || whole[i - 1] == '.') &&
            Holds(domains_, whole.substr(i), name.size() - i, sum, portSum, portScale)) {
            return true;
        }
    }
    return Holds(hosts_, whole, name.size(), sum, portSum, portScale);
}

}  // namespace gx
