#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include "host/FmxUtils.h"
#include "host/GX_detect_win10.h"
#include "host/GX_megakillprocess.h"
#include "host/WindowsDir.h"

// Readable failures.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace gx {
namespace {

TEST(WorkstationVersionTest, OnlyAVersionHolding10DotCountsAsWindows10) {
    struct Case {
        const char* version;
        bool isWin10;
    };
    const Case cases[] = {
        {"10.0", true}, {"6.1", false}, {"", false}, {"6.10.2", true}, {"10", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        EXPECT_EQ(IsWin10VersionText(c.version), c.isWin10);
    }
    // No workstation service answers on this system.
    EXPECT_EQ(GetWorkstationVersion(), "");
    EXPECT_FALSE(IsWin10());
    EXPECT_EQ(Win10Version(), "");
}

TEST(WindowsDirTest, TheSystemFolderIsUnknownAndTheDriveFallsBackToC) {
    EXPECT_EQ(GetWindowsDir(), "?/");
    EXPECT_EQ(GetSystemDriveLetter(), "C");
    struct Case {
        const char* dir;
        const char* letter;
    };
    const Case cases[] = {{"C:\\Windows\\", "C"}, {"D:\\WINNT\\", "D"}, {"?\\", "C"}, {"", "C"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dir);
        EXPECT_EQ(SystemDriveLetterOf(c.dir), c.letter);
    }
}

TEST(KillProcessTest, KillsAnotherProcessAndRefusesWhatNamesNoSingleProcess) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        pause();
        _exit(5);
    }
    EXPECT_TRUE(KillProcessById(static_cast<uint32_t>(child)));
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGKILL);

    // Ended and reaped: nothing to kill.
    EXPECT_FALSE(KillProcessById(static_cast<uint32_t>(child)));
    // 0 and the numbers that kill() reads as groups or "every process" never reach it.
    EXPECT_FALSE(KillProcessById(0));
    EXPECT_FALSE(KillProcessById(0xFFFFFFFFu));
    EXPECT_FALSE(KillProcessById(0x80000000u));
}

TEST(KillProcessTest, TheDebugPrivilegeSaysWhetherOtherUsersProcessesCanBeSignalled) {
    if (geteuid() != 0) {
        // An ordinary user holds no right over other users' processes.
        EXPECT_FALSE(EnableDebugPrivilege());
        return;
    }
    // A process of another user: signalling it works exactly when the privilege says so.
    const pid_t other = fork();
    ASSERT_GE(other, 0);
    if (other == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) {
            _exit(2);
        }
        // Once an ordinary user, this process has lost the privilege.
        _exit(EnableDebugPrivilege() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(other, &status, 0), other);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t sleeper = fork();
    ASSERT_GE(sleeper, 0);
    if (sleeper == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) {
            _exit(2);
        }
        const char byte = 1;
        (void)!write(ready[1], &byte, 1);  // now another user's process
        pause();
        _exit(0);
    }
    close(ready[1]);
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    close(ready[0]);
    // The signal 0 only asks whether a signal would be allowed.
    EXPECT_EQ(EnableDebugPrivilege(), kill(sleeper, 0) == 0);
    kill(sleeper, SIGKILL);
    waitpid(sleeper, &status, 0);
}

TEST(KillProcessTest, KillingItsOwnProcessEndsItAtOnceWithStatusZero) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            KillProcessById(static_cast<uint32_t>(getpid()));
            std::exit(4);
        },
        ::testing::ExitedWithCode(0), "");
}

class Opened : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> urls;
  public slots:
    void Open(const QUrl& url) { urls.push_back(url); }
};

class ShellOpenTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "gx_host_tests";
        static char* argv[] = {name, nullptr};
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static QGuiApplication app(argc, argv);
    }
    void SetUp() override {
        ASSERT_TRUE(folder_.isValid());
        for (const char* scheme : {"http", "https", "file"}) {
            QDesktopServices::setUrlHandler(QLatin1String(scheme), &opened_, "Open");
        }
    }
    void TearDown() override {
        for (const char* scheme : {"http", "https", "file"}) {
            QDesktopServices::unsetUrlHandler(QLatin1String(scheme));
        }
    }
    QTemporaryDir folder_;
    Opened opened_;
};

TEST_F(ShellOpenTest, StartsAnExecutableInTheGivenFolderWithItsParameters) {
    const QString script = folder_.filePath("restart.sh");
    QFile file(script);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(
        "#!/bin/sh\nprintf '%s\\n' \"$PWD\" \"$@\" > \"$PWD/ran.txt.tmp\"\n"
        "mv \"$PWD/ran.txt.tmp\" \"$PWD/ran.txt\"\n");
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QTemporaryDir workDir;
    ASSERT_TRUE(workDir.isValid());

    EXPECT_TRUE(ShellOpen(script.toStdString(), "one \"two three\"", workDir.path().toStdString()));

    QFile ran(workDir.filePath("ran.txt"));
    QElapsedTimer clock;
    clock.start();
    while (!ran.exists() && clock.elapsed() < 30000) {
        QThread::msleep(20);
    }
    ASSERT_TRUE(ran.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(ran.readAll()).split('\n'),
              (QStringList{workDir.path(), "one", "two three", ""}));
    EXPECT_TRUE(opened_.urls.isEmpty());
}

TEST_F(ShellOpenTest, HandsAddressesAndDocumentsToTheDesktopOpener) {
    const QString document = folder_.filePath("page de test é.html");
    QFile file(document);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();

    EXPECT_TRUE(ShellOpen("https://www.gardalix.example/test_malware"));
    EXPECT_TRUE(ShellOpen(document.toStdString()));
    EXPECT_FALSE(ShellOpen(""));

    ASSERT_EQ(opened_.urls.size(), 2);
    EXPECT_EQ(opened_.urls[0], QUrl("https://www.gardalix.example/test_malware"));
    EXPECT_EQ(opened_.urls[1], QUrl::fromLocalFile(document));
}

}  // namespace
}  // namespace gx

#include "HostTest.moc"
