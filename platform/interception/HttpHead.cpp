#include "platform/interception/HttpHead.h"

#include <charconv>
#include <vector>

#include "platform/interception/HttpText.h"

namespace gx::interception {
namespace {

struct Field {
    std::string_view name;
    std::string_view value;
};

constexpr int kBadRequest = 400;

bool IsDigits(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

// A line ending is CR LF and nothing else; no NUL anywhere.
bool HasOnlyCrLfLineEnds(std::string_view head) {
    for (size_t i = 0; i < head.size(); ++i) {
        char c = head[i];
        if (c == '\0') {
            return false;
        }
        if (c == '\r' && (i + 1 >= head.size() || head[i + 1] != '\n')) {
            return false;
        }
        if (c == '\n' && (i == 0 || head[i - 1] != '\r')) {
            return false;
        }
    }
    return true;
}

bool IsFieldValueChar(unsigned char c) {
    return c == '\t' || (c >= 0x20 && c != 0x7F);
}

// Splits the header lines of a request strictly; 0 or the refusal status.
int SplitRequestFields(std::string_view block, std::vector<Field>& fields) {
    while (!block.empty()) {
        size_t eol = block.find("\r\n");
        std::string_view line = block.substr(0, eol);
        block = eol == std::string_view::npos ? std::string_view() : block.substr(eol + 2);
        if (line.empty()) {
            break;
        }
        if (line.front() == ' ' || line.front() == '\t') {
            return kBadRequest;  // obs-fold: a hidden continuation of the previous field
        }
        size_t colon = line.find(':');
        if (colon == std::string_view::npos || !IsToken(line.substr(0, colon))) {
            return kBadRequest;
        }
        std::string_view value = ascii::Trim(line.substr(colon + 1));
        for (char c : value) {
            if (!IsFieldValueChar(static_cast<unsigned char>(c))) {
                return kBadRequest;
            }
        }
        fields.push_back({line.substr(0, colon), value});
    }
    return 0;
}

// Content-Length: every value of every field the same number, else the message is ambiguous.
int ReadContentLength(const std::vector<Field>& fields, bool& present, uint64_t& length) {
    present = false;
    bool bad = false;
    for (const Field& field : fields) {
        if (!EqualsNoCase(field.name, "content-length")) {
            continue;
        }
        if (field.value.empty()) {
            bad = true;
        }
        ForEachListItem(field.value, [&](std::string_view item) {
            uint64_t value = 0;
            if (!IsDigits(item) || item.size() > 18) {
                bad = true;
                return;
            }
            std::from_chars(item.data(), item.data() + item.size(), value);
            if (present && value != length) {
                bad = true;
            }
            present = true;
            length = value;
        });
    }
    return bad ? kBadRequest : 0;
}

bool IsKnownCoding(std::string_view coding) {
    for (std::string_view known :
         {"chunked", "gzip", "x-gzip", "deflate", "compress", "x-compress"}) {
        if (EqualsNoCase(coding, known)) {
            return true;
        }
    }
    return false;
}

// Transfer-Encoding of a request: known codings only, chunked exactly once and last.
int ReadRequestCodings(const std::vector<Field>& fields, bool& present) {
    present = false;
    int chunkedCount = 0;
    bool bad = false;
    bool lastIsChunked = false;
    for (const Field& field : fields) {
        if (!EqualsNoCase(field.name, "transfer-encoding")) {
            continue;
        }
        present = true;
        ForEachListItem(field.value, [&](std::string_view item) {
            // A coding may carry parameters ("gzip;q=1" is not valid here, but be exact).
            if (!IsKnownCoding(item)) {
                bad = true;
            }
            lastIsChunked = EqualsNoCase(item, "chunked");
            chunkedCount += lastIsChunked ? 1 : 0;
        });
    }
    if (present && (bad || chunkedCount != 1 || !lastIsChunked)) {
        return kBadRequest;
    }
    return 0;
}

bool IsHostChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~' || c == '%';
}

bool IsValidHost(std::string_view host, bool bracketed) {
    if (host.empty() || host.size() > 255) {
        return false;
    }
    for (char c : host) {
        bool ok = bracketed ? ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') ||
                               (c >= 'A' && c <= 'F') || c == ':' || c == '.')
                            : IsHostChar(c);
        if (!ok) {
            return false;
        }
    }
    return true;
}

// The list without the items equal to one of the tokens (letter case ignored).
std::string WithoutTokens(std::string_view list, std::initializer_list<std::string_view> tokens) {
    std::string kept;
    ForEachListItem(list, [&](std::string_view item) {
        for (std::string_view token : tokens) {
            if (EqualsNoCase(item, token)) {
                return;
            }
        }
        if (!kept.empty()) {
            kept += ", ";
        }
        kept += item;
    });
    return kept;
}

void AppendField(std::string& block, std::string_view name, std::string_view value) {
    block += name;
    block += ": ";
    block += value;
    block += "\r\n";
}

// Reads the request target into out; 0 or the refusal status.
int ReadTarget(std::string_view target, RequestHead& out) {
    if (out.isConnect) {
        if (!SplitAuthority(target, out.host, out.port, 0) || out.port == 0) {
            return kBadRequest;
        }
        out.target.assign(target);
        return 0;
    }
    if (target.front() == '/' || (target == "*" && out.method == "OPTIONS")) {
        out.target.assign(target);
        return 0;
    }
    if (!StartsWithNoCase(target, "http://")) {
        return kBadRequest;  // another scheme, or no target form this proxy can forward
    }
    std::string_view rest = target.substr(7);
    size_t end = rest.find_first_of("/?#");
    std::string_view authority = rest.substr(0, end);
    std::string_view path = end == std::string_view::npos ? std::string_view() : rest.substr(end);
    if (authority.find('@') != std::string_view::npos) {
        return kBadRequest;  // user information: "http://good.example@bad.example/" misleads
    }
    uint16_t named = 0;
    if (!SplitAuthority(authority, out.host, named, 0)) {
        return kBadRequest;
    }
    out.portNamed = named != 0;
    out.port = out.portNamed ? named : 80;
    size_t fragment = path.find('#');
    path = path.substr(0, fragment);
    out.target = path.empty() || path.front() != '/' ? "/" + std::string(path) : std::string(path);
    out.absoluteForm = true;
    return 0;
}

}  // namespace

