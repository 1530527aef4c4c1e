// The build file's reader, in memory: what it accepts, and that nothing it is given (cut,
// flipped, made up) gets past its checks or makes it read out of bounds.
#include <gtest/gtest.h>

#include <random>

#include "update/BuildFile.h"
#include "update/BuildWriter.h"

namespace gx {
namespace {

class BuildFileTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        key_ = new KeyPairPem(*GenerateKeyPair());
        otherKey_ = new KeyPairPem(*GenerateKeyPair());
    }
    static void TearDownTestSuite() {
        delete key_;
        delete otherKey_;
    }

    static std::vector<ArchiveEntry> Entries() {
        return {{EntryKind::File, 0755, "gardalix", "#!/bin/sh\n"},
                {EntryKind::Folder, 0755, "help", ""},
                {EntryKind::File, 0644, "help/index.html", std::string(5000, 'x')},
                {EntryKind::Link, 0777, "help/start.html", "index.html"}};
    }

    static KeyPairPem* key_;
    static KeyPairPem* otherKey_;
};

KeyPairPem* BuildFileTest::key_ = nullptr;
KeyPairPem* BuildFileTest::otherKey_ = nullptr;

TEST_F(BuildFileTest, AWrittenBuildReadsBackWithItsEntries) {
    const std::optional<std::string> file = WriteBuildFile("1.6.0", Entries(), key_->privatePem);
    ASSERT_TRUE(file);
    const CheckedBuild build = CheckBuildFile(*file, key_->publicPem);
    ASSERT_EQ(build.fault, BuildFault::None) << DescribeFault(build.fault);
    EXPECT_EQ(build.header.buildVersion, "1.6.0");
    ASSERT_EQ(build.entries.size(), Entries().size());
    for (std::size_t i = 0; i < build.entries.size(); ++i) {
        SCOPED_TRACE(Entries()[i].path);
        EXPECT_EQ(build.entries[i].kind, Entries()[i].kind);
        EXPECT_EQ(build.entries[i].mode, Entries()[i].mode);
        EXPECT_EQ(build.entries[i].path, Entries()[i].path);
        EXPECT_EQ(build.entries[i].data, Entries()[i].data);
    }
}

TEST_F(BuildFileTest, DamagedFilesAreRefusedWithTheirFault) {
    const std::string good = *WriteBuildFile("1.6.0", Entries(), key_->privatePem);
    auto flipped = [&](std::size_t at) {
        std::string bad = good;
        bad[at] = static_cast<char>(bad[at] ^ 0x01);
        return bad;
    };
    auto withLength = [&](std::uint64_t length) {
        std::string bad = good;
        for (int i = 0; i < 8; ++i) {
            bad[44 + i] = static_cast<char>((length >> (8 * i)) & 0xFF);
        }
        return bad;
    };
    struct Case {
        const char* name;
        std::string bytes;
        std::string key;
        BuildFault fault;
    };
    const Case cases[] = {
        {"empty", "", key_->publicPem, BuildFault::Truncated},
        {"header cut", good.substr(0, 40), key_->publicPem, BuildFault::Truncated},
        {"signature cut", good.substr(0, good.size() - 1), key_->publicPem, BuildFault::Truncated},
        {"byte added", good + "x", key_->publicPem, BuildFault::Truncated},
        {"magic", flipped(0), key_->publicPem, BuildFault::BadMagic},
        {"format", flipped(8), key_->publicPem, BuildFault::BadFormat},
        {"version letter",
         [&] {
             std::string b = good;
             b[12] = 'a';
             return b;
         }(),
         key_->publicPem, BuildFault::BadVersion},
        {"version padding", flipped(40), key_->publicPem, BuildFault::BadVersion},
        {"reserved bytes", flipped(60), key_->publicPem, BuildFault::BadFormat},
        {"length too large", withLength(kMaxPayloadBytes + 1), key_->publicPem,
         BuildFault::TooLarge},
        {"length huge", withLength(~0ull), key_->publicPem, BuildFault::TooLarge},
        {"length short", withLength(10), key_->publicPem, BuildFault::Truncated},
        {"version changed", flipped(14), key_->publicPem, BuildFault::BadSignature},
        {"payload changed", flipped(kBuildHeaderSize + 20), key_->publicPem,
         BuildFault::BadSignature},
        {"signature changed", flipped(good.size() - 3), key_->publicPem, BuildFault::BadSignature},
        {"other key", good, otherKey_->publicPem, BuildFault::BadSignature},
        {"no key", good, "", BuildFault::BadSignature},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CheckBuildFile(c.bytes, c.key).fault, c.fault);
    }
}

