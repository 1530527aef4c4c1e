// The canonical spelling of addresses: each rule, and next to it what the rule must leave alone.
#include <gtest/gtest.h>

#include <string>

#include "lists/CanonicalAddress.h"

namespace gx {
namespace {

struct SpellingCase {
    const char* what;
    std::string address;
    std::string canonical;
};

void ExpectCanonical(const SpellingCase& c) {
    SCOPED_TRACE(std::string(c.what) + ": " + c.address);
    EXPECT_EQ(CanonicalAddress(c.address), c.canonical);
    // The form is a fixed point: bringing it to canonical form again changes nothing.
    EXPECT_EQ(CanonicalAddress(c.canonical), c.canonical);
}

TEST(CanonicalAddressTest, HostIsLowerCasedAndLosesItsTrailingDots) {
    const SpellingCase cases[] = {
        {"capitals in the host", "BAD.Example/x", "bad.example/x"},
        {"only the host: the path keeps its capitals", "bad.example/Login/PAGE?Q=A",
         "bad.example/Login/PAGE?Q=A"},
        {"Windows-1252 capitals are not ASCII letters", "caf\xC9.example/", "caf\xC9.example/"},
        {"trailing dot", "bad.example./x", "bad.example/x"},
        {"trailing dot before a port", "bad.example.:8080/x", "bad.example:8080/x"},
        {"several trailing dots", "bad.example../x", "bad.example/x"},
        {"trailing dots before a query", "bad.example..?q", "bad.example?q"},
        {"a dot inside the host stays", "a.bad.example/x", "a.bad.example/x"},
        {"a dot at the end of the path stays", "bad.example/x.", "bad.example/x."},
        {"a host that is only a dot stays", "./x", "./x"},
        {"no host at all", "/path", "/path"},
        {"host alone, no target", "bad.example", "bad.example"},
    };
    for (const auto& c : cases) {
        ExpectCanonical(c);
    }
}

TEST(CanonicalAddressTest, DefaultPortsAreDropped) {
    const SpellingCase cases[] = {
        {"port 80", "bad.example:80/x", "bad.example/x"},
        {"port 443: the scheme is not known, the site is the same", "bad.example:443/x",
         "bad.example/x"},
        {"empty port", "bad.example:/x", "bad.example/x"},
        {"leading zeros", "bad.example:0080/x", "bad.example/x"},
        {"another port stays", "bad.example:8080/x", "bad.example:8080/x"},
        {"8443 is not 443", "bad.example:8443/x", "bad.example:8443/x"},
        {"a port's own leading zeros go", "bad.example:08080/x", "bad.example:8080/x"},
        {"port 0 stays", "bad.example:0/x", "bad.example:0/x"},
        {"a port that is not a number stays", "bad.example:8o/x", "bad.example:8o/x"},
        {"a colon in the path is no port", "bad.example/a:80/x", "bad.example/a:80/x"},
        {"a port before a query", "bad.example:80?q=1", "bad.example?q=1"},
    };
    for (const auto& c : cases) {
        ExpectCanonical(c);
    }
}

TEST(CanonicalAddressTest, UnreservedEscapesAreDecodedOthersUpperCased) {
    const SpellingCase cases[] = {
        {"a letter", "bad.example/%41", "bad.example/A"},
        {"lower-case hex of a letter", "bad.example/%6c%6f%67%69%6e", "bad.example/login"},
        {"the unreserved signs", "bad.example/%2D%2E%5F%7E", "bad.example/-._~"},
        {"digits", "bad.example/%31%32", "bad.example/12"},
        {"in the query too", "bad.example/p?%69d=%31", "bad.example/p?id=1"},
        {"a reserved sign stays escaped, hex upper-cased", "bad.example/a%3db",
         "bad.example/a%3Db"},
        {"a space stays escaped", "bad.example/a%20b", "bad.example/a%20b"},
        {"an escaped slash stays what it is", "bad.example/a%2Fb", "bad.example/a%2Fb"},
        {"an escaped slash in lower case", "bad.example/a%2fb", "bad.example/a%2Fb"},
        {"an escaped percent is not decoded twice", "bad.example/%2541", "bad.example/%2541"},
        {"a high byte stays escaped", "bad.example/%e9t%E9", "bad.example/%E9t%E9"},
        {"not hex: kept", "bad.example/%zz%4g", "bad.example/%zz%4g"},
        {"cut short at the end: kept", "bad.example/a%4", "bad.example/a%4"},
        {"a lone percent: kept", "bad.example/100%", "bad.example/100%"},
        // A server decodes once: "%4%31" is "%4" then "1", never "%41".
        {"a digit after a stray percent and hex stays escaped", "bad.example/%4%31",
         "bad.example/%4%31"},
        {"a letter after a stray percent stays escaped", "bad.example/%%66", "bad.example/%%66"},
        {"a non-hex letter after a stray percent is decoded", "bad.example/%%67", "bad.example/%g"},
        {"plain letters after an escape", "bad.example/%41bc", "bad.example/Abc"},
        {"a plus stays a plus", "bad.example/?q=a+b", "bad.example/?q=a+b"},
    };
    for (const auto& c : cases) {
        ExpectCanonical(c);
    }
}

TEST(CanonicalAddressTest, DotSegmentsAreResolvedRunsOfSlashesKept) {
    const SpellingCase cases[] = {
        {"a dot segment", "bad.example/a/./b", "bad.example/a/b"},
        {"a dot-dot segment", "bad.example/a/x/../b", "bad.example/a/b"},
        {"dot-dot at the end keeps the slash", "bad.example/a/b/..", "bad.example/a/"},
        {"dot at the end keeps the slash", "bad.example/a/.", "bad.example/a/"},
        {"never above the root", "bad.example/../../a", "bad.example/a"},
        {"the root alone", "bad.example/..", "bad.example/"},
        {"escaped dots are dots", "bad.example/x/%2E%2e/a", "bad.example/a"},
        {"a half-escaped dot-dot", "bad.example/x/.%2E/a", "bad.example/a"},
        {"before a query", "bad.example/a/../b?x=/../y", "bad.example/b?x=/../y"},
        {"dots in the query are not segments", "bad.example/?p=./a/../b",
         "bad.example/?p=./a/../b"},
        {"a run of slashes stays", "bad.example//a///b", "bad.example//a///b"},
        {"dot-dot takes back an empty segment", "bad.example/a//../b", "bad.example/a/b"},
        {"dots inside a name stay", "bad.example/a.b/..c/.d/...", "bad.example/a.b/..c/.d/..."},
        {"an escaped slash does not cut a segment", "bad.example/a%2F../b", "bad.example/a%2F../b"},
        {"the root stays", "bad.example/", "bad.example/"},
    };
    for (const auto& c : cases) {
        ExpectCanonical(c);
    }
}

TEST(CanonicalAddressTest, FragmentIsDropped) {
    const SpellingCase cases[] = {
        {"after the path", "bad.example/page#top", "bad.example/page"},
        {"after the query", "bad.example/page?x=1#top", "bad.example/page?x=1"},
        {"right after the host", "bad.example#x", "bad.example"},
        {"an escaped hash is no fragment", "bad.example/a%23b", "bad.example/a%23b"},
    };
    for (const auto& c : cases) {
        ExpectCanonical(c);
    }
}

TEST(CanonicalAddressTest, IpHostsInOtherNotationsBecomeDottedDecimal) {
    const SpellingCase cases[] = {
        {"one decimal number", "2130706433/x", "127.0.0.1/x"},
        {"one hex number", "0x7F000001/x", "127.0.0.1/x"},
        {"hex and short", "0x7f.1/x", "127.0.0.1/x"},
        {"octal parts", "0177.0.0.01/x", "127.0.0.1/x"},
        {"short form of three parts", "127.0.1/x", "127.0.0.1/x"},
        {"short form of two parts", "127.1/x", "127.0.0.1/x"},
        {"mixed notations with a port", "0x7f.0.0.1:8080/x", "127.0.0.1:8080/x"},
        {"with a default port", "2130706433:80/x", "127.0.0.1/x"},
        {"with a trailing dot", "127.0.0.1./x", "127.0.0.1/x"},
        {"IPv4-mapped IPv6", "[::ffff:127.0.0.1]/x", "127.0.0.1/x"},
        {"IPv4-mapped IPv6 in hex", "[::FFFF:7f00:1]:8080/x", "127.0.0.1:8080/x"},
        {"other IPv6: shortest form", "[0:0:0:0:0:0:0:1]:80/x", "[::1]/x"},
        {"other IPv6 in capitals", "[2001:DB8::A]/x", "[2001:db8::a]/x"},
        {"dotted decimal stays", "10.1.2.3:8080/x", "10.1.2.3:8080/x"},
        {"a part above 255 is not an address", "256.0.0.1/x", "256.0.0.1/x"},
        {"a last part too large is not an address", "127.0.0.65536/x", "127.0.0.65536/x"},
        {"a number above 32 bits is not an address", "4294967296/x", "4294967296/x"},
        {"five parts are not an address", "1.2.3.4.5/x", "1.2.3.4.5/x"},
        {"an empty part is not an address", "127..1/x", "127..1/x"},
        {"8 is no octal digit", "08.0.0.1/x", "08.0.0.1/x"},
        {"g is no hex digit", "0x7g.1/x", "0x7g.1/x"},
        {"a name that starts with digits", "123.example/x", "123.example/x"},
        {"a name of digits and a word", "1.2.3.example/x", "1.2.3.example/x"},
        {"an IPv6 zone stays", "[fe80::1%25eth0]/x", "[fe80::1%25eth0]/x"},
        {"a bracketed IPv4 is no IPv6", "[127.0.0.1]/x", "[127.0.0.1]/x"},
        {"numbers in the path are no host", "a.example/2130706433", "a.example/2130706433"},
    };
    for (const auto& c : cases) {
        ExpectCanonical(c);
    }
}

TEST(CanonicalAddressTest, AbsoluteTargetLosesItsScheme) {
    const SpellingCase cases[] = {
        {"http", "http://bad.example/x", "bad.example/x"},
        {"https with its port", "https://BAD.example:443/x", "bad.example/x"},
        {"scheme in capitals", "HTTP://bad.example/x", "bad.example/x"},
        {"no path: the root", "http://bad.example", "bad.example/"},
        {"no path, a query", "http://bad.example?q", "bad.example/?q"},
        {"another scheme stays", "ftp://bad.example/x", "ftp://bad.example/x"},
        {"a host that starts with http", "httpbin.example/x", "httpbin.example/x"},
        {"user information is left alone", "http://me@bad.example/x", "me@bad.example/x"},
    };
    for (const auto& c : cases) {
        ExpectCanonical(c);
    }
}

TEST(CanonicalAddressTest, EverythingAtOnce) {
    ExpectCanonical({"several rules", "HTTP://0x7f.1.:0080/a/./%62/../%7Euser/%2fx?%41=%3d#f",
                     "127.0.0.1/a/~user/%2Fx?A=%3D"});
}

TEST(CanonicalAddressTest, EscapesOfPatternsAloneAreBroughtToForm) {
    EXPECT_EQ(CanonicalEscapes("p%6Frn"), "porn");
    EXPECT_EQ(CanonicalEscapes("a%2fb"), "a%2Fb");
    EXPECT_EQ(CanonicalEscapes("XXX/./.."), "XXX/./..");  // no host, no segments in a pattern
    EXPECT_EQ(CanonicalEscapes(""), "");
}

}  // namespace
}  // namespace gx
