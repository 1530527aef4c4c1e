#include "platform/registry/RegistryHive.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/codepage/Cp1252.h"
#include "platform/registry/TempHive.h"

namespace gx {
namespace {

using RegistryHiveTest = testing::TempHiveTest;

std::string AllCp1252Letters() {
    std::string text;
    for (int byte = 1; byte < 256; ++byte) {
        text += static_cast<char>(byte);
    }
    return text;
}

TEST_F(RegistryHiveTest, KeysAreCreatedWithTheirParentsAndFoundWithoutRegardToCase) {
    auto hive = RegistryHive::Open(path_);
    ASSERT_TRUE(hive);
    EXPECT_FALSE(hive->OpenKey("SOFTWARE\\Brevane\\Gardalix", false));
    const auto key = hive->OpenKey("SOFTWARE\\Brevane\\Gardalix\\Logs", true);
    ASSERT_TRUE(key);
    EXPECT_TRUE(hive->OpenKey("SOFTWARE\\Brevane\\Gardalix", false));
    EXPECT_EQ(hive->OpenKey("software\\BREVANE\\gardalix\\logs", false), key);
    EXPECT_EQ(hive->OpenKey("\\SOFTWARE\\Brevane\\Gardalix\\Logs\\", true), key);
    const auto accented = hive->OpenKey(Cp1252("SOFTWARE\\Clé"), true);
    ASSERT_TRUE(accented);
    EXPECT_EQ(hive->OpenKey(Cp1252("software\\CLÉ"), false), accented);
}

TEST_F(RegistryHiveTest, MalformedKeyPathsAreRefused) {
    auto hive = RegistryHive::Open(path_);
    ASSERT_TRUE(hive);
    for (const std::string& path : std::vector<std::string>{"SOFTWARE\\\\Brevane", "\\\\SOFTWARE",
                                                            "A\\" + std::string(256, 'k')}) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(hive->OpenKey(path, true));
    }
    EXPECT_TRUE(hive->OpenKey("A\\" + std::string(255, 'k'), true));
}

TEST_F(RegistryHiveTest, ValuesRoundTripByteExactWithTheirTypes) {
    auto hive = RegistryHive::Open(path_);
    const auto key = hive->OpenKey("SOFTWARE\\Test", true);
    ASSERT_TRUE(key);
    const std::string letters = AllCp1252Letters();
    const std::vector<std::pair<std::string, RegValue>> cases = {
        {"number", RegValue::FromDWord(0xFFFFFFFEu)},
        {"empty text", RegValue::FromString("")},
        {letters, RegValue::FromString(letters)},
        {"binary", {RegDataType::Binary, std::string("\0\x01\xff\x80", 4)}},
        {"", RegValue::FromString("the key's default value")},
    };
    for (const auto& [name, value] : cases) {
        ASSERT_TRUE(hive->SetValue(*key, name, value));
    }
    hive.reset();  // everything must come back from the file
    hive = RegistryHive::Open(path_);
    for (const auto& [name, value] : cases) {
        SCOPED_TRACE(Cp1252ToUtf8(name));
        const auto read = hive->GetValue(*key, name);
        ASSERT_TRUE(read);
        EXPECT_EQ(read->type, value.type);
        EXPECT_EQ(read->data, value.data);
    }
    std::vector<std::string> names;
    for (const auto& entry : cases) {
        names.push_back(entry.first);
    }
    EXPECT_EQ(hive->ValueNames(*key), names);
}

TEST_F(RegistryHiveTest, NamesDifferingOnlyInCaseAreOneValueThatKeepsItsFirstSpellingAndPlace) {
    auto hive = RegistryHive::Open(path_);
    const auto key = hive->OpenKey("K", true);
    ASSERT_TRUE(hive->SetValue(*key, Cp1252("Été|Bad.Example"), RegValue::FromString("1")));
    ASSERT_TRUE(hive->SetValue(*key, "second", RegValue::FromString("2")));
    ASSERT_TRUE(hive->SetValue(*key, Cp1252("éTÉ|bad.example"), RegValue::FromDWord(3)));

    EXPECT_EQ(hive->ValueNames(*key),
              (std::vector<std::string>{Cp1252("Été|Bad.Example"), "second"}));
    const auto value = hive->GetValue(*key, Cp1252("ÉTÉ|BAD.EXAMPLE"));
    ASSERT_TRUE(value);
    EXPECT_EQ(value->type, RegDataType::DWord);
}

TEST_F(RegistryHiveTest, ANameEndsAtItsFirstZeroByte) {
    auto hive = RegistryHive::Open(path_);
    const auto key = hive->OpenKey(std::string("K\0ignored", 9), true);
    ASSERT_EQ(key, hive->OpenKey("k", false));
    ASSERT_TRUE(hive->SetValue(*key, std::string("host/a\0b", 8), RegValue::FromString("")));
    EXPECT_EQ(hive->ValueNames(*key), std::vector<std::string>{"host/a"});
    EXPECT_TRUE(hive->GetValue(*key, std::string("HOST/A\0c", 8)));
}

TEST_F(RegistryHiveTest, ValuesAreListedInCreationOrderAndARecreatedValueComesLast) {
    auto hive = RegistryHive::Open(path_);
    const auto key = hive->OpenKey("K", true);
    // Created in an order that neither the alphabet nor the case-folded form follows.
    for (const char* name : {"m", "B", "z", "a", "Y"}) {
        ASSERT_TRUE(hive->SetValue(*key, name, RegValue::FromString("")));
    }
    ASSERT_TRUE(hive->SetValue(*key, "z", RegValue::FromString("rewritten")));
    ASSERT_TRUE(hive->DeleteValue(*key, "b"));
    EXPECT_FALSE(hive->DeleteValue(*key, "b"));
    ASSERT_TRUE(hive->SetValue(*key, "B", RegValue::FromString("")));
    EXPECT_EQ(hive->ValueNames(*key), (std::vector<std::string>{"m", "z", "a", "Y", "B"}));
    EXPECT_TRUE(hive->ValueNames(*hive->OpenKey("other", true)).empty());
}

TEST_F(RegistryHiveTest, ValueNamesLongerThanTheRegistryAllowsAreRefused) {
    auto hive = RegistryHive::Open(path_);
    const auto key = hive->OpenKey("K", true);
    EXPECT_TRUE(
        hive->SetValue(*key, std::string(kMaxValueNameLength, 'n'), RegValue::FromString("")));
    EXPECT_FALSE(
        hive->SetValue(*key, std::string(kMaxValueNameLength + 1, 'n'), RegValue::FromString("")));
    EXPECT_EQ(hive->ValueNames(*key).size(), 1u);
}

TEST_F(RegistryHiveTest, AFailedWriteChangesNothingAndTheNextWriteWorks) {
    auto hive = RegistryHive::Open(path_);
    const auto key = hive->OpenKey("K", true);
    ASSERT_TRUE(hive->SetValue(*key, "v", RegValue::FromDWord(1)));
    hive->FailNextWrite();
    EXPECT_FALSE(hive->SetValue(*key, "v", RegValue::FromDWord(2)));
    EXPECT_EQ(hive->GetValue(*key, "v")->data, RegValue::FromDWord(1).data);
    EXPECT_TRUE(hive->SetValue(*key, "v", RegValue::FromDWord(2)));
    EXPECT_EQ(hive->GetValue(*key, "v")->data, RegValue::FromDWord(2).data);
}

TEST_F(RegistryHiveTest, AHiveInAMissingOrForbiddenPlaceDoesNotOpen) {
    EXPECT_FALSE(RegistryHive::Open(folder_ + "/no such folder/registry.db"));
    EXPECT_FALSE(RegistryHive::Open(folder_));  // a folder, not a file
    EXPECT_FALSE(RegistryHive::Open(""));
}

// A hive that this user may read but not write (one installed for the whole machine, seen from
// an ordinary account) does not open, quickly, and is left as it is.
TEST_F(RegistryHiveTest, AHiveThatMayNotBeWrittenDoesNotOpenAndIsLeftAlone) {
    {
        auto hive = RegistryHive::Open(path_);
        ASSERT_TRUE(hive->SetValue(*hive->OpenKey("K", true), "kept", RegValue::FromDWord(1)));
    }
    const std::string before = ReadFile(path_);
    ASSERT_EQ(chmod(folder_.c_str(), 0755), 0);
    ASSERT_EQ(chmod(path_.c_str(), 0644), 0);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Root may write anything: look at the file as an ordinary user.
        if (geteuid() == 0 && setuid(65534) != 0) {
            _exit(3);
        }
        if (access(path_.c_str(), W_OK) == 0) {
            (void)!chmod(path_.c_str(), 0444);
        }
        _exit(RegistryHive::Open(path_) ? 1 : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(ReadFile(path_), before);
    EXPECT_TRUE(FilesStartingWith("registry.db.damaged-").empty());
}

// Two processes (here two connections) writing at once: every write lands.
TEST_F(RegistryHiveTest, ConcurrentWritersLoseNothing) {
    constexpr int kPerWriter = 150;
    auto writer = [&](char tag) {
        auto hive = RegistryHive::Open(path_);
        ASSERT_TRUE(hive);
        const auto key = hive->OpenKey("SOFTWARE\\Brevane\\Gardalix\\Logs", true);
        ASSERT_TRUE(key);
        for (int i = 0; i < kPerWriter; ++i) {
            ASSERT_TRUE(hive->SetValue(*key, tag + std::to_string(i), RegValue::FromString("")));
        }
    };
    std::thread first(writer, 'a');
    std::thread second(writer, 'b');
    first.join();
    second.join();
    auto hive = RegistryHive::Open(path_);
    EXPECT_EQ(hive->ValueNames(*hive->OpenKey("SOFTWARE\\Brevane\\Gardalix\\Logs", false)).size(),
              2u * kPerWriter);
}

// Several processes starting at the same instant on a hive that does not exist yet (the program
// and the tool, a double launch): each gets the hive, and it is in WAL mode.
TEST_F(RegistryHiveTest, ProcessesStartingTogetherOnAFreshHiveAllGetIt) {
    constexpr int kProcesses = 4;
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    std::vector<pid_t> children;
    for (int i = 0; i < kProcesses; ++i) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(go[1]);
            char start;
            (void)!read(go[0], &start, 1);  // returns when the parent closes its end
            auto hive = RegistryHive::Open(path_);
            const auto key =
                hive ? hive->OpenKey("SOFTWARE\\Brevane\\Gardalix", true) : std::nullopt;
            const bool written =
                key && hive->SetValue(*key, "p" + std::to_string(i), RegValue::FromDWord(i));
            _exit(written ? 0 : 1);
        }
        children.push_back(child);
    }
    close(go[0]);
    close(go[1]);  // all children start now
    for (const pid_t child : children) {
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    auto hive = RegistryHive::Open(path_);
    EXPECT_EQ(hive->ValueNames(*hive->OpenKey("SOFTWARE\\Brevane\\Gardalix", false)).size(),
              size_t{kProcesses});
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
    sqlite3_stmt* mode = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &mode, nullptr);
    ASSERT_EQ(sqlite3_step(mode), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(mode, 0)), "wal");
    sqlite3_finalize(mode);
    sqlite3_close(db);
}