size_t FindHeadEnd(std::string_view data, size_t from) {
    for (size_t i = from; i < data.size(); ++i) {
        if (data[i] != '\n') {
            continue;
        }
        if (i + 1 < data.size() && data[i + 1] == '\n') {
            return i + 2;
        }
        if (i + 2 < data.size() && data[i + 1] == '\r' && data[i + 2] == '\n') {
            return i + 3;
        }
    }
    return std::string_view::npos;
}

std::string AuthorityFor(const std::string& host, uint16_t port, uint16_t defaultPort) {
    std::string authority = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    return port == defaultPort ? authority : authority + ":" + std::to_string(port);
}

bool SplitAuthority(std::string_view authority, std::string& host, uint16_t& port,
                    uint16_t defaultPort) {
    std::string_view hostPart;
    std::string_view portPart;
    bool bracketed = false;
    if (!authority.empty() && authority.front() == '[') {
        size_t close = authority.find(']');
        if (close == std::string_view::npos) {
            return false;
        }
        hostPart = authority.substr(1, close - 1);
        std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') {
                return false;
            }
            portPart = after.substr(1);
        }
        bracketed = true;
    } else {
        size_t colon = authority.find(':');
        hostPart = authority.substr(0, colon);
        if (colon != std::string_view::npos) {
            portPart = authority.substr(colon + 1);
        }
    }
    if (!IsValidHost(hostPart, bracketed)) {
        return false;
    }
    port = defaultPort;
    if (!portPart.empty()) {
        unsigned value = 0;
        if (!IsDigits(portPart) || portPart.size() > 5) {
            return false;
        }
        std::from_chars(portPart.data(), portPart.data() + portPart.size(), value);
        if (value == 0 || value > 65535) {
            return false;
        }
        port = static_cast<uint16_t>(value);
    }
    host.assign(hostPart);
    return true;
}

