#include <gtest/gtest.h>

#include <cerrno>

#include "http/IcsUrl.h"
#include "http/WSocket.h"

namespace gx {
namespace {

struct SplitCase {
    const char* address;
    const char* basePath;
    UrlParts expected;  // scheme, user, password, host, port, path
};

TEST(SplitUrl, CutsAddressesIntoTheirSixParts) {
    const SplitCase cases[] = {
        {"", "/a/b", {}},
        {"http://host.example:8080/p?q=1", "", {"http", "", "", "host.example", "8080", "/p?q=1"}},
        {"http://host.example", "", {"http", "", "", "host.example", "", ""}},
        {"HTTP://Host.Example/", "", {"http", "", "", "Host.Example", "", "/"}},
        {"http://user:pw@host.example:81/x",
         "",
         {"http", "user", "pw", "host.example", "81", "/x"}},
        {"http://user:pa:ss@host.example/x",
         "",
         {"http", "user", "pa:ss", "host.example", "", "/x"}},
        {"http://user@host.example/", "", {"http", "user", "", "host.example", "", "/"}},
        {"http://host.example?x=1/2", "", {"http", "", "", "host.example", "", "?x=1/2"}},
        {"ftp+x.y-Z://h/", "", {"ftp+x.y-z", "", "", "h", "", "/"}},
        {"https://secure.example/p", "", {"https", "", "", "secure.example", "", "/p"}},
        {"host.example?x", "", {"", "", "", "host.example", "", "?x"}},
        {"host.example", "", {"", "", "", "host.example", "", ""}},
        {"/only/path?q", "/a/b", {"http", "", "", "", "", "/only/path?q"}},
        {"http:relative", "", {"http", "", "", "", "", "relative"}},
        {"http:x/y", "", {"http", "", "", "", "", ""}},
        {"mailto:someone@host.example", "", {"mailto", "someone", "", "host.example", "", ""}},
        {"MAILTO:a@b", "", {"mailto", "a", "", "b", "", ""}},
        // A scheme with a character outside letters, digits, "+", "-" and ".".
        {"ht_tp://host/p", "", {"http", "", "", "ht_tp", "", "//host/p"}},
        {"./x", "/a/b", {"", "", "", "", "", "/a/x"}},
        {"./x?q", "noslash", {"", "", "", "", "", "/x?q"}},
        {"../x", "/a/b/c", {"", "", "", "", "", "/a/x"}},
        {"../../x", "/a/b/c", {"", "", "", "", "", "/x"}},
        {"../../../x", "/a/b", {"", "", "", "", "", "/x"}},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(std::string(c.address) + " on base " + c.basePath);
        const UrlParts parts = SplitUrl(c.address, c.basePath);
        EXPECT_EQ(parts.scheme, c.expected.scheme);
        EXPECT_EQ(parts.user, c.expected.user);
        EXPECT_EQ(parts.password, c.expected.password);
        EXPECT_EQ(parts.host, c.expected.host);
        EXPECT_EQ(parts.port, c.expected.port);
        EXPECT_EQ(parts.path, c.expected.path);
    }
}

TEST(SocketErrorText, GivesTheTextOfEachCodeAndTheNumberAfterIt) {
    const struct {
        std::uint16_t code;
        const char* message;
    } cases[] = {
        {0, "No Error (Error #0)"},
        {10004, "Interrupted system call (Error #10004)"},
        {10054, "Connection reset by peer (Error #10054)"},
        {10060, "Connection timed out (Error #10060)"},
        {10061, "Connection refused (Error #10061)"},
        {10093, "WinSock not initialized (Error #10093)"},
        {11001, "Host not found (Error #11001)"},
        {11004, "No Data (Error #11004)"},
        {10000, "Not a WinSock error (Error #10000)"},
        {65535, "Not a WinSock error (Error #65535)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(SocketErrorMessage(c.code), c.message);
    }
    EXPECT_EQ(SocketErrorText(10061), "Connection refused");
}

TEST(SocketErrorText, LinuxErrorsTakeTheirWindowsSocketsNumbers) {
    const struct {
        int errnoValue;
        std::uint16_t code;
    } cases[] = {
        {ECONNREFUSED, 10061}, {ETIMEDOUT, 10060},    {EHOSTUNREACH, 10065}, {ENETUNREACH, 10051},
        {ECONNRESET, 10054},   {ECONNABORTED, 10053}, {EADDRINUSE, 10048},   {EADDRNOTAVAIL, 10049},
        {EMFILE, 10024},       {EAGAIN, 10035},       {EINPROGRESS, 10036},  {0, 65535},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.errnoValue);
        EXPECT_EQ(WinsockErrorOfErrno(c.errnoValue), c.code);
    }
}

TEST(IsDottedIPv4, AcceptsExactlyFourNumbersUpTo255) {
    const struct {
        const char* host;
        bool dotted;
    } cases[] = {
        {"10.0.0.1", true},    {"  10.0.0.1 ", true}, {"255.255.255.255", true},
        {"0.0.0.0", true},     {"10.0.0.256", false}, {"1.2.3", false},
        {"1.2.3.4.5", false},  {"1..2.3", false},     {"1.2.3.4.", false},
        {"a.b.c.d", false},    {"", false},           {"1.2.3.4 x", false},
        {"1234.1.1.1", false}, {"1.2. 3.4", false},   {"host.example", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        EXPECT_EQ(IsDottedIPv4(c.host), c.dotted);
    }
}

}  // namespace
}  // namespace gx
