// The whole program: gardalix started without a display on a temporary hive and a free proxy
// port; curl fetches a listed address through the proxy, gets the block page, and the history
// holds one entry about five seconds later.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

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
        QString seen;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 30000) {
            gardalix_.waitForReadyRead(200);
            seen += QString::fromUtf8(gardalix_.readAllStandardError());
            if (const auto match = notice.match(seen); match.hasMatch()) {
                return match.captured(1).toInt();
            }
        }
        ADD_FAILURE() << "no proxy notice; stderr: " << seen.toStdString();
        return 0;
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
};

// curl fetches the test page through the proxy; returns what it received.
QByteArray FetchTestPage(int proxyPort) {
    QProcess curl;
    curl.start(QStringLiteral("curl"),
               {"--silent", "--include", "--max-time", "60", "--noproxy", "", "--proxy",
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

}  // namespace
}  // namespace gx