int ParseRequestHead(std::string_view head, RequestHead& out) {
    if (!HasOnlyCrLfLineEnds(head)) {
        return kBadRequest;
    }
    size_t lineEnd = head.find("\r\n");
    std::string_view requestLine = head.substr(0, lineEnd);
    size_t firstSpace = requestLine.find(' ');
    size_t secondSpace = requestLine.find(' ', firstSpace + 1);
    if (firstSpace == std::string_view::npos || secondSpace == std::string_view::npos ||
        requestLine.find(' ', secondSpace + 1) != std::string_view::npos) {
        return kBadRequest;
    }
    std::string_view method = requestLine.substr(0, firstSpace);
    std::string_view target = requestLine.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    std::string_view version = requestLine.substr(secondSpace + 1);
    if (!IsToken(method) || target.empty()) {
        return kBadRequest;
    }
    for (char c : target) {
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) {
            return kBadRequest;
        }
    }
    bool http10 = version == "HTTP/1.0";
    if (!http10 && version != "HTTP/1.1") {
        bool wellFormed = version.size() == 8 && version.substr(0, 5) == "HTTP/" &&
                          IsDigits(version.substr(5, 1)) && version[6] == '.' &&
                          IsDigits(version.substr(7, 1));
        return wellFormed ? 505 : kBadRequest;
    }

    std::vector<Field> fields;
    if (int status = SplitRequestFields(head.substr(lineEnd + 2), fields)) {
        return status;
    }
    out.method.assign(method);
    out.isConnect = method == "CONNECT";
    if (int status = ReadTarget(target, out)) {
        return status;
    }

    bool hasLength = false;
    bool hasCodings = false;
    uint64_t length = 0;
    if (ReadContentLength(fields, hasLength, length) || ReadRequestCodings(fields, hasCodings) ||
        (hasLength && hasCodings) || (hasCodings && http10)) {
        return kBadRequest;
    }
    if (hasCodings) {
        out.body.kind = BodyKind::Chunked;
    } else if (hasLength && length > 0) {
        out.body = {BodyKind::Length, length};
    }

    int hostCount = 0;
    std::string_view hostValue;
    bool removeH2c = false;
    for (const Field& field : fields) {
        if (EqualsNoCase(field.name, "host")) {
            ++hostCount;
            hostValue = field.value;
        } else if (EqualsNoCase(field.name, "connection")) {
            out.closeAfter = out.closeAfter || HasToken(field.value, "close");
            if (http10 && !HasToken(field.value, "keep-alive")) {
                out.closeAfter = true;
            }
        } else if (EqualsNoCase(field.name, "upgrade")) {
            removeH2c = removeH2c || HasToken(field.value, "h2c");
            out.upgrade = out.upgrade || !WithoutTokens(field.value, {"h2c"}).empty();
        }
    }
    if (http10 && !out.closeAfter) {
        bool keepAlive = false;
        for (const Field& field : fields) {
            keepAlive = keepAlive || (EqualsNoCase(field.name, "connection") &&
                                      HasToken(field.value, "keep-alive"));
        }
        out.closeAfter = !keepAlive;
    }
    if (hostCount > 1 || (hostCount == 0 && !http10 && !out.absoluteForm && !out.isConnect)) {
        return kBadRequest;
    }
    if (!out.absoluteForm && !out.isConnect && hostCount == 1) {
        uint16_t named = 0;
        if (!SplitAuthority(hostValue, out.host, named, 0)) {
            return kBadRequest;
        }
        out.portNamed = named != 0;
        out.port = out.portNamed ? named : 80;
    }
    if (out.isConnect) {
        out.line.assign(requestLine);
        out.fields.clear();
        return 0;
    }

    std::string authority;
    if (out.absoluteForm) {
        std::string_view rest = target.substr(7);
        authority.assign(rest.substr(0, rest.find_first_of("/?#")));
    }
    out.line = std::string(method) + " " + out.target + " " + std::string(version);
    out.fields.clear();
    bool hostWritten = false;
    if (out.absoluteForm && hostCount == 0) {
        AppendField(out.fields, "Host", authority);
        hostWritten = true;
    }
    for (const Field& field : fields) {
        if (EqualsNoCase(field.name, "proxy-connection") ||
            EqualsNoCase(field.name, "proxy-authorization")) {
            continue;
        }
        if (EqualsNoCase(field.name, "host") && out.absoluteForm) {
            if (!hostWritten) {
                AppendField(out.fields, field.name, authority);
                hostWritten = true;
            }
            continue;
        }
        if (removeH2c && EqualsNoCase(field.name, "http2-settings")) {
            continue;
        }
        if (removeH2c && EqualsNoCase(field.name, "upgrade")) {
            std::string kept = WithoutTokens(field.value, {"h2c"});
            if (!kept.empty()) {
                AppendField(out.fields, field.name, kept);
            }
            continue;
        }
        if (removeH2c && EqualsNoCase(field.name, "connection")) {
            std::string kept = out.upgrade
                                   ? WithoutTokens(field.value, {"http2-settings"})
                                   : WithoutTokens(field.value, {"http2-settings", "upgrade"});
            if (!kept.empty()) {
                AppendField(out.fields, field.name, kept);
            }
            continue;
        }
        AppendField(out.fields, field.name, field.value);
    }
    out.fields += "\r\n";
    return 0;
}