// Damage that the next start must survive: the file is kept aside for inspection and a fresh
// hive takes its place.
class RegistryDamagedHiveTest : public testing::TempHiveTest {
  protected:
    void ExpectSetAsideAndReplaced(const std::string& damagedBytes) {
        ::testing::internal::CaptureStderr();
        auto hive = RegistryHive::Open(path_);
        const std::string report = ::testing::internal::GetCapturedStderr();
        ASSERT_TRUE(hive);
        EXPECT_NE(report.find(path_), std::string::npos) << report;
        EXPECT_NE(report.find(Cp1252ToUtf8(Cp1252("endommagé"))), std::string::npos) << report;
        const auto aside = FilesStartingWith("registry.db.damaged-");
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_EQ(ReadFile(folder_ + "/" + aside[0]), damagedBytes);

        const auto key = hive->OpenKey("K", true);
        ASSERT_TRUE(key);
        EXPECT_TRUE(hive->ValueNames(*key).empty());
        EXPECT_TRUE(hive->SetValue(*key, "fresh", RegValue::FromDWord(1)));
    }

    void WriteFile(const std::string& bytes) {
        std::ofstream(path_, std::ios::binary | std::ios::trunc) << bytes;
    }
};

TEST_F(RegistryDamagedHiveTest, AFileThatIsNotAHiveIsSetAside) {
    const std::string garbage(20000, '\x5a');
    WriteFile(garbage);
    ExpectSetAsideAndReplaced(garbage);
}

