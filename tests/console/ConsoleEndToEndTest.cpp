// The whole program: gardalix started without a display on a temporary hive and a free proxy
// port; curl fetches a listed address through the proxy, gets the block page, and the history
// holds one entry about five seconds later, with curl's path; the alert for a program that is
// not a browser is one line on stderr.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <filesystem>

#include "lists/ProductSite.h"
#include "platform/registry/HiveLocation.h"
#include "store/GX_ConfigReg.h"

namespace gx {
namespace {

class ConsoleEndToEndTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.isValid());
        hive_ = folder_.filePath("registry.db");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        env.insert("XDG_RUNTIME_DIR", folder_.path());
        env.insert("GARDALIX_REGISTRY", hive_);
        env.insert("GARDALIX_PROXY", "127.0.0.1:0");
        gardalix_.setProcessEnvironment(env);
        gardalix_.start(QStringLiteral(GX_PROGRAM_DIR "/gardalix"), {});
        ASSERT_TRUE(gardalix_.waitForStarted(10000));
    }

    void TearDown() override {
        gardalix_.terminate();
        if (!gardalix_.waitForFinished(10000)) {
            gardalix_.kill();
            gardalix_.waitForFinished(10000);
        }
        CloseProcessHive();
        qunsetenv(kHivePathVariable);
    }

    // The proxy's port, from the notice that the program writes once the protection runs.
    int ProxyPort() {
        const QRegularExpression notice(QStringLiteral("le proxy écoute sur [0-9.]+:([0-9]+)"));
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 30000) {
            ReadStderr(200);
            if (const auto match = notice.match(stderr_); match.hasMatch()) {
                return match.captured(1).toInt();
            }
        }
        ADD_FAILURE() << "no proxy notice; stderr: " << stderr_.toStdString();
        return 0;
    }

    // Adds what the program wrote on stderr meanwhile to stderr_.
    void ReadStderr(int waitMs) {
        gardalix_.waitForReadyRead(waitMs);
        stderr_ += QString::fromUtf8(gardalix_.readAllStandardError());
    }

    // The lines of stderr_ that are alerts.
    QStringList Alerts() const {
        QStringList alerts;
        for (const QString& line : stderr_.split(QLatin1Char('\n'))) {
            if (line.startsWith(QStringLiteral("Gardalix : programme suspect : "))) {
                alerts.push_back(line);
            }
        }
        return alerts;
    }

    std::vector<std::string> HistoryEntries() {
        qputenv(kHivePathVariable, hive_.toLocal8Bit());
        CloseProcessHive();  // read the file afresh
        std::vector<std::string> entries;
        ReadLogEntries(entries);
        return entries;
    }

    QTemporaryDir folder_;
    QString hive_;
    QProcess gardalix_;
    QString stderr_;
};

// curl (or the given copy of it) fetches the test page through the proxy; returns what it
// received.
QByteArray FetchTestPage(int proxyPort, const QString& program = QStringLiteral("curl")) {
    QProcess curl;
    curl.start(program, {"--silent", "--include", "--max-time", "60", "--noproxy", "", "--proxy",
                         QStringLiteral("http://127.0.0.1:%1").arg(proxyPort),
                         QStringLiteral("http://%1").arg(QLatin1String(kTestPageAddress))});
    curl.waitForFinished(90000);
    return curl.readAllStandardOutput();
}

TEST_F(ConsoleEndToEndTest, AListedAddressGetsTheBlockPageAndOneHistoryEntry) {
    const int port = ProxyPort();
    ASSERT_NE(port, 0);

    const QByteArray answer = FetchTestPage(port);
    EXPECT_TRUE(answer.startsWith("HTTP/1.1 404 Not OK")) << answer.left(200).toStdString();
    EXPECT_TRUE(answer.contains("Gardalix")) << answer.toStdString();

    // The entry is written when the history timer ticks, about five seconds after the block.
    QElapsedTimer clock;
    clock.start();
    std::vector<std::string> entries = HistoryEntries();
    EXPECT_TRUE(entries.empty());
    while (entries.empty() && clock.elapsed() < 30000) {
        QThread::msleep(250);
        entries = HistoryEntries();
    }
    QThread::msleep(500);
    entries = HistoryEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(ExtractField(entries[0], 2), kTestPageAddress);
    EXPECT_EQ(ExtractField(entries[0], 3), "URL de test (sans danger)");
    EXPECT_FALSE(ExtractField(entries[0], 1).empty());
    EXPECT_EQ(gardalix_.state(), QProcess::Running);
}

