#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "ListTestFiles.h"
#include "lists/CanonicalAddress.h"
#include "lists/GX_MalwareURL.h"
#include "lists/GX_PornURL.h"
#include "lists/ListFile.h"
#include "lists/ProductSite.h"
#include "platform/codepage/CaseFold.h"
#include "platform/program/GX_COM.h"

namespace gx {
namespace {

using testing::Records;
using testing::TempFolder;
using testing::WriteBytes;

class BlockLists : public ::testing::Test {
  protected:
    bool LoadMalware(const std::vector<std::string>& entries, const std::string& extra = "") {
        WriteBytes(folder_.File("gx_mu.dat"), Records(entries, kMalwareRecordSize) + extra);
        return LoadMalwareURLList(folder_.File("gx_mu.dat"));
    }
    bool LoadAdult(const std::vector<std::string>& entries, const std::string& extra = "") {
        WriteBytes(folder_.File("gx_pu.dat"), Records(entries, kAdultRecordSize) + extra);
        return LoadPornURLList(folder_.File("gx_pu.dat"));
    }
    TempFolder folder_;
};

TEST_F(BlockLists, MalwareLookupIsWholeAddressWithLetterCaseIgnored) {
    ASSERT_TRUE(
        LoadMalware({"bad.example/", "Evil.Example/Path?Q=1", "bad.example/", "caf\xC9.example/"}));
    EXPECT_EQ(MalwareURLCount(), 4u);  // duplicates stay
    struct Case {
        const char* address;
        bool hit;
    };
    const Case cases[] = {
        {"bad.example/", true},
        {"BAD.EXAMPLE/", true},
        {"bad.example", false},
        {"bad.example/page", false},
        {"xbad.example/", false},
        {"evil.example/path?q=1", true},
        {"evil.example/path?q=2", false},
        {"caf\xE9.example/", true},  // É and é are one letter
        {"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        EXPECT_EQ(IsMalwareURL(c.address), c.hit);
    }
}

TEST_F(BlockLists, AdultLookupFindsAPatternAnywhereWithLetterCaseSignificant) {
    ASSERT_TRUE(LoadAdult({"xxx", "Casino", ""}));
    EXPECT_EQ(PornURLCount, 3);
    struct Case {
        const char* address;
        bool hit;
    };
    const Case cases[] = {
        {"a.example/?q=xxx", true},
        {"xxx.a.example/", true},
        {"a.example/XXX", false},
        {"a.example/xx", false},
        {"Casino.example/", true},
        {"casino.example/", false},
        {"", false},  // the empty pattern never counts
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        EXPECT_EQ(IsPornURL(c.address), c.hit);
        EXPECT_EQ(IsAdultUrlByScan(c.address), c.hit);
    }
}

TEST_F(BlockLists, RecordEdgeCases) {
    // Three whole records and ten stray bytes: three entries, success.
    ASSERT_TRUE(LoadMalware({"a.example/", "b.example/", "c.example/"}, std::string(10, 'z')));
    EXPECT_EQ(MalwareURLCount(), 3u);

    // An empty malicious entry matches only the empty address.
    ASSERT_TRUE(LoadMalware({""}));
    EXPECT_TRUE(IsMalwareURL(""));
    EXPECT_FALSE(IsMalwareURL("a"));

    // A zero-byte file loads with no entries.
    ASSERT_TRUE(LoadMalware({}));
    EXPECT_EQ(MalwareURLCount(), 0u);
    EXPECT_FALSE(IsMalwareURL(""));
    ASSERT_TRUE(LoadAdult({}));
    EXPECT_EQ(PornURLCount, 0);
    EXPECT_FALSE(IsPornURL("anything"));
}

TEST_F(BlockLists, AnAdultRecordLongerThanItsSlotKeepsItsFirst128Characters) {
    const std::string pattern = std::string(127, 'p') + "QR";  // 129 characters
    std::string record = ScrambleRecord(pattern.substr(0, 128), kAdultRecordSize);
    record[0] = static_cast<char>(200);  // the length byte claims more than the record holds
    WriteBytes(folder_.File("gx_pu.dat"), record);
    ASSERT_TRUE(LoadPornURLList(folder_.File("gx_pu.dat")));
    ASSERT_EQ(PornURLCount, 1);
    EXPECT_EQ(PornURLs[1].view(), pattern.substr(0, 128));
    EXPECT_TRUE(IsPornURL("x" + pattern.substr(0, 128)));
}

TEST_F(BlockLists, TheAdultTableHolds512PatternsAndALongerFileIsRefused) {
    std::vector<std::string> patterns;
    for (int i = 0; i < 512; ++i) {
        patterns.push_back("pattern" + std::to_string(i) + "/");
    }
    ASSERT_TRUE(LoadAdult(patterns));
    EXPECT_EQ(PornURLCount, 512);
    EXPECT_TRUE(IsPornURL("a.example/pattern511/"));

    patterns.push_back("one-too-many");
    EXPECT_FALSE(LoadAdult(patterns));
    EXPECT_EQ(PornURLCount, 0);
    EXPECT_FALSE(IsPornURL("a.example/pattern1/"));
}

TEST_F(BlockLists, MissingFilesFailAndReadOnlyFilesLoad) {
    EXPECT_FALSE(LoadMalwareURLList(folder_.File("absent.dat")));
    EXPECT_FALSE(LoadPornURLList(folder_.File("absent.dat")));
    EXPECT_FALSE(LoadMalwareURLList(folder_.File("")));  // a folder, not a list

    // An installed program's lists are read-only: they must still load.
    WriteBytes(folder_.File("gx_mu.dat"), Records({"ro.example/"}, kMalwareRecordSize));
    ASSERT_EQ(::chmod(folder_.File("gx_mu.dat").c_str(), 0444), 0);
    ASSERT_TRUE(LoadMalwareURLList(folder_.File("gx_mu.dat")));
    EXPECT_TRUE(IsMalwareURL("ro.example/"));
}

TEST_F(BlockLists, UnreadableFileFails) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root reads any file";
    }
    WriteBytes(folder_.File("gx_mu.dat"), Records({"a.example/"}, kMalwareRecordSize));
    ASSERT_EQ(::chmod(folder_.File("gx_mu.dat").c_str(), 0), 0);
    EXPECT_FALSE(LoadMalwareURLList(folder_.File("gx_mu.dat")));
}

// Random strings over a small alphabet with both letter cases and accented capitals, so that
// collisions, shared prefixes and case variants are frequent.
std::string RandomText(std::mt19937& random, size_t maxLength) {
    static const std::string alphabet = "abAB./\xC9\xE9_-x";
    std::uniform_int_distribution<size_t> length(0, maxLength);
    std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
    std::string text(length(random), ' ');
    for (char& c : text) {
        c = alphabet[pick(random)];
    }
    return text;
}

TEST_F(BlockLists, MalwareAnswersEqualABinarySearchOfTheSortedList) {
    std::mt19937 random(1234);
    std::vector<std::string> entries;
    for (int i = 0; i < 3000; ++i) {
        entries.push_back(RandomText(random, 6));
    }
    ASSERT_TRUE(LoadMalware(entries));
    auto sorted = entries;
    const auto less = [](const std::string& a, const std::string& b) {
        return CompareTextNoCase(a, b) < 0;
    };
    std::sort(sorted.begin(), sorted.end(), less);
    for (int i = 0; i < 5000; ++i) {
        const std::string address = RandomText(random, 7);
        SCOPED_TRACE(address);
        ASSERT_EQ(IsMalwareURL(address),
                  std::binary_search(sorted.begin(), sorted.end(), address, less));
    }
}

TEST_F(BlockLists, ALongListLoadedInTwoHalvesFindsEveryEntry) {
    // Every thousandth entry is written with a default port, in both halves.
    std::vector<std::string> entries;
    for (int i = 0; i < 100000; ++i) {
        entries.push_back("host" + std::to_string(i) + ".example" + (i % 1000 == 0 ? ":80" : "") +
                          "/Page?n=" + std::to_string(i * 7));
    }
    ASSERT_TRUE(LoadMalware(entries));
    EXPECT_EQ(MalwareURLCount(), entries.size());
    EXPECT_EQ(MalwareURLCanonicalCount(), 100u);
    for (size_t i = 0; i < entries.size(); ++i) {
        ASSERT_TRUE(IsMalwareURL(FoldText(entries[i]))) << entries[i];
        ASSERT_FALSE(IsMalwareURL(entries[i] + "/")) << entries[i];
        const std::string canonical = CanonicalAddress(entries[i]);
        ASSERT_TRUE(IsMalwareURL(canonical) || IsMalwareCanonicalURL(canonical, canonical))
            << entries[i];
    }
}

// Entries are brought to canonical form when the list loads: an address in any spelling of an
// entry is found by its canonical form, whichever way the entry itself was written.
TEST_F(BlockLists, MalwareEntriesAreMatchedInCanonicalForm) {
    ASSERT_TRUE(LoadMalware({"BAD.example:80/a/./b", "bad.example/%7Euser", "Plain.Example/Page",
                             "2130706433/admin", "http://scheme.example/x"}));
    EXPECT_EQ(MalwareURLCount(), 5u);
    // Written canonically but for letter case: Plain.Example/Page is not held a second time.
    EXPECT_EQ(MalwareURLCanonicalCount(), 4u);
    struct Case {
        const char* address;
        bool exact;      // IsMalwareURL, the address as sent
        bool canonical;  // IsMalwareCanonicalURL
    };
    const Case cases[] = {
        {"bad.example:80/a/./b", true, true},
        {"bad.example/a/b", false, true},
        {"BAD.EXAMPLE./x/../a/%62", false, true},
        {"bad.example/~user", false, true},
        {"bad.example/%7euser", true, true},  // letter case ignored, as always
        {"plain.example/page", true, false},  // found as sent, nothing more to find
        {"plain.example:443/page", false, true},
        {"127.0.0.1/admin", false, true},
        {"0x7f.1/admin", false, true},
        {"scheme.example/x", false, true},
        {"bad.example/a/c", false, false},
        {"bad.example/a%2Fb", false, false},
        {"bad.example:8080/a/b", false, false},
        {"bad.example/user", false, false},
        {"", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        EXPECT_EQ(IsMalwareURL(c.address), c.exact);
        EXPECT_EQ(IsMalwareCanonicalURL(c.address, CanonicalAddress(c.address)), c.canonical);
    }
}

TEST_F(BlockLists, ACanonicalListIsNotHeldTwice) {
    std::vector<std::string> entries;
    for (int i = 0; i < 1000; ++i) {
        entries.push_back("Host" + std::to_string(i) + ".example/a/Page%20" + std::to_string(i));
    }
    ASSERT_TRUE(LoadMalware(entries));
    EXPECT_EQ(MalwareURLCanonicalCount(), 0u);
    const size_t bytes = MalwareURLMemoryBytes();
    entries.push_back("host.example/%41");
    ASSERT_TRUE(LoadMalware(entries));
    EXPECT_EQ(MalwareURLCanonicalCount(), 1u);
    EXPECT_LT(MalwareURLMemoryBytes() - bytes, 4096u + 256u);  // one entry and its table

    ASSERT_TRUE(LoadMalware({}));
    EXPECT_EQ(MalwareURLCanonicalCount(), 0u);
    EXPECT_FALSE(IsMalwareCanonicalURL("host.example/A", "host.example/A"));
}

TEST_F(BlockLists, AdultPatternsAreMatchedWithTheirEscapesInCanonicalForm) {
    struct Case {
        std::vector<std::string> patterns;
        const char* address;
        bool exact;      // IsPornURL
        bool canonical;  // IsAdultCanonicalUrl
    };
    const Case cases[] = {
        {{"casino"}, "a.example/c%61sino", false, true},
        {{"casino"}, "a.example/casino", true, false},  // found as sent, nothing more to find
        {{"casino"}, "a.example/C%41SINO", false, false},
        {{"p%6Frn"}, "a.example/porn", false, true},
        {{"p%6Frn"}, "a.example/p%6frn", false, true},
        {{"p%6Frn"}, "a.example/p%6Frn", true, true},
        {{"p%6Frn", "casino"}, "a.example/c%61sino", false, true},
        {{"a%2fb"}, "a.example/a%2Fb", false, true},
        {{"a%2fb"}, "a.example/a/b", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        ASSERT_TRUE(LoadAdult(c.patterns));
        EXPECT_EQ(IsPornURL(c.address), c.exact);
        EXPECT_EQ(IsAdultCanonicalUrl(c.address, CanonicalAddress(c.address)), c.canonical);
    }
}

TEST_F(BlockLists, AdultAnswersEqualThePlainScan) {
    std::mt19937 random(99);
    for (int round = 0; round < 4; ++round) {
        std::vector<std::string> patterns;
        for (int i = 0; i < 300; ++i) {
            patterns.push_back(RandomText(random, 5));
        }
        ASSERT_TRUE(LoadAdult(patterns));
        for (int i = 0; i < 2000; ++i) {
            const std::string address = RandomText(random, 40);
            SCOPED_TRACE(address);
            ASSERT_EQ(IsPornURL(address), IsAdultUrlByScan(address));
        }
    }
}

TEST(ShippedLists, LoadFromTheProgramDirectoryAndHoldTheTestPage) {
    const std::string programDir = GX_PROGRAM_DIR "/";
    ASSERT_TRUE(LoadMalwareURLList(programDir + kMalwareListFileName));
    ASSERT_TRUE(LoadPornURLList(programDir + kAdultListFileName));
    EXPECT_GT(MalwareURLCount(), 6000u);
    EXPECT_TRUE(IsMalwareURL(kTestPageAddress));
    EXPECT_TRUE(IsMalwareURL(std::string(kProductSiteHost) + "/test_malware"));
    EXPECT_TRUE(IsMalwareURL("AMYUNI.COM/downloads/usbmmidd_v2.zip"));
    EXPECT_FALSE(IsMalwareURL("amyuni.com/downloads/usbmmidd_v2.zip/"));
    EXPECT_FALSE(IsMalwareURL("www.debian.org/"));
    EXPECT_TRUE(IsPornURL("www.pornhub.com/"));
    EXPECT_FALSE(IsPornURL("www.debian.org/"));
}

TEST(ProgramDirectory, IsTheExecutablesFolderWithOneTrailingSeparator) {
    struct Case {
        const char* path;
        const char* dir;
    };
    const Case cases[] = {
        {"/opt/gardalix/gardalix", "/opt/gardalix/"},
        {"/gardalix", "/"},
        {"/home/zoé/Mes programmes/gardalix", "/home/zoé/Mes programmes/"},
        {"gardalix", "/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(ProgramDirOf(c.path), c.dir);
    }
    // The tests run from build/tests/, whatever the working folder.
    EXPECT_EQ(ProgramDir(), std::filesystem::canonical(GX_PROGRAM_DIR "/../tests").string() + "/");
}

}  // namespace
}  // namespace gx
