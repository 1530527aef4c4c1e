// Whole-host entries ("host/*", "*.host/*") beside the exact lookup, the feed import that makes
// them from root-only lines, and the shipped list built that way.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ListTestFiles.h"
#include "lists/GX_MalwareURL.h"
#include "lists/ListFile.h"
#include "lists/ListImport.h"
#include "lists/WholeHosts.h"

namespace gx {
namespace {

using testing::Records;
using testing::TempFolder;
using testing::WriteBytes;

TEST(WholeHosts, AHostEntryBlocksEveryAddressOnItsHostAndNoOther) {
    TempFolder folder;
    WriteBytes(folder.File("gx_mu.dat"),
               Records({"badhost.example/*", "*.evil.example/*", "ported.example:8080/*",
                        "192.0.2.7/*", "exact.example/page"},
                       kMalwareRecordSize));
    ASSERT_TRUE(LoadMalwareURLList(folder.File("gx_mu.dat")));
    EXPECT_EQ(MalwareHostCount(), 4u);
    struct Case {
        const char* address;
        bool exact;  // the exact lookup, unchanged
        bool host;
    };
    const std::vector<Case> cases = {
        {"badhost.example/payload.exe", false, true},
        {"badhost.example/", false, true},
        {"BADHOST.Example./x", false, true},        // letter case and a trailing dot do not matter
        {"badhost.example:81/x", false, true},      // an entry without a port: every port
        {"http://badhost.example/x", false, true},  // an absolute request target
        {"sub.badhost.example/x", false, false},    // not a "*." entry: its subdomains pass
        {"other.example/x", false, false},
        {"evil.example/x", false, true},
        {"a.b.evil.example/", false, true},
        {"notevil.example/", false, false},  // a look-alike is not a subdomain
        {"evil.example.com/", false, false},
        {"ported.example:8080/x", false, true},
        {"ported.example/x", false, false},  // the entry names its port
        {"ported.example:8081/x", false, false},
        {"192.0.2.7/bin.sh", false, true},
        {"192.0.2.70/bin.sh", false, false},
        {"exact.example/page", true, false},
        {"exact.example/other", false, false},
        {"badhost.example/*", true, true},  // the literal entry, as an old reader sees it
        {"", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        EXPECT_EQ(IsMalwareURL(c.address), c.exact);
        EXPECT_EQ(IsMalwareHost(c.address), c.host);
    }
}

TEST(WholeHosts, OnlyHostsFollowedBySlashStarAreWholeHostEntries) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"host.example/*", "host.example"},
        {"Host.Example./*", "host.example"},
        {"*.host.example/*", "*host.example"},
        {"host.example:8080/*", "host.example:8080"},
        {"[2001:db8::1]:443/*", "[2001:db8::1]:443"},
        {"host.example/", ""},
        {"host.example/path*", ""},
        {"host.example/a/*", ""},
        {"/*", ""},
        {"*./*", ""},
        {"*.*.example/*", ""},
    };
    for (const auto& [entry, host] : cases) {
        SCOPED_TRACE(entry);
        auto parsed = ParseWholeHostEntry(entry);
        ASSERT_EQ(parsed.has_value(), !host.empty());
        if (parsed) {
            EXPECT_EQ((parsed->subdomains ? "*" : "") + parsed->host, host);
        }
    }
}

TEST(ListImport, RootOnlyLinesBecomeWholeHostsAndFullAddressesStay) {
    ImportResult result = ImportFeed(
        "# a feed\n"
        "\n"
        "http://1.2.3.4/bin.sh\r\n"
        "badhost.example/\n"
        "BADHOST.example/\n"
        "https://other.example/dl/x.exe\n"
        "bare.example\n"
        "kept.example/*\n"
        "  spaced.example/a  \n");
    EXPECT_EQ(result.text,
              "1.2.3.4/bin.sh\n"
              "badhost.example/*\n"
              "other.example/dl/x.exe\n"
              "bare.example/*\n"
              "kept.example/*\n"
              "spaced.example/a\n");
    EXPECT_EQ(result.addresses, 3u);
    EXPECT_EQ(result.wholeHosts, 3u);
    EXPECT_EQ(result.duplicates, 1u);
    EXPECT_EQ(result.skipped, 2u);
}

// The shipped list is imported from its feed at build time: its root-only hosts are blocked at
// any path now, not only at their root.
TEST(ShippedLists, AListedHostIsBlockedAtAnyPath) {
    ASSERT_TRUE(LoadMalwareURLList(GX_PROGRAM_DIR "/" + std::string(kMalwareListFileName)));
    EXPECT_GT(MalwareHostCount(), 2000u);
    EXPECT_TRUE(IsMalwareHost("wegrowcoaching.com/any/other/path.exe"));
    EXPECT_TRUE(IsMalwareHost("wegrowcoaching.com/"));
    EXPECT_FALSE(IsMalwareHost("www.debian.org/"));
}

}  // namespace
}  // namespace gx
