// The program itself, started as a user would: one running copy, the hand-off of a second
// launch, and a session without a display.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "ConsoleTestSupport.h"
#include "console/ProgramStart.h"
#include "platform/instance/InstanceLock.h"

namespace gx::test {
namespace {

class ConsoleProgramTest : public ::testing::Test {
  protected:
    void SetUp() override {
        App();
        ASSERT_TRUE(runtime_.isValid());
        program_ = QStringLiteral(GX_PROGRAM_DIR "/gardalix");
    }

    // A gardalix process on this test's runtime folder, without a display.
    std::unique_ptr<QProcess> Start(const QString& program = {}) {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        env.insert("XDG_RUNTIME_DIR", runtime_.path());
        env.insert("GARDALIX_REGISTRY", runtime_.filePath("registry.db"));
        env.insert("GARDALIX_PROXY", "127.0.0.1:0");
        env.insert("GX_TRACE_CONSOLE", "1");
        process->setProcessEnvironment(env);
        process->start(program.isEmpty() ? program_ : program, {});
        EXPECT_TRUE(process->waitForStarted(10000));
        return process;
    }

    // Everything the process wrote on stderr so far, waiting until `needle` shows.
    static bool WaitForStderr(QProcess& process, QByteArray& seen, const QByteArray& needle) {
        for (int waited = 0; waited < 30000 && !seen.contains(needle); waited += 100) {
            process.waitForReadyRead(100);
            seen += process.readAllStandardError();
        }
        return seen.contains(needle);
    }

    static void Stop(QProcess& process) {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(10000)) {
                process.kill();
                process.waitForFinished(10000);
            }
        }
    }

    QTemporaryDir runtime_;
    QString program_;
};

TEST_F(ConsoleProgramTest, ASecondLaunchEndsWithStatusZeroAndTheFirstShowsItsConsole) {
    auto first = Start();
    QByteArray firstErr;
    ASSERT_TRUE(WaitForStderr(*first, firstErr, "la console n'est pas visible")) << firstErr.data();
    EXPECT_FALSE(firstErr.contains("console shown"));

    auto second = Start();
    ASSERT_TRUE(second->waitForFinished(30000));
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0);
    const QByteArray secondErr = second->readAllStandardError();
    EXPECT_FALSE(secondErr.contains("console shown"));
    EXPECT_FALSE(secondErr.contains("la console n'est pas visible"));

    // The first copy handled the message before the second one ended.
    EXPECT_TRUE(WaitForStderr(*first, firstErr, "console shown")) << firstErr.data();
    EXPECT_EQ(firstErr.count("la console n'est pas visible"), 1);
    EXPECT_EQ(first->state(), QProcess::Running);

    // SIGTERM ends it through the normal shutdown.
    first->terminate();
    ASSERT_TRUE(first->waitForFinished(30000));
    EXPECT_EQ(first->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first->exitCode(), 0);
}

TEST_F(ConsoleProgramTest, AMissingListIsToldAndEndsTheProgramWithStatusZero) {
    // A copy of the program in a folder without its block lists.
    QTemporaryDir programDir;
    ASSERT_TRUE(programDir.isValid());
    const QString copy = programDir.filePath("gardalix");
    ASSERT_TRUE(QFile::copy(program_, copy));
    auto process = Start(copy);
    ASSERT_TRUE(process->waitForFinished(30000));
    EXPECT_EQ(process->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process->exitCode(), 0);
    const QString told = QString::fromUtf8(process->readAllStandardError());
    EXPECT_TRUE(
        told.contains("Erreur fichier gx_pu.dat : Erreur lors du chargement du fichier gx_pu.dat"))
        << told.toStdString();
    EXPECT_FALSE(told.contains("gx_mu.dat"));
    EXPECT_FALSE(told.contains("console"));
}