TEST_F(RegistryDamagedHiveTest, AHiveWithOverwrittenPagesIsSetAside) {
    {
        auto hive = RegistryHive::Open(path_);
        const auto key = hive->OpenKey("K", true);
        for (int i = 0; i < 300; ++i) {
            hive->SetValue(*key, "entry " + std::to_string(i) + std::string(100, 'x'),
                           RegValue::FromString(""));
        }
    }  // the last connection folds the journal back into the file
    std::string bytes = ReadFile(path_);
    ASSERT_GT(bytes.size(), 5 * 4096u);
    for (size_t i = 4096; i < 4 * 4096; ++i) {
        bytes[i] = static_cast<char>(i * 7);
    }
    WriteFile(bytes);
    ExpectSetAsideAndReplaced(bytes);
}

TEST_F(RegistryDamagedHiveTest, ASoundHiveIsNeverSetAside) {
    {
        auto hive = RegistryHive::Open(path_);
        hive->SetValue(*hive->OpenKey("K", true), "kept", RegValue::FromDWord(7));
    }
    auto hive = RegistryHive::Open(path_);
    ASSERT_TRUE(hive);
    EXPECT_TRUE(hive->GetValue(*hive->OpenKey("K", false), "kept"));
    EXPECT_TRUE(FilesStartingWith("registry.db.damaged-").empty());
}

}  // namespace
}  // namespace gx
