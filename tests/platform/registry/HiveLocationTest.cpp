#include "platform/registry/HiveLocation.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>

#include "platform/registry/TempHive.h"

namespace gx {
namespace {

// Sets an environment variable for the test's duration (unset with nullopt).
class ScopedVariable {
  public:
    ScopedVariable(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = getenv(name)) {
            old_ = old;
        }
        value ? setenv(name, value->c_str(), 1) : unsetenv(name);
    }
    ~ScopedVariable() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

bool MachineFolderIsUsable() {
    return access(kMachineHiveFolder, W_OK | X_OK) == 0;
}

using RegistryLocationTest = testing::TempHiveTest;

TEST_F(RegistryLocationTest, TheNamedFileComesFirst) {
    EXPECT_EQ(HivePath(), path_);
    ASSERT_TRUE(ProcessHive());
    EXPECT_EQ(ProcessHive()->Path(), path_);
    EXPECT_TRUE(std::filesystem::exists(path_));
}

TEST_F(RegistryLocationTest, OtherwiseTheUsersDataFolderIsUsedAndCreated) {
    if (MachineFolderIsUsable()) {
        GTEST_SKIP() << "this machine has a machine-wide hive folder";
    }
    ScopedVariable named(kHivePathVariable, std::nullopt);
    struct Case {
        std::optional<std::string> xdg;
        std::string expectedFolder;
    };
    const Case cases[] = {
        {folder_ + "/xdg", folder_ + "/xdg/gardalix"},
        {std::nullopt, folder_ + "/home/.local/share/gardalix"},
        {"", folder_ + "/home/.local/share/gardalix"},
        {"relative/data", folder_ + "/home/.local/share/gardalix"},
    };
    ScopedVariable home("HOME", folder_ + "/home");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.xdg.value_or("(unset)"));
        ScopedVariable xdg("XDG_DATA_HOME", c.xdg);
        EXPECT_EQ(HivePath(), c.expectedFolder + "/registry.db");
        CloseProcessHive();
        ASSERT_TRUE(ProcessHive());
        EXPECT_TRUE(std::filesystem::is_regular_file(c.expectedFolder + "/registry.db"));
        struct stat info {};
        ASSERT_EQ(stat(c.expectedFolder.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0700u);
        std::filesystem::remove_all(c.expectedFolder);
    }
}

TEST_F(RegistryLocationTest, AHiveThatCannotBeOpenedIsTriedAgainLater) {
    UseHive(folder_ + "/later/registry.db");
    EXPECT_FALSE(ProcessHive());
    std::filesystem::create_directory(folder_ + "/later");
    EXPECT_TRUE(ProcessHive());
}

}  // namespace
}  // namespace gx
