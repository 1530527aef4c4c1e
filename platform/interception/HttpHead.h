// Parsing and checking of HTTP/1.x message heads as they cross the proxy.
//
// A URL filter that can be talked past protects nobody, so request heads are parsed strictly:
// everything that two HTTP parsers could read differently (request smuggling, hidden header
// lines) is refused instead of being passed on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace gx::interception {

// How the end of a message body is found.
enum class BodyKind { None, Length, Chunked, UntilClose };

struct BodyFraming {
    BodyKind kind = BodyKind::None;
    uint64_t length = 0;  // for BodyKind::Length
};

struct RequestHead {
    std::string method;
    std::string target;  // as forwarded: origin form ("/path?query") unless CONNECT
    std::string line;    // forwarded request line, without CR LF
    std::string fields;  // forwarded header block: "Name: value\r\n" lines and the empty line
    bool absoluteForm = false;  // the client named the origin in the request target
    bool isConnect = false;
    std::string host;  // origin host: from the absolute target or CONNECT, else from Host
    uint16_t port = 80;
    bool portNamed = false;   // the target or Host gave the port (else it is the default)
    bool closeAfter = false;  // the client does not keep the connection open after the response
    bool upgrade = false;     // asks for a protocol switch (WebSocket); h2c is removed beforehand
    BodyFraming body;
};

struct ResponseHead {
    int status = 0;
    BodyFraming body;
    bool closeAfter = false;
};

// The end of a head that starts at data[0]: the offset just past its empty line, or npos while
// incomplete. A head whose lines end in a bare LF is found too, so that it can be refused.
// The search restarts at `from` (bytes before it were searched already), so a head that arrives
// byte by byte costs linear time.
size_t FindHeadEnd(std::string_view data, size_t from = 0);

// Parses a request head (request line to empty line inclusive) and builds its forwarded form:
// an absolute-form target is rewritten to origin form with a Host field naming the origin,
// Proxy-Connection and Proxy-Authorization are dropped and an h2c upgrade is removed.
// Returns 0 when the request may go on, else the HTTP status to refuse it with.
int ParseRequestHead(std::string_view head, RequestHead& out);

// Parses a response head. requestMethod decides the bodiless HEAD case. 0 = fine, else 502.
int ParseResponseHead(std::string_view head, std::string_view requestMethod, ResponseHead& out);

// "host" or "host:port" as a Host field names a server (the port left out when it is the
// default one); IPv6 addresses in brackets.
std::string AuthorityFor(const std::string& host, uint16_t port, uint16_t defaultPort);

// Splits "host:port" or "[v6]:port" (port optional, default given). False when malformed.
bool SplitAuthority(std::string_view authority, std::string& host, uint16_t& port,
                    uint16_t defaultPort);

// The proxy's answer when an HTTPS site's certificate does not verify (status 502): a French
// page naming the host and the reason (Windows-1252).
std::string CertificateErrorResponse(const std::string& host, const std::string& reason);

// A short complete response sent by the proxy itself when it refuses a request.
std::string ErrorResponse(int status);

}  // namespace gx::interception