TEST_F(BuildFileTest, EntriesThatLeaveTheFolderAreRefused) {
    struct Case {
        const char* name;
        std::vector<ArchiveEntry> extra;
        BuildFault fault;
    };
    const Case cases[] = {
        {"parent", {{EntryKind::File, 0644, "../x", "x"}}, BuildFault::PathOutside},
        {"parent inside", {{EntryKind::File, 0644, "help/../../x", "x"}}, BuildFault::PathOutside},
        {"absolute", {{EntryKind::File, 0644, "/tmp/x", "x"}}, BuildFault::PathOutside},
        {"dot", {{EntryKind::File, 0644, "./x", "x"}}, BuildFault::PathOutside},
        {"empty part", {{EntryKind::File, 0644, "help//x", "x"}}, BuildFault::PathOutside},
        {"trailing slash", {{EntryKind::Folder, 0755, "more/", ""}}, BuildFault::PathOutside},
        {"empty", {{EntryKind::File, 0644, "", "x"}}, BuildFault::PathOutside},
        {"nul", {{EntryKind::File, 0644, std::string("a\0b", 3), "x"}}, BuildFault::PathOutside},
        {"twice", {{EntryKind::File, 0644, "gardalix", "again"}}, BuildFault::PathOutside},
        {"link out", {{EntryKind::Link, 0777, "out", "../etc"}}, BuildFault::PathOutside},
        {"link deep out",
         {{EntryKind::Link, 0777, "help/out", "../../etc"}},
         BuildFault::PathOutside},
        {"link absolute", {{EntryKind::Link, 0777, "out", "/etc/passwd"}}, BuildFault::PathOutside},
        {"below a link",
         {{EntryKind::Link, 0777, "up", "help"}, {EntryKind::File, 0644, "up/x", "x"}},
         BuildFault::PathOutside},
        {"below a file", {{EntryKind::File, 0644, "gardalix/x", "x"}}, BuildFault::PathOutside},
        {"folder after its file",
         {{EntryKind::File, 0644, "late/x", "x"}, {EntryKind::File, 0644, "late", "x"}},
         BuildFault::PathOutside},
        {"link up and back",
         {{EntryKind::Link, 0777, "help/top", "../gardalix"}},
         BuildFault::None},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<ArchiveEntry> entries = Entries();
        entries.insert(entries.end(), c.extra.begin(), c.extra.end());
        const std::optional<std::string> file = WriteBuildFile("1.6.0", entries, key_->privatePem);
        ASSERT_TRUE(file);
        const CheckedBuild build = CheckBuildFile(*file, key_->publicPem);
        EXPECT_EQ(build.fault, c.fault) << DescribeFault(build.fault);
        EXPECT_EQ(build.entries.empty(), c.fault != BuildFault::None);
    }
}

TEST_F(BuildFileTest, ABuildWithoutTheProgramIsRefused) {
    const std::vector<ArchiveEntry> entries = {{EntryKind::File, 0644, "notes.txt", "x"}};
    const std::string file = *WriteBuildFile("1.6.0", entries, key_->privatePem);
    EXPECT_EQ(CheckBuildFile(file, key_->publicPem).fault, BuildFault::NoProgram);
}

TEST_F(BuildFileTest, MalformedArchivesAreRefused) {
    const std::string good = EncodeArchive(Entries());
    struct Case {
        const char* name;
        std::string payload;  // already compressed
    };
    const Case cases[] = {
        {"not zlib", "plain text, not a stream"},
        {"stream cut", Deflate(good)->substr(0, 30)},
        {"bytes after the stream", *Deflate(good) + "x"},
        {"no end entry", *Deflate(good.substr(0, good.size() - 1))},
        {"bytes after the end entry", *Deflate(good + "F")},
        {"unknown kind", *Deflate("X" + good)},
        {"file longer than the archive",
         *Deflate(std::string("F\xa4\x01\0\0\x01\0a\xff\xff\xff\xff\0\0\0\0E", 17))},
        {"path longer than the archive", *Deflate(std::string("F\xa4\x01\0\0\xff\x00a", 8))},
        {"mode beyond permissions",
         *Deflate(std::string("F\0\0\x01\0\x01\0a\0\0\0\0\0\0\0\0E", 17))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const UnpackedArchive archive = ReadArchive(c.payload);
        EXPECT_EQ(archive.fault, BuildFault::BadArchive);
        EXPECT_TRUE(archive.entries.empty());
    }
}

TEST_F(BuildFileTest, VersionsCompareAsNumbers) {
    struct Case {
        const char* a;
        const char* b;
        int order;
    };
    const Case cases[] = {{"1.6.0", "1.5.0", 1},  {"1.5.0", "1.5.0", 0}, {"1.4.9", "1.5.0", -1},
                          {"1.10.0", "1.9.0", 1}, {"1.5", "1.5.0", 0},   {"1.5.0.1", "1.5.0", 1},
                          {"2", "1.99.99", 1},    {"01.5", "1.5", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        EXPECT_EQ(CompareBuildVersions(c.a, c.b), c.order);
        EXPECT_EQ(CompareBuildVersions(c.b, c.a), -c.order);
    }
    for (const char* bad :
         {"", "1.", ".1", "1..2", "1.5a", "v1", "1 5", "12345678901234567890123456789012"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(IsBuildVersion(bad));
    }
}

// Random damage, many times: the reader answers, never crashes, and never accepts a file that
// differs from the signed one.
TEST_F(BuildFileTest, RandomDamageIsAlwaysRefused) {
    const std::string good = *WriteBuildFile("1.6.0", Entries(), key_->privatePem);
    const std::string archive = EncodeArchive(Entries());
    std::mt19937 random(14);
    for (int round = 0; round < 2000; ++round) {
        std::string bad = good;
        const int changes = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < changes; ++i) {
            bad[random() % bad.size()] = static_cast<char>(random());
        }
        if (round % 5 == 0) {
            bad.resize(random() % bad.size());
        }
        if (bad == good) {
            continue;
        }
        EXPECT_NE(CheckBuildFile(bad, key_->publicPem).fault, BuildFault::None);
        // The archive reader on its own, past the signature, with damaged content.
        std::string damaged = archive;
        damaged[random() % damaged.size()] = static_cast<char>(random());
        const std::optional<std::string> payload =
            Deflate(damaged.substr(0, random() % damaged.size() + 1));
        ASSERT_TRUE(payload);
        const UnpackedArchive unpacked = ReadArchive(*payload);
        for (const ArchiveEntry& entry : unpacked.entries) {
            EXPECT_TRUE(IsInsidePath(entry.path));
        }
    }
}

}  // namespace
}  // namespace gx
