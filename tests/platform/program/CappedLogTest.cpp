#include "platform/program/CappedLog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <regex>

#include "platform/program/LocalTime.h"
#include "platform/program/UserDataFolder.h"
#include "platform/program/WholeFile.h"
#include "support/TempFolder.h"

namespace gx {
namespace {

TEST(CappedLog, EachLineIsDatedAndAppended) {
    testing::TempFolder folder;
    const std::string log = folder.File("gx.log");
    AppendLogLine(log, "première ligne", 1024);
    AppendLogLine(log, "deuxième ligne", 1024);
    const std::string text = ReadWholeFile(log).value();
    const std::regex line("\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2} ");
    EXPECT_TRUE(std::regex_search(text, line)) << text;
    EXPECT_NE(text.find(" première ligne\n"), std::string::npos);
    EXPECT_TRUE(text.ends_with(" deuxième ligne\n")) << text;
    struct stat status {};
    ASSERT_EQ(::stat(log.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
}

TEST(CappedLog, ALogPastItsBoundIsSetAsideAndANewOneBegun) {
    testing::TempFolder folder;
    const std::string log = folder.File("gx.log");
    const std::string filler(100, 'x');  // a line of 121 bytes with its date
    for (int i = 0; i < 3; ++i) {
        AppendLogLine(log, filler, 250);  // 121, 242, then 363 bytes: set aside only once past
    }
    EXPECT_FALSE(ReadWholeFile(log + ".1").has_value());
    AppendLogLine(log, "après", 250);
    EXPECT_EQ(ReadWholeFile(log + ".1").value().size(), 3 * 121u);
    const std::string current = ReadWholeFile(log).value();
    EXPECT_EQ(std::count(current.begin(), current.end(), '\n'), 1) << current;
    EXPECT_TRUE(current.ends_with(" après\n")) << current;
}

TEST(CappedLog, NeitherALinkNorAFifoAtItsPathIsWrittenOrWaitedFor) {
    testing::TempFolder folder;
    const std::string target = folder.File("elsewhere.txt");
    ASSERT_TRUE(ReplaceFile(target, "kept\n", 0600));
    const std::string linked = folder.File("linked.log");
    ASSERT_EQ(::symlink(target.c_str(), linked.c_str()), 0);
    AppendLogLine(linked, "must not land", 1);
    EXPECT_EQ(ReadWholeFile(target).value(), "kept\n");
    struct stat status {};
    ASSERT_EQ(::lstat(linked.c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));  // not renamed to .1 either

    const std::string fifo = folder.File("fifo.log");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    AppendLogLine(fifo, "nobody reads", 1);  // returns at once: nothing opens the other end
    ASSERT_EQ(::lstat(fifo.c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
}

TEST(ProgramPieces, LocalTimeAndTheUsersDataFolder) {
    EXPECT_EQ(LocalTimeText(0, "%%"), "%");
    EXPECT_EQ(LocalTimeText(std::time(nullptr), "%Y").size(), 4u);
    EXPECT_EQ(LocalTimeText(0, ""), "");
    EXPECT_EQ(UserDataBase("/home/a", "/data/a"), "/data/a");
    EXPECT_EQ(UserDataBase("/home/a", "relative"), "/home/a/.local/share");
    EXPECT_EQ(UserDataBase("", ""), "/tmp");
    EXPECT_EQ(ProgramDataFolder("/data/a", "lists"), "/data/a/gardalix/lists");
}

}  // namespace
}  // namespace gx
