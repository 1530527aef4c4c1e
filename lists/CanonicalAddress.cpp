#include "lists/CanonicalAddress.h"

#include <arpa/inet.h>

#include <cstdint>
#include <cstring>
#include <optional>

#include "platform/text/AsciiText.h"
#include "platform/text/Hex.h"

namespace gx {
namespace {

char UpperHex(char c) {
    return (c >= 'a' && c <= 'f') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Whether a decoded character would join a stray "%" before it ("%" or "%4" that no escape
// began) into an escape that the next reading would decode: "%4%31" must not become "%41".
// An escape is always written whole, so a "%" among the last two characters is a stray one.
bool CompletesStrayPercent(const std::string& out, unsigned char decoded) {
    if (HexValue(static_cast<char>(decoded)) < 0) {
        return false;
    }
    const size_t size = out.size();
    return (size >= 1 && out[size - 1] == '%') ||
           (size >= 2 && out[size - 2] == '%' && HexValue(out[size - 1]) >= 0);
}

void AppendEscapesNormalised(std::string_view text, std::string& out) {
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '%' || i + 2 >= text.size() || HexValue(text[i + 1]) < 0 ||
            HexValue(text[i + 2]) < 0) {
            out += c;  // not an escape ("%zz", "%4" at the end): kept as it is
            continue;
        }
        const auto decoded =
            static_cast<unsigned char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
        if (IsUnreserved(decoded) && !CompletesStrayPercent(out, decoded)) {
            out += static_cast<char>(decoded);
        } else {
            out += '%';
            out += UpperHex(text[i + 1]);
            out += UpperHex(text[i + 2]);
        }
        i += 2;
    }
}

// One part of a numeric IPv4 host as the C library's resolver reads it: "0x" then hex digits,
// "0" then octal digits, or decimal digits.
std::optional<uint64_t> IpPartValue(std::string_view part) {
    if (part.empty()) {
        return std::nullopt;
    }
    unsigned base = 10;
    if (part.size() >= 2 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X')) {
        base = 16;
        part.remove_prefix(2);
    } else if (part[0] == '0') {
        base = 8;
    }
    uint64_t value = 0;
    for (const char c : part) {
        const int digit = HexValue(c);
        if (digit < 0 || static_cast<unsigned>(digit) >= base) {
            return std::nullopt;
        }
        value = value * base + static_cast<unsigned>(digit);
        if (value > 0xFFFFFFFFu) {
            return std::nullopt;
        }
    }
    return value;
}

// A host of one to four numeric parts (the last one fills the bytes left), as inet_aton reads
// it; nothing when the host is not such a number.
std::optional<uint32_t> NumericIpv4(std::string_view host) {
    uint64_t parts[4];
    int count = 0;
    while (true) {
        const size_t dot = host.find('.');
        if (count == 4) {
            return std::nullopt;
        }
        const auto value = IpPartValue(host.substr(0, dot));
        if (!value) {
            return std::nullopt;
        }
        parts[count++] = *value;
        if (dot == std::string_view::npos) {
            break;
        }
        host.remove_prefix(dot + 1);
    }
    uint32_t address = 0;
    for (int i = 0; i + 1 < count; ++i) {
        if (parts[i] > 0xFF) {
            return std::nullopt;
        }
        address |= static_cast<uint32_t>(parts[i]) << (8 * (3 - i));
    }
    const int lastBits = 8 * (5 - count);
    if (lastBits < 32 && parts[count - 1] >> lastBits != 0) {
        return std::nullopt;
    }
    return address | static_cast<uint32_t>(parts[count - 1]);
}

// Writes the address as four decimal numbers and dots into text (16 bytes); returns the length.
size_t FormatDottedDecimal(uint32_t address, char* text) {
    size_t length = 0;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const unsigned byte = (address >> shift) & 0xFF;
        if (byte >= 100) {
            text[length++] = static_cast<char>('0' + byte / 100);
        }
        if (byte >= 10) {
            text[length++] = static_cast<char>('0' + byte / 10 % 10);
        }
        text[length++] = static_cast<char>('0' + byte % 10);
        if (shift > 0) {
            text[length++] = '.';
        }
    }
    return length;
}

void AppendDottedDecimal(uint32_t address, std::string& out) {
    char text[16];
    out.append(text, FormatDottedDecimal(address, text));
}

// "[v6]" (already lower-cased): its shortest form, or dotted decimal for an IPv4-mapped one.
void AppendIpv6Host(std::string_view bracketed, std::string& out) {
    const std::string inner(bracketed.substr(1, bracketed.size() - 2));
    unsigned char bytes[16];
    if (inner.find('%') != std::string::npos || ::inet_pton(AF_INET6, inner.c_str(), bytes) != 1) {
        out += bracketed;  // a zone or not an address: kept as written
        return;
    }
    static constexpr unsigned char kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    if (std::memcmp(bytes, kMappedPrefix, sizeof kMappedPrefix) == 0) {
        AppendDottedDecimal(uint32_t{bytes[12]} << 24 | uint32_t{bytes[13]} << 16 |
                                uint32_t{bytes[14]} << 8 | bytes[15],
                            out);
        return;
    }
    char text[INET6_ADDRSTRLEN];
    ::inet_ntop(AF_INET6, bytes, text, sizeof text);
    out += '[';
    out += text;
    out += ']';
}

void AppendHost(std::string_view host, std::string& out) {
    const size_t start = out.size();
    for (const char c : host) {
        out += ascii::Lower(c);
    }
    // Every trailing dot goes, not just one: the form must not change when taken again.
    while (out.size() - start > 1 && out.back() == '.') {
        out.pop_back();
    }
    const std::string_view written(out.data() + start, out.size() - start);
    if (written.size() >= 2 && written.front() == '[' && written.back() == ']') {
        const std::string bracketed(written);
        out.resize(start);
        AppendIpv6Host(bracketed, out);
    } else if (!written.empty() && IsDigit(written.front())) {
        if (const auto address = NumericIpv4(written)) {
            out.resize(start);
            AppendDottedDecimal(*address, out);
        }
    }
}

// ":port" without leading zeros, nothing for a default or empty port; a port that is not a
// number is kept as written.
void AppendPort(std::string_view port, std::string& out) {
    for (const char c : port) {
        if (!IsDigit(c)) {
            out += ':';
            out += port;
            return;
        }
    }
    while (port.size() > 1 && port.front() == '0') {
        port.remove_prefix(1);
    }
    if (port.empty() || port == "80" || port == "443") {
        return;
    }
    out += ':';
    out += port;
}

void AppendAuthority(std::string_view authority, std::string& out) {
    if (authority.find('@') != std::string_view::npos) {
        out += authority;  // user information: not an authority a Host value carries
        return;
    }
    size_t hostEnd = authority.size();
    if (authority.starts_with('[')) {
        const size_t close = authority.find(']');
        hostEnd = close == std::string_view::npos ? authority.size() : close + 1;
    } else if (authority.find(':') != authority.rfind(':')) {
        out += authority;  // several colons and no brackets: not a host and port
        return;
    } else {
        hostEnd = std::min(authority.find(':'), authority.size());
    }
    std::string_view rest = authority.substr(hostEnd);
    if (!rest.empty() && rest.front() != ':') {
        out += authority;  // something after "]" that is not a port
        return;
    }
    AppendHost(authority.substr(0, hostEnd), out);
    if (!rest.empty()) {
        AppendPort(rest.substr(1), out);
    }
}

// Appends the absolute path (it starts with "/", escapes already normalised) with its "." and
// ".." segments resolved; a ".." at the root stays at the root.
void AppendResolvedPath(std::string_view path, std::string& out) {
    const size_t root = out.size();
    size_t start = 1;  // past the leading "/"
    while (true) {
        const size_t slash = path.find('/', start);
        const bool last = slash == std::string_view::npos;
        const std::string_view segment = path.substr(start, last ? path.npos : slash - start);
        if (segment == "." || segment == "..") {
            if (segment == ".." && out.size() > root) {
                out.resize(out.rfind('/'));
            }
            if (last) {
                out += '/';
            }
        } else {
            out += '/';
            out += segment;
        }
        if (last) {
            break;
        }
        start = slash + 1;
    }
}

void AppendPath(std::string_view path, std::string& out) {
    thread_local std::string decoded;
    decoded.clear();
    AppendEscapesNormalised(path, decoded);
    AppendResolvedPath(decoded, out);
}

// Where the host and port end: at the first "/" or "?", or at the end.
size_t AuthorityEnd(std::string_view address) {
    size_t end = 0;
    while (end < address.size() && address[end] != '/' && address[end] != '?') {
        ++end;
    }
    return end;
}

std::string_view WithoutScheme(std::string_view address, bool& hadScheme) {
    for (const std::string_view scheme : {"http://", "https://"}) {
        if (ascii::StartsWithNoCase(address, scheme)) {
            hadScheme = true;
            return address.substr(scheme.size());
        }
    }
    hadScheme = false;
    return address;
}

// The quick test below: each part of the address is checked as written, and anything that a rule
// might change (or that the test does not look into) answers false.

// The host as written (no capitals, brackets or user information: the caller has seen to that).
bool HostIsCanonical(std::string_view host) {
    if (host.size() > 1 && host.back() == '.') {
        return false;
    }
    if (host.empty() || !IsDigit(host.front())) {
        return true;
    }
    const auto address = NumericIpv4(host);
    if (!address) {
        return true;  // a name that starts with a digit
    }
    char text[16];
    return host == std::string_view(text, FormatDottedDecimal(*address, text));
}

bool PortIsCanonical(std::string_view port) {
    for (const char c : port) {
        if (!IsDigit(c)) {
            return true;  // kept as written
        }
    }
    return !port.empty() && (port.front() != '0' || port == "0") && port != "80" && port != "443";
}

// The escape at text[at] ("%" then two hex digits, or not an escape at all) as written.
bool EscapeIsCanonical(std::string_view text, size_t at) {
    if (at + 2 >= text.size() || HexValue(text[at + 1]) < 0 || HexValue(text[at + 2]) < 0) {
        return true;  // not an escape: kept
    }
    const char high = text[at + 1];
    const char low = text[at + 2];
    return !(high >= 'a' && high <= 'f') && !(low >= 'a' && low <= 'f') &&
           !IsUnreserved(static_cast<unsigned char>(HexValue(high) * 16 + HexValue(low)));
}

// True only when the address is its own canonical form. Most addresses are, and this settles it
// in one pass over them instead of building the form.
bool IsCanonicalAlready(std::string_view address) {
    if (!address.empty() && ascii::Lower(address.front()) == 'h') {
        bool hadScheme = false;
        WithoutScheme(address, hadScheme);
        if (hadScheme) {
            return false;
        }
    }
    size_t at = 0;
    size_t colon = std::string_view::npos;
    for (; at < address.size() && address[at] != '/' && address[at] != '?'; ++at) {
        const char c = address[at];
        if (c == ':') {
            if (colon != std::string_view::npos) {
                return false;
            }
            colon = at;
        } else if ((c >= 'A' && c <= 'Z') || c == '[' || c == '@' || c == '#') {
            return false;
        }
    }
    const std::string_view authority = address.substr(0, at);
    if (colon != std::string_view::npos && !PortIsCanonical(authority.substr(colon + 1))) {
        return false;
    }
    if (!HostIsCanonical(authority.substr(0, colon))) {
        return false;
    }
    // The rest is searched for the few bytes that matter, a word at a time (memchr), rather than
    // byte by byte: this runs for every request.
    const std::string_view target = address.substr(at);
    if (target.find('#') != std::string_view::npos) {
        return false;
    }
    const std::string_view path = target.substr(0, target.find('?'));
    for (size_t dot = path.find('.'); dot != std::string_view::npos;
         dot = path.find('.', dot + 1)) {
        if (path[dot - 1] == '/') {
            return false;  // perhaps a dot segment
        }
    }
    for (size_t percent = target.find('%'); percent != std::string_view::npos;
         percent = target.find('%', percent + 1)) {
        if (!EscapeIsCanonical(target, percent)) {
            return false;
        }
    }
    return true;
}

}  // namespace