TEST_F(ConsoleProgramTest, ASecondLaunchThatFindsNoConsoleEndsSilentlyWithStatusZero) {
    // The lock is held by a copy whose console does not exist yet (here: this test).
    ASSERT_EQ(AcquireInstanceLock(runtime_.path().toStdString()), InstanceState::FirstCopy);
    auto second = Start();
    ASSERT_TRUE(second->waitForFinished(30000));
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_TRUE(second->readAllStandardError().isEmpty());
}

TEST_F(ConsoleProgramTest, ListsPrintsTheListsThatAStartWouldUse) {
    auto printLists = [this] {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", runtime_.path());
        process.setProcessEnvironment(env);
        process.start(program_, {QStringLiteral("--lists")});
        EXPECT_TRUE(process.waitForFinished(30000));
        EXPECT_EQ(process.exitCode(), 0);
        return QString::fromUtf8(process.readAllStandardOutput());
    };
    const QString shipped = printLists();
    EXPECT_TRUE(shipped.startsWith("Listes livrées avec le programme, du "))
        << shipped.toStdString();
    EXPECT_TRUE(shipped.contains(" adresses et 2 909 sites entiers bloqués.\n"))
        << shipped.toStdString();

    // Lists that a refresh stored, signed with the key the development build ships.
    if (!QFile::exists(GX_DEV_UPDATE_KEY)) {
        GTEST_SKIP() << "the build ships a maker's key: no bundle can be signed here";
    }
    QFile malware(runtime_.filePath("MALWARE.txt"));
    ASSERT_TRUE(malware.open(QIODevice::WriteOnly));
    malware.write("one.example/\ntwo.example/\nwhole.example/*\n");
    malware.close();
    QFile adult(runtime_.filePath("ADULT.txt"));
    ASSERT_TRUE(adult.open(QIODevice::WriteOnly));
    adult.close();
    const QString site = runtime_.filePath("site");
    QProcess publish;
    publish.start(GX_PUBLISH_PROGRAM,
                  {"lists", GX_DEV_UPDATE_KEY, malware.fileName(), adult.fileName(), site});
    ASSERT_TRUE(publish.waitForFinished(30000));
    ASSERT_EQ(publish.exitCode(), 0) << publish.readAllStandardError().toStdString();
    const QStringList bundles =
        QDir(site + "/update2024/gardalix/lists").entryList({"gxlists-*.dat"});
    ASSERT_EQ(bundles.size(), 1);
    ASSERT_TRUE(QDir().mkpath(runtime_.filePath("gardalix/lists")));
    ASSERT_TRUE(QFile::copy(site + "/update2024/gardalix/lists/" + bundles[0],
                            runtime_.filePath("gardalix/lists/gx_lists.dat")));
    const QString refreshed = printLists();
    EXPECT_TRUE(refreshed.startsWith("Listes mises à jour le ")) << refreshed.toStdString();
    EXPECT_TRUE(refreshed.contains(" : 2 adresses et 1 sites entiers bloqués.\n"))
        << refreshed.toStdString();
}

TEST(ConsoleProgramEnvironment, APrivilegedStartForgetsTheCallersQtSettingsOnly) {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");  // the tests' own, put back after
    const char* callers[] = {"QT_PLUGIN_PATH", "QT_QPA_PLATFORM_PLUGIN_PATH", "QML2_IMPORT_PATH",
                             "QT_STYLE_OVERRIDE"};
    for (const char* name : callers) {
        ::setenv(name, "/tmp/someone-elses-plugins", 1);
    }
    ::setenv("GX_KEPT_SETTING", "kept", 1);

    ForgetCallersQtSettings(false);
    EXPECT_NE(::getenv("QT_PLUGIN_PATH"), nullptr);  // an ordinary start keeps them

    ForgetCallersQtSettings(true);
    for (const char* name : callers) {
        SCOPED_TRACE(name);
        EXPECT_EQ(::getenv(name), nullptr);
    }
    EXPECT_STREQ(::getenv("GX_KEPT_SETTING"), "kept");
    ::unsetenv("GX_KEPT_SETTING");
    qputenv("QT_QPA_PLATFORM", platform);
}

}  // namespace
}  // namespace gx::test
