// The library's parsers, from byte strings alone: request heads, the end of a head, message
// bodies, the first bytes of a connection and the rule matcher. Where bytes can arrive in
// pieces, each case is also fed one byte at a time, as a slow client would send it.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/interception/BodyScanner.h"
#include "platform/interception/FirstBytes.h"
#include "platform/interception/HttpHead.h"
#include "platform/interception/Rules.h"

namespace gx::interception {
namespace {

// The end of the head found the way a session finds it: the bytes arrive one at a time and each
// search starts where the previous one left off.
size_t FindHeadEndByteByByte(std::string_view data) {
    size_t scanFrom = 0;
    for (size_t size = 1; size <= data.size(); ++size) {
        size_t end = FindHeadEnd(data.substr(0, size), scanFrom);
        if (end != std::string_view::npos) {
            return end;
        }
        scanFrom = size >= 3 ? size - 3 : 0;
    }
    return std::string_view::npos;
}

struct RequestCase {
    const char* name;
    std::string head;
    int status;  // 0 = accepted
    // What an accepted head turns into (checked when status is 0).
    std::string host = {};
    uint16_t port = 80;
    std::string line = {};
    std::string fields = {};  // empty: not checked
    bool absoluteForm = false;
    bool closeAfter = false;
    bool upgrade = false;
    BodyKind body = BodyKind::None;
};

TEST(RequestHeadParser, AcceptsWhatServersAgreeOnAndRefusesTheRest) {
    const std::vector<RequestCase> cases = {
        {"absolute form rewritten to origin form",
         "GET http://Example.com/a?b HTTP/1.1\r\nUser-Agent: x\r\n\r\n", 0, "Example.com", 80,
         "GET /a?b HTTP/1.1", "Host: Example.com\r\nUser-Agent: x\r\n\r\n", true},
        {"absolute form without a path", "GET http://a.example HTTP/1.1\r\n\r\n", 0, "a.example",
         80, "GET / HTTP/1.1", "Host: a.example\r\n\r\n", true},
        {"absolute form replaces a Host that names another server",
         "GET http://a.example/ HTTP/1.1\r\nHost: b.example\r\n\r\n", 0, "a.example", 80,
         "GET / HTTP/1.1", "Host: a.example\r\n\r\n", true},
        {"bracketed IPv6 with a port", "GET http://[::1]:8080/p HTTP/1.1\r\n\r\n", 0, "::1", 8080,
         "GET /p HTTP/1.1", "Host: [::1]:8080\r\n\r\n", true},
        {"origin form names its server in Host", "GET /x HTTP/1.1\r\nHost: h.example:8080\r\n\r\n",
         0, "h.example", 8080, "GET /x HTTP/1.1", "Host: h.example:8080\r\n\r\n"},
        {"CONNECT", "CONNECT h.example:443 HTTP/1.1\r\nHost: h.example:443\r\n\r\n", 0, "h.example",
         443, "CONNECT h.example:443 HTTP/1.1"},
        {"HTTP/1.0 without Host closes after", "GET /x HTTP/1.0\r\n\r\n", 0, "", 80,
         "GET /x HTTP/1.0", "", false, true},
        {"HTTP/1.0 keep-alive", "GET /x HTTP/1.0\r\nHost: a\r\nConnection: keep-alive\r\n\r\n", 0,
         "a", 80, "GET /x HTTP/1.0", "", false, false},
        {"Connection: close", "GET /x HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n", 0, "a", 80,
         "GET /x HTTP/1.1", "", false, true},
        {"proxy fields are not forwarded",
         "GET http://a/ HTTP/1.1\r\nProxy-Connection: keep-alive\r\nProxy-Authorization: Basic "
         "eA==\r\n\r\n",
         0, "a", 80, "GET / HTTP/1.1", "Host: a\r\n\r\n", true},
        {"an h2c upgrade is removed",
         "GET /x HTTP/1.1\r\nHost: a\r\nConnection: Upgrade, HTTP2-Settings\r\nUpgrade: h2c\r\n"
         "HTTP2-Settings: AAMAAABkAAQAAP__\r\n\r\n",
         0, "a", 80, "GET /x HTTP/1.1", "Host: a\r\n\r\n"},
        {"a WebSocket upgrade is kept",
         "GET /c HTTP/1.1\r\nHost: a\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n\r\n", 0, "a",
         80, "GET /c HTTP/1.1", "Host: a\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n\r\n",
         false, false, true},
        {"a body of fixed length", "POST /x HTTP/1.1\r\nHost: a\r\nContent-Length: 5\r\n\r\n", 0,
         "a", 80, "POST /x HTTP/1.1", "", false, false, false, BodyKind::Length},
        {"a chunked body", "POST /x HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\n\r\n", 0,
         "a", 80, "POST /x HTTP/1.1", "", false, false, false, BodyKind::Chunked},

        {"no Host in HTTP/1.1", "GET /x HTTP/1.1\r\n\r\n", 400},
        {"two Host fields", "GET /x HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n", 400},
        {"a blank before the colon", "GET /x HTTP/1.1\r\nHost : a\r\n\r\n", 400},
        {"bare LF line ends", "GET /x HTTP/1.1\nHost: a\n\n", 400},
        {"two spaces in the request line", "GET  /x HTTP/1.1\r\nHost: a\r\n\r\n", 400},
        {"no version", "GET /x\r\nHost: a\r\n\r\n", 400},
        {"an unknown version", "GET /x HTTP/2.0\r\nHost: a\r\n\r\n", 505},
        {"a version that is not one", "GET /x HTTTP/1.1\r\nHost: a\r\n\r\n", 400},
        {"length and chunked together (smuggling)",
         "POST /x HTTP/1.1\r\nHost: a\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n",
         400},
        {"a length that is not a number",
         "POST /x HTTP/1.1\r\nHost: a\r\nContent-Length: 1x\r\n\r\n", 400},
        {"chunked in HTTP/1.0", "POST /x HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n", 400},
        {"user information in the address", "GET http://good.example@bad.example/ HTTP/1.1\r\n\r\n",
         400},
        {"another scheme", "GET ftp://a.example/ HTTP/1.1\r\n\r\n", 400},
        {"a target that names nothing", "GET x HTTP/1.1\r\nHost: a\r\n\r\n", 400},
        {"a control byte in the target", "GET /a\x01 HTTP/1.1\r\nHost: a\r\n\r\n", 400},
        {"CONNECT without a port", "CONNECT h.example HTTP/1.1\r\n\r\n", 400},
    };
    for (const RequestCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FindHeadEnd(c.head), c.head.size());
        EXPECT_EQ(FindHeadEndByteByByte(c.head), FindHeadEnd(c.head));
        RequestHead head;
        ASSERT_EQ(ParseRequestHead(c.head, head), c.status);
        if (c.status != 0) {
            continue;
        }
        EXPECT_EQ(head.host, c.host);
        EXPECT_EQ(head.port, c.port);
        EXPECT_EQ(head.line, c.line);
        if (!c.fields.empty()) {
            EXPECT_EQ(head.fields, c.fields);
        }
        EXPECT_EQ(head.absoluteForm, c.absoluteForm);
        EXPECT_EQ(head.closeAfter, c.closeAfter);
        EXPECT_EQ(head.upgrade, c.upgrade);
        EXPECT_EQ(head.body.kind, c.body);
    }
}

TEST(RequestHeadParser, TheEndOfAHeadIsFoundWhereverItsBytesAreCut) {
    const std::vector<std::pair<std::string, size_t>> cases = {
        {"GET / HTTP/1.1\r\nHost: a\r\n\r\nNEXT", 27},
        {"GET / HTTP/1.1\nHost: a\n\nNEXT", 24},  // found, so that it can be refused
        {"GET / HTTP/1.1\r\nHost: a\r\n", std::string::npos},
        {"GET / HTTP/1.1\r\nHost: a\r\n\r", std::string::npos},
        {"", std::string::npos},
    };
    for (const auto& [data, end] : cases) {
        SCOPED_TRACE(data);
        EXPECT_EQ(FindHeadEnd(data), end);
        EXPECT_EQ(FindHeadEndByteByByte(data), end);
    }
}

struct BodyCase {
    const char* name;
    BodyFraming framing;
    std::string input;
    size_t used;  // bytes of the input that belong to the body
    bool done;
    bool failed;
};

TEST(BodyScanner, FindsWhereEachBodyEndsFedWholeOrByteByByte) {
    const std::string chunked = "5\r\nhello\r\n0\r\n\r\n";
    const std::string withExtension = "3;name=value\r\nabc\r\n0\r\n\r\n";
    const std::string withTrailer = "1\r\na\r\n0\r\nX-Checksum: 1\r\n\r\n";
    const std::string hexSizes = "A\r\n0123456789\r\na\r\n0123456789\r\n0\r\n\r\n";
    const std::vector<BodyCase> cases = {
        {"fixed length, the next request behind it",
         {BodyKind::Length, 5},
         "helloGET",
         5,
         true,
         false},
        {"fixed length not yet complete", {BodyKind::Length, 5}, "hel", 3, false, false},
        {"no body", {BodyKind::None, 0}, "GET", 0, true, false},
        {"until the connection ends", {BodyKind::UntilClose, 0}, "abc", 3, false, false},
        {"chunked", {BodyKind::Chunked, 0}, chunked + "GET", chunked.size(), true, false},
        {"chunked with an extension",
         {BodyKind::Chunked, 0},
         withExtension,
         withExtension.size(),
         true,
         false},
        {"chunked with a trailer",
         {BodyKind::Chunked, 0},
         withTrailer,
         withTrailer.size(),
         true,
         false},
        {"hex sizes in either case",
         {BodyKind::Chunked, 0},
         hexSizes,
         hexSizes.size(),
         true,
         false},
        {"chunked not yet complete", {BodyKind::Chunked, 0}, "5\r\nhel", 6, false, false},
        {"a size that is not hex", {BodyKind::Chunked, 0}, "z\r\n", 0, false, true},
        {"data longer than its size", {BodyKind::Chunked, 0}, "1\r\nab\r\n", 0, false, true},
        {"a bare LF after the size", {BodyKind::Chunked, 0}, "1\na\r\n0\r\n\r\n", 0, false, true},
    };
    for (const BodyCase& c : cases) {
        SCOPED_TRACE(c.name);
        BodyScanner whole;
        whole.Start(c.framing);
        size_t used = whole.Consume(c.input.data(), c.input.size());
        EXPECT_EQ(whole.Done(), c.done);
        EXPECT_EQ(whole.Failed(), c.failed);
        if (!c.failed) {
            EXPECT_EQ(used, c.used);
        }

        BodyScanner pieces;
        pieces.Start(c.framing);
        size_t usedInPieces = 0;
        for (char byte : c.input) {
            if (pieces.Done() || pieces.Failed()) {
                break;
            }
            usedInPieces += pieces.Consume(&byte, 1);
        }
        EXPECT_EQ(pieces.Done(), c.done);
        EXPECT_EQ(pieces.Failed(), c.failed);
        if (!c.failed) {
            EXPECT_EQ(usedInPieces, c.used);
        }
    }
}

TEST(FirstBytes, HttpIsToldFromOtherProtocolsAndNoPrefixContradictsTheAnswer) {
    const std::vector<std::pair<std::string, std::optional<bool>>> cases = {
        {"GET / HTTP/1.1\r\n", true},
        {"\r\n\r\nGET / HTTP/1.1\r\n", true},  // empty lines first, as servers accept
        {"GET\t/ HTTP/1.1\r\n", true},         // another blank than a space
        {"OPTIONS * HTTP/1.1\r\n", true},
        {"CONNECT a.example:443 HTTP/1.1\r\n", true},
        {"GET http://a.example/ HTTP/1.1\r\n", true},
        {"GET HTTP://a.example/ HTTP/1.1\r\n", true},
        {"SSH-2.0-OpenSSH_9.2\r\n", false},
        {"EHLO mail.example\r\n", false},
        {std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11), false},  // TLS
        {"GET ftp://a.example/ HTTP/1.1\r\n", false},
        {std::string(30, 'A') + " / HTTP/1.1", false},  // no method is that long
        {"GET", std::nullopt},
        {"GET ", std::nullopt},
        {"\r\n", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [data, expected] : cases) {
        SCOPED_TRACE(data);
        EXPECT_EQ(LooksLikeHttp(data.data(), data.size()), expected);
        for (size_t size = 0; size < data.size(); ++size) {
            std::optional<bool> early = LooksLikeHttp(data.data(), size);
            EXPECT_TRUE(!early || early == expected) << "after " << size << " bytes";
        }
    }
}

NF_RULE RuleWith(auto fill) {
    NF_RULE rule{};
    fill(rule);
    return rule;
}

ConnectionFacts Ipv4Connection(const char* remote, bool remoteKnown) {
    ConnectionFacts facts;
    facts.processId = 42;
    facts.family = NF_AF_INET;
    inet_pton(AF_INET, "10.0.0.5", facts.localAddress);
    facts.localPort = 50000;
    facts.remoteKnown = remoteKnown;
    inet_pton(AF_INET, remote, facts.remoteAddress);
    facts.remotePort = 443;
    return facts;
}

TEST(RuleMatcher, EveryNonZeroFieldRestrictsTheRule) {
    auto loopback = RuleWith([](NF_RULE& r) {
        r.ip_family = NF_AF_INET;
        inet_pton(AF_INET, "127.0.0.1", r.remoteIpAddress);
        inet_pton(AF_INET, "255.0.0.0", r.remoteIpAddressMask);
    });
    struct Case {
        const char* name;
        NF_RULE rule;
        ConnectionFacts facts;
        bool matches;
    };
    const std::vector<Case> cases = {
        {"an empty rule matches everything", NF_RULE{}, Ipv4Connection("1.2.3.4", false), true},
        {"outbound TCP", RuleWith([](NF_RULE& r) {
             r.protocol = NF_IPPROTO_TCP;
             r.direction = NF_D_OUT;
         }),
         Ipv4Connection("1.2.3.4", false), true},
        {"another protocol", RuleWith([](NF_RULE& r) { r.protocol = 17; }),
         Ipv4Connection("1.2.3.4", false), false},
        {"inbound only", RuleWith([](NF_RULE& r) { r.direction = NF_D_IN; }),
         Ipv4Connection("1.2.3.4", false), false},
        {"its process", RuleWith([](NF_RULE& r) { r.processId = 42; }),
         Ipv4Connection("1.2.3.4", false), true},
        {"another process", RuleWith([](NF_RULE& r) { r.processId = 43; }),
         Ipv4Connection("1.2.3.4", false), false},
        {"another family", RuleWith([](NF_RULE& r) { r.ip_family = 10; }),
         Ipv4Connection("1.2.3.4", false), false},
        {"its local port", RuleWith([](NF_RULE& r) { r.localPort = htons(50000); }),
         Ipv4Connection("1.2.3.4", false), true},
        {"a remote port needs the remote end",
         RuleWith([](NF_RULE& r) { r.remotePort = htons(443); }), Ipv4Connection("1.2.3.4", false),
         false},
        {"a remote port that is known", RuleWith([](NF_RULE& r) { r.remotePort = htons(443); }),
         Ipv4Connection("1.2.3.4", true), true},
        {"loopback under its mask", loopback, Ipv4Connection("127.1.2.3", true), true},
        {"not loopback", loopback, Ipv4Connection("128.0.0.1", true), false},
        {"an address without a mask is the whole address",
         RuleWith([](NF_RULE& r) { inet_pton(AF_INET, "1.2.3.4", r.remoteIpAddress); }),
         Ipv4Connection("1.2.3.5", true), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RuleMatches(c.rule, c.facts), c.matches);
    }
}

TEST(RuleMatcher, TheFirstMatchingRuleFromTheHeadDecides) {
    RuleList rules;
    EXPECT_EQ(rules.Decide(Ipv4Connection("1.2.3.4", true)), std::nullopt);
    rules.Add(RuleWith([](NF_RULE& r) { r.filteringFlag = NF_FILTER; }), false);
    rules.Add(RuleWith([](NF_RULE& r) {
                  r.processId = 42;
                  r.filteringFlag = 0;
              }),
              true);
    EXPECT_EQ(rules.Decide(Ipv4Connection("1.2.3.4", true)), 0u);
    ConnectionFacts other = Ipv4Connection("1.2.3.4", true);
    other.processId = 7;
    EXPECT_EQ(rules.Decide(other), uint32_t{NF_FILTER});
}

}  // namespace
}  // namespace gx::interception
