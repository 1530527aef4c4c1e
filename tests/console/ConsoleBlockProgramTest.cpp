// Blocks through the real proxy, sent by curl as a user's program would, and what the console
// makes of them on offscreen widgets: the history entry keeps the program's path, the history
// tab shows it, and the table of browsers decides the alert.
#include <QLabel>
#include <QProcess>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <filesystem>

#include "ConsoleTestSupport.h"
#include "console/ProgramStart.h"
#include "console/SidePages.h"
#include "lists/GX_MalwareURL.h"
#include "lists/GX_PornURL.h"
#include "lists/ProductSite.h"
#include "platform/interception/Interception.h"
#include "platform/registry/HiveLocation.h"

namespace gx::test {
namespace {

class ConsoleBlockProgramTest : public ConsoleTest {
  protected:
    void SetUp() override {
        ConsoleTest::SetUp();
        ASSERT_TRUE(folder_.isValid());
        qputenv(kHivePathVariable, folder_.filePath("registry.db").toLocal8Bit());
        qputenv(interception::kProxyAddressVariable, "127.0.0.1:0");
        CloseProcessHive();
        curl_ = std::filesystem::canonical("/usr/bin/curl").string();
    }
    void TearDown() override {
        console_.reset();
        ProgramServices().StopDriver();
        CloseProcessHive();
        qunsetenv(kHivePathVariable);
        qunsetenv(interception::kProxyAddressVariable);
    }

    // The program's own services, with the shipped lists; started, its balloons recorded.
    TFormGardalix& ProgramConsole() {
        ConsoleServices table = ProgramServices();
        table.LoadMalwareURLList = [] { return LoadMalwareURLList(GX_PROGRAM_DIR "/gx_mu.dat"); };
        table.LoadPornURLList = [] { return LoadPornURLList(GX_PROGRAM_DIR "/gx_pu.dat"); };
        console_ = std::make_unique<TFormGardalix>(table);
        console_->EndProgram = [](int) {};
        console_->ShowBalloon = [this](const QString& title, const QString& text) {
            balloons_.push_back(title + QStringLiteral(" : ") + text);
        };
        EXPECT_TRUE(console_->FormCreate());
        console_->TimerUpDateEventLogTimer()->setInterval(300);  // the countdown is not tested here
        EXPECT_TRUE(SpinUntil([&] { return console_->ProtectionActive(); }));
        return *console_;
    }

    // The test page fetched through the proxy by the given program (a copy of curl); true when
    // the block page came back.
    bool FetchTestPage(const std::string& program) {
        QProcess run;
        run.start(QString::fromStdString(program),
                  {"--silent", "--include", "--max-time", "60", "--noproxy", "", "--proxy",
                   QStringLiteral("http://127.0.0.1:%1").arg(interception::ExplicitProxyPort()),
                   QStringLiteral("http://%1").arg(QLatin1String(kTestPageAddress))});
        // The event loop turns meanwhile: the console's alerts and timers run as they would.
        SpinUntil([&] { return run.state() == QProcess::NotRunning; }, 90000);
        return run.readAllStandardOutput().startsWith("HTTP/1.1 404 Not OK");
    }

    // A copy of curl under another name, in this test's folder.
    std::string CurlCopy(const QString& name) {
        const std::string copy = folder_.filePath(name).toStdString();
        std::filesystem::copy_file(curl_, copy);
        return copy;
    }

    QTemporaryDir folder_;
    std::string curl_;
    std::unique_ptr<TFormGardalix> console_;
    std::vector<QString> balloons_;
};

TEST_F(ConsoleBlockProgramTest, ABlockByCurlKeepsCurlsPathWhichTheHistoryTabShows) {
    TFormGardalix& console = ProgramConsole();
    ASSERT_TRUE(FetchTestPage(curl_));
    ASSERT_TRUE(SpinUntil([] { return !ProgramServices().ReadLogEntries().empty(); }, 30000));

    const std::vector<LogValue> entries = ProgramServices().ReadLogEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(ExtractField(entries[0].name, 2), kTestPageAddress);
    EXPECT_EQ(entries[0].program, curl_);

    console.CoolTray2DblClick();
    console.Pages()->TabButton(2)->click();
    auto* grid = Child<QTableWidget>(console, "TabHistoriqueAlertes");
    auto* line = Child<QLabel>(console, "LabelProgramme");
    const QString expected = QStringLiteral("Programme : ") + QString::fromStdString(curl_);
    ASSERT_NE(grid->item(0, 1), nullptr);
    EXPECT_EQ(grid->columnCount(), 3);
    for (int column = 0; column < 3; ++column) {
        EXPECT_TRUE(grid->item(0, column)->toolTip().endsWith(expected))
            << grid->item(0, column)->toolTip().toStdString();
    }
    EXPECT_EQ(line->text(), "");
    grid->selectRow(0);
    EXPECT_EQ(line->text(), expected);
    grid->selectRow(1);  // an empty row
    EXPECT_EQ(line->text(), "");

    // The same, as `gardalix --history` prints it.
    EXPECT_EQ(HistoryLines(), ExtractField(entries[0].name, 1) + "\t" + kTestPageAddress +
                                  "\tURL de test (sans danger)\t" + curl_ + "\n");
}

TEST_F(ConsoleBlockProgramTest, TheTableOfBrowsersDecidesTheBalloonAtMostOncePerProgramAnHour) {
    const std::string firefox = CurlCopy(QStringLiteral("firefox"));
    const std::string updater = CurlCopy(QStringLiteral("updater"));
    ProgramConsole();

    // Alerts reach the main thread in the order of the blocks: each block below is followed by
    // one that does alert, so a balloon that should not exist would show up before it.
    ASSERT_TRUE(FetchTestPage(firefox));
    ASSERT_TRUE(FetchTestPage(curl_));
    ASSERT_TRUE(SpinUntil([&] { return !balloons_.empty(); }));
    ASSERT_TRUE(FetchTestPage(curl_));  // the same program within the hour
    ASSERT_TRUE(FetchTestPage(updater));
    ASSERT_TRUE(SpinUntil([&] { return balloons_.size() >= 2; }));
    SpinUntil([] { return false; }, 300);

    ASSERT_EQ(balloons_.size(), 2u);
    const QString address = QString::fromLatin1(kTestPageAddress);
    EXPECT_TRUE(
        balloons_[0].startsWith(QStringLiteral("Gardalix : programme suspect : Le programme ") +
                                QString::fromStdString(curl_) + QStringLiteral(" (processus ")))
        << balloons_[0].toStdString();
    EXPECT_TRUE(
        balloons_[0].contains(QString::fromUtf8("a tenté d'ouvrir l'adresse bloquée ") + address));
    EXPECT_TRUE(balloons_[0].endsWith(QString::fromUtf8(
        "Ce programme n'est pas un navigateur : votre ordinateur est peut-être infecté.")));
    EXPECT_TRUE(balloons_[1].contains(QString::fromStdString(updater)))
        << balloons_[1].toStdString();
}

}  // namespace
}  // namespace gx::test
