// A program killed while it records blocks must lose none of the entries it had recorded, and
// must leave a hive that the next start opens as it is.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <string>

#include "platform/codepage/Cp1252.h"
#include "platform/registry/TempHive.h"
#include "store/GX_ConfigReg.h"

namespace gx {
namespace {

using ConfigRegCrashTest = testing::TempHiveTest;

// In the child: records entries as fast as it can and reports each address, one per line,
// once AddLogEntry has returned. Never returns.
[[noreturn]] void RecordUntilKilled(int round, int reportFd) {
    try {
        for (int i = 0;; ++i) {
            const std::string url =
                "round" + std::to_string(round) + Cp1252(".exemple/é") + std::to_string(i);
            if (!AddLogEntry("07/02/2024 14:05:09", url, Cp1252("Site malveillant"))) {
                _exit(2);
            }
            const std::string line = url + "\n";
            if (write(reportFd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
                _exit(3);
            }
        }
    } catch (...) {
        _exit(4);
    }
}

// Reads report lines until `wanted` have come (or the child has gone); complete lines only.
void ReadReports(int fd, size_t wanted, std::string& buffer, std::set<std::string>& reported) {
    char chunk[4096];
    while (reported.size() < wanted) {
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, 120000) <= 0) {
            return;
        }
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0) {
            return;
        }
        buffer.append(chunk, n);
        for (size_t end; (end = buffer.find('\n')) != std::string::npos; buffer.erase(0, end + 1)) {
            reported.insert(buffer.substr(0, end));
        }
    }
}

TEST_F(ConfigRegCrashTest, EveryEntryReportedWrittenSurvivesSigkill) {
    std::set<std::string> allReported;
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        CloseProcessHive();  // no open hive may cross the fork
        int report[2];
        ASSERT_EQ(pipe(report), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(report[0]);
            RecordUntilKilled(round, report[1]);
        }
        close(report[1]);
        std::string buffer;
        std::set<std::string> reported;
        // Kill after a different number of entries each round, in the middle of the next write.
        ReadReports(report[0], 20 + 45 * round, buffer, reported);
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ReadReports(report[0], SIZE_MAX, buffer, reported);  // what it reported before dying
        close(report[0]);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
            << "the child ended by itself with status " << status;
        ASSERT_GE(reported.size(), 20u + 45 * round);
        allReported.insert(reported.begin(), reported.end());

        ::testing::internal::CaptureStderr();
        const auto records = ReadLogRecords();
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
        std::set<std::string> stored;
        for (const auto& record : records) {
            stored.insert(record.url);
        }
        for (const auto& url : allReported) {
            ASSERT_TRUE(stored.count(url)) << "lost: " << Cp1252ToUtf8(url);
        }
        // At most the entry that was being written when the child died is there unreported.
        EXPECT_LE(stored.size(), allReported.size() + round + 1);
    }
    EXPECT_TRUE(FilesStartingWith("registry.db.damaged-").empty());
}

}  // namespace
}  // namespace gx