TEST_F(ConsoleEndToEndTest, AProgramEndedRightAfterABlockStillRecordsIt) {
    const int port = ProxyPort();
    ASSERT_NE(port, 0);
    ASSERT_TRUE(FetchTestPage(port).startsWith("HTTP/1.1 404 Not OK"));

    gardalix_.terminate();
    ASSERT_TRUE(gardalix_.waitForFinished(30000));
    EXPECT_EQ(gardalix_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(gardalix_.exitCode(), 0);
    const std::vector<std::string> entries = HistoryEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(ExtractField(entries[0], 2), kTestPageAddress);
}

TEST_F(ConsoleEndToEndTest, TheEntryKeepsCurlsPathWhichGardalixHistoryPrints) {
    const int port = ProxyPort();
    ASSERT_NE(port, 0);
    ASSERT_TRUE(FetchTestPage(port).startsWith("HTTP/1.1 404 Not OK"));
    gardalix_.terminate();  // the pending entry is written at the end
    ASSERT_TRUE(gardalix_.waitForFinished(30000));

    const std::string curl = std::filesystem::canonical("/usr/bin/curl").string();
    const std::vector<LogValue> values = [&] {
        HistoryEntries();  // reopens the hive file
        return ReadLogValues();
    }();
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].program, curl);

    QProcess history;
    history.setProcessEnvironment(gardalix_.processEnvironment());
    history.start(QStringLiteral(GX_PROGRAM_DIR "/gardalix"), {QStringLiteral("--history")});
    ASSERT_TRUE(history.waitForFinished(30000));
    EXPECT_EQ(history.exitCode(), 0);
    const QList<QByteArray> fields = history.readAllStandardOutput().split('\t');
    ASSERT_EQ(fields.size(), 4);
    EXPECT_EQ(fields[0].toStdString(), ExtractField(values[0].name, 1));
    EXPECT_EQ(fields[1], kTestPageAddress);
    EXPECT_EQ(fields[2], "URL de test (sans danger)");
    EXPECT_EQ(fields[3].toStdString(), curl + "\n");
}

TEST_F(ConsoleEndToEndTest, WithoutADisplayTheAlertIsOneLineOnStderrOncePerProgram) {
    const int port = ProxyPort();
    ASSERT_NE(port, 0);
    const QString firefox = folder_.filePath(QStringLiteral("firefox"));
    ASSERT_TRUE(QFile::copy(QStringLiteral("/usr/bin/curl"), firefox));
    ASSERT_TRUE(QFile::setPermissions(firefox, QFile::ReadOwner | QFile::ExeOwner));

    ASSERT_TRUE(FetchTestPage(port, firefox).startsWith("HTTP/1.1 404 Not OK"));
    ASSERT_TRUE(FetchTestPage(port).startsWith("HTTP/1.1 404 Not OK"));
    ASSERT_TRUE(FetchTestPage(port).startsWith("HTTP/1.1 404 Not OK"));
    // Ended normally: everything it had to say is on stderr.
    gardalix_.terminate();
    ASSERT_TRUE(gardalix_.waitForFinished(30000));
    ReadStderr(0);

    const QStringList alerts = Alerts();
    ASSERT_EQ(alerts.size(), 1) << stderr_.toStdString();
    const QString curl =
        QString::fromStdString(std::filesystem::canonical("/usr/bin/curl").string());
    EXPECT_TRUE(
        alerts[0].startsWith(QStringLiteral("Gardalix : programme suspect : Le programme ") + curl +
                             QStringLiteral(" (processus ")))
        << alerts[0].toStdString();
    EXPECT_TRUE(alerts[0].endsWith(QString::fromUtf8(
        "Ce programme n'est pas un navigateur : votre ordinateur est peut-être infecté.")));
    EXPECT_FALSE(stderr_.contains(firefox)) << "a program named as a browser gets no alert";
}

}  // namespace
}  // namespace gx