void WriteCanonicalAddress(std::string_view address, std::string& out) {
    if (IsCanonicalAlready(address)) {
        out.assign(address);
        return;
    }
    out.clear();
    address = address.substr(0, address.find('#'));
    bool hadScheme = false;
    address = WithoutScheme(address, hadScheme);
    const size_t authorityEnd = AuthorityEnd(address);
    const std::string_view authority = address.substr(0, authorityEnd);
    const std::string_view target = address.substr(authorityEnd);
    if (!hadScheme && authority.ends_with(':') && target.starts_with("//")) {
        out.assign(address);  // another scheme ("ftp://"): not an address the engine rebuilds
        return;
    }
    AppendAuthority(authority, out);
    const size_t queryStart = std::min(target.find('?'), target.size());
    const std::string_view path = target.substr(0, queryStart);
    if (!path.empty()) {
        AppendPath(path, out);
    } else if (hadScheme) {
        out += '/';  // "http://host" asks for the root
    }
    AppendEscapesNormalised(target.substr(queryStart), out);
}

std::string CanonicalAddress(std::string_view address) {
    std::string out;
    WriteCanonicalAddress(address, out);
    return out;
}

std::string CanonicalEscapes(std::string_view text) {
    std::string out;
    AppendEscapesNormalised(text, out);
    return out;
}

}  // namespace gx
