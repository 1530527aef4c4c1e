#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <cstdlib>
#include <thread>

#include "platform/instance/InstanceLock.h"
#include "platform/instance/ShowConsoleChannel.h"

namespace gx {
namespace {

QCoreApplication& App() {
    static int argc = 1;
    static char name[] = "gx_instance_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);
    return application;
}

class InstanceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        App();
        ASSERT_TRUE(folder_.isValid());
        path_ = folder_.path().toStdString();
    }
    QTemporaryDir folder_;
    std::string path_;
};

TEST_F(InstanceTest, OnlyTheFirstTakerHoldsTheLockAndItsEndReleasesIt) {
    // A first copy in another process that ends: the lock goes with it.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        _exit(AcquireInstanceLock(path_) == InstanceState::FirstCopy ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    EXPECT_EQ(AcquireInstanceLock(path_), InstanceState::FirstCopy);
    EXPECT_EQ(AcquireInstanceLock(path_), InstanceState::AnotherCopyRuns);

    // A process started while this one holds it sees another copy.
    const pid_t second = fork();
    ASSERT_GE(second, 0);
    if (second == 0) {
        _exit(AcquireInstanceLock(path_) == InstanceState::AnotherCopyRuns ? 0 : 1);
    }
    ASSERT_EQ(waitpid(second, &status, 0), second);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(InstanceTest, NoUsableFolderLetsTheStartGoOnAsTheFirstCopy) {
    EXPECT_EQ(AcquireInstanceLock(""), InstanceState::FirstCopy);
    EXPECT_EQ(AcquireInstanceLock(path_ + "/missing/folder"), InstanceState::FirstCopy);
}

TEST_F(InstanceTest, TheFolderIsTheRuntimeFolderElseAPrivateFolderUnderTmp) {
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(path_));
    EXPECT_EQ(InstanceFolder(), path_);

    qunsetenv("XDG_RUNTIME_DIR");
    const std::string fallback = InstanceFolder();
    EXPECT_EQ(fallback, "/tmp/gardalix-" + std::to_string(getuid()));
    struct stat info {};
    ASSERT_EQ(lstat(fallback.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(info.st_uid, getuid());
    if (!saved.isNull()) {
        qputenv("XDG_RUNTIME_DIR", saved);
    }
}

TEST_F(InstanceTest, TheSecondCopyReturnsOnlyAfterTheRunningConsoleHandledTheMessage) {
    int handled = 0;
    ShowConsoleServer server([&handled] { ++handled; });
    ASSERT_TRUE(server.Listen(path_));

    std::atomic<int> result{-1};
    std::atomic<int> handledWhenAnswered{-1};
    std::thread second([&] {
        const bool answered = SendShowConsoleMessage(path_);
        handledWhenAnswered = handled;  // read after the reply: the handler ran before it
        result = answered ? 1 : 0;
    });
    QElapsedTimer clock;
    clock.start();
    while (result < 0 && clock.elapsed() < 30000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    second.join();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(handledWhenAnswered, 1);
    EXPECT_EQ(handled, 1);
}

TEST_F(InstanceTest, NoListeningConsoleMeansNoWindowFound) {
    EXPECT_FALSE(SendShowConsoleMessage(path_, 2000));
    // A socket left behind by a copy that ended is no console either, and is replaced.
    {
        ShowConsoleServer ended([] {});
        ASSERT_TRUE(ended.Listen(path_));
    }
    QFile stale(QString::fromStdString(ShowConsoleSocketPath(path_)));
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.close();
    EXPECT_FALSE(SendShowConsoleMessage(path_, 2000));
    int handled = 0;
    ShowConsoleServer server([&handled] { ++handled; });
    EXPECT_TRUE(server.Listen(path_));
}

TEST_F(InstanceTest, OtherBytesOnTheSocketDoNotShowTheConsole) {
    int handled = 0;
    ShowConsoleServer server([&handled] { ++handled; });
    ASSERT_TRUE(server.Listen(path_));
    std::thread stranger([&] {
        const std::string path = ShowConsoleSocketPath(path_);
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof(address.sun_path), "%s", path.c_str());
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
            (void)write(fd, "HELLO", 5);
            char byte;
            (void)read(fd, &byte, 1);  // the server closes the connection
        }
        close(fd);
    });
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 1500) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    stranger.join();
    EXPECT_EQ(handled, 0);
}

}  // namespace
}  // namespace gx
