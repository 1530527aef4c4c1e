// The update's files: the user's temporary folder, the forced deletion, the exclusive target,
// the old installers and the checksum.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>

#include "support/TempFolder.h"
#include "update/UpdateFiles.h"

namespace gx {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

mode_t ModeOf(const std::string& path) {
    struct stat status {};
    ::lstat(path.c_str(), &status);
    return status.st_mode & 07777;
}

// Sets the variables that choose the temporary folder for one test and puts them back after.
class TempDirectoryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : kNames) {
            if (const char* value = std::getenv(name)) {
                saved_[name] = value;
            }
            unsetenv(name);
        }
    }
    void TearDown() override {
        for (const char* name : kNames) {
            const auto value = saved_.find(name);
            if (value != saved_.end()) {
                setenv(name, value->second.c_str(), 1);
            } else {
                unsetenv(name);
            }
        }
    }
    static constexpr const char* kNames[] = {"TMPDIR", "XDG_RUNTIME_DIR", "XDG_CACHE_HOME", "HOME"};
    std::map<std::string, std::string> saved_;
    gx::testing::TempFolder folder_;
};

TEST_F(TempDirectoryTest, TheUsersOwnFolderIsChosenInOrderWithATrailingSeparator) {
    const std::string tmp = folder_.File("tmp");
    const std::string runtime = folder_.File("run") + "/";
    setenv("TMPDIR", tmp.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    setenv("XDG_CACHE_HOME", folder_.File("cache").c_str(), 1);
    EXPECT_EQ(GetTempDirectory(), tmp + "/");
    unsetenv("TMPDIR");
    EXPECT_EQ(GetTempDirectory(), runtime);
    unsetenv("XDG_RUNTIME_DIR");
    const std::string cacheFolder = folder_.File("cache") + "/gardalix-tmp";
    EXPECT_EQ(GetTempDirectory(), cacheFolder + "/");
    EXPECT_TRUE(fs::is_directory(cacheFolder));
    EXPECT_EQ(ModeOf(cacheFolder), 0700u);
}

TEST_F(TempDirectoryTest, TheCacheFolderComesFromHomeAndIsMadePrivate) {
    setenv("HOME", folder_.Path().c_str(), 1);
    const std::string folder = folder_.File(".cache") + "/gardalix-tmp";
    fs::create_directories(folder);
    ::chmod(folder.c_str(), 0777);
    EXPECT_EQ(GetTempDirectory(), folder + "/");
    EXPECT_EQ(ModeOf(folder), 0700u);
}

TEST_F(TempDirectoryTest, ALinkOrNoPlaceAtAllGivesAQuestionMark) {
    setenv("XDG_CACHE_HOME", folder_.Path().c_str(), 1);
    fs::create_directory(folder_.File("elsewhere"));
    fs::create_directory_symlink(folder_.File("elsewhere"), folder_.File("gardalix-tmp"));
    EXPECT_EQ(GetTempDirectory(), "?");
    unsetenv("XDG_CACHE_HOME");  // and no HOME either
    EXPECT_EQ(GetTempDirectory(), "?");
}

TEST(UpdateFilesTest, AReadOnlyFileIsDeletedAndALinkIsDeletedWithoutTouchingItsTarget) {
    gx::testing::TempFolder folder;
    const std::string file = folder.File("gxsoft.dat");
    std::ofstream(file) << "old";
    ::chmod(file.c_str(), 0400);
    EXPECT_TRUE(ForceDeleteFile(file));
    EXPECT_FALSE(fs::exists(file));

    const std::string target = folder.File("target");
    std::ofstream(target) << "keep";
    ::chmod(target.c_str(), 0444);
    fs::create_symlink(target, file);
    EXPECT_TRUE(ForceDeleteFile(file));
    EXPECT_FALSE(fs::is_symlink(file));
    EXPECT_EQ(ReadAll(target), "keep");
    EXPECT_EQ(ModeOf(target), 0444u);
    EXPECT_FALSE(ForceDeleteFile(folder.File("missing")));
}

TEST(UpdateFilesTest, TheTargetIsCreatedOnlyWhereNothingLies) {
    gx::testing::TempFolder folder;
    const std::string file = folder.File("gxsoft.dat");
    {
        auto stream = CreateDownloadTarget(file);
        ASSERT_NE(stream, nullptr);
        EXPECT_TRUE(stream->Write("abc", 3));
    }
    EXPECT_EQ(ReadAll(file), "abc");
    EXPECT_EQ(ModeOf(file), 0600u);
    EXPECT_EQ(CreateDownloadTarget(file), nullptr);  // exists
    EXPECT_EQ(ReadAll(file), "abc");
    fs::remove(file);
    const std::string target = folder.File("target");
    fs::create_symlink(target, file);
    EXPECT_EQ(CreateDownloadTarget(file), nullptr);  // a dangling link is not followed
    EXPECT_FALSE(fs::exists(target));
}

TEST(UpdateFilesTest, OldInstallersGoFromBothFoldersAndAnUnknownTempFolderIsSkipped) {
    gx::testing::TempFolder program;
    gx::testing::TempFolder temp;
    std::ofstream(program.File("gxsoft")) << "1";
    std::ofstream(temp.File("gxsoft")) << "2";
    std::ofstream(temp.File("gxsoft.dat")) << "3";
    DeleteOldInstallers(program.Path().string() + "/", temp.Path().string());
    EXPECT_FALSE(fs::exists(program.File("gxsoft")));
    EXPECT_FALSE(fs::exists(temp.File("gxsoft")));
    EXPECT_TRUE(fs::exists(temp.File("gxsoft.dat")));
    std::ofstream(program.File("gxsoft")) << "1";
    DeleteOldInstallers(program.Path().string() + "/", "?");  // nothing else, no error
    EXPECT_FALSE(fs::exists(program.File("gxsoft")));
    DeleteOldInstallers(program.Path().string() + "/", temp.Path().string());  // all missing
}

TEST(UpdateFilesTest, TheChecksumIsTheSha256OfTheContentInEitherLetterCase) {
    gx::testing::TempFolder folder;
    const std::string file = folder.File("f");
    std::ofstream(file) << "abc";
    const std::string sha = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    EXPECT_EQ(FileSha256Hex(file), sha);
    EXPECT_TRUE(FileMatchesSha256(file, sha));
    EXPECT_TRUE(FileMatchesSha256(
        file, "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"));
    EXPECT_FALSE(FileMatchesSha256(file, sha.substr(1)));
    EXPECT_FALSE(FileMatchesSha256(file, ""));
    EXPECT_FALSE(FileMatchesSha256(folder.File("missing"), sha));
    std::ofstream(folder.File("empty"));
    EXPECT_EQ(FileSha256Hex(folder.File("empty")),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

}  // namespace
}  // namespace gx