int ParseResponseHead(std::string_view head, std::string_view requestMethod, ResponseHead& out) {
    constexpr int kBadGateway = 502;
    if (head.find('\0') != std::string_view::npos) {
        return kBadGateway;
    }
    size_t lineEnd = head.find('\n');
    std::string_view statusLine = head.substr(0, lineEnd);
    if (!statusLine.empty() && statusLine.back() == '\r') {
        statusLine.remove_suffix(1);
    }
    if (statusLine.size() < 12 || statusLine.substr(0, 7) != "HTTP/1." ||
        (statusLine[7] != '0' && statusLine[7] != '1') || statusLine[8] != ' ' ||
        !IsDigits(statusLine.substr(9, 3)) || (statusLine.size() > 12 && statusLine[12] != ' ')) {
        return kBadGateway;
    }
    bool http10 = statusLine[7] == '0';
    std::from_chars(statusLine.data() + 9, statusLine.data() + 12, out.status);

    std::vector<Field> fields;
    std::string_view block = head.substr(lineEnd + 1);
    while (!block.empty()) {
        size_t eol = block.find('\n');
        std::string_view line = block.substr(0, eol);
        block = eol == std::string_view::npos ? std::string_view() : block.substr(eol + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty()) {
            break;
        }
        size_t colon = line.find(':');
        if (colon == std::string_view::npos) {
            continue;  // a server's junk line: the client ignores it as well
        }
        fields.push_back({ascii::Trim(line.substr(0, colon)), ascii::Trim(line.substr(colon + 1))});
    }

    bool keepAlive = false;
    for (const Field& field : fields) {
        if (EqualsNoCase(field.name, "connection")) {
            out.closeAfter = out.closeAfter || HasToken(field.value, "close");
            keepAlive = keepAlive || HasToken(field.value, "keep-alive");
        }
    }
    if (http10 && !keepAlive) {
        out.closeAfter = true;
    }

    bool bodiless = requestMethod == "HEAD" || (out.status >= 100 && out.status < 200) ||
                    out.status == 204 || out.status == 304;
    if (bodiless) {
        out.body.kind = BodyKind::None;
        return 0;
    }
    bool hasCodings = false;
    bool lastIsChunked = false;
    for (const Field& field : fields) {
        if (EqualsNoCase(field.name, "transfer-encoding")) {
            hasCodings = true;
            ForEachListItem(field.value, [&](std::string_view item) {
                lastIsChunked = EqualsNoCase(item, "chunked");
            });
        }
    }
    if (hasCodings) {
        out.body.kind = lastIsChunked ? BodyKind::Chunked : BodyKind::UntilClose;
        if (!lastIsChunked) {
            out.closeAfter = true;
        }
        return 0;
    }
    bool hasLength = false;
    uint64_t length = 0;
    if (ReadContentLength(fields, hasLength, length)) {
        return kBadGateway;
    }
    if (hasLength) {
        out.body = {length > 0 ? BodyKind::Length : BodyKind::None, length};
    } else {
        out.body.kind = BodyKind::UntilClose;
        out.closeAfter = true;
    }
    return 0;
}

}  // namespace gx::interception
