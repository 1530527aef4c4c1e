// The update client inside the console: the link and its picture, and the automatic check.
#include <gtest/gtest.h>

#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <filesystem>

#include "UpdateTestSupport.h"
#include "console/Widgets.h"
#include "platform/registry/Registry.h"
#include "platform/registry/TempHive.h"
#include "store/GX_ConfigReg.h"
#include "support/TempFolder.h"
#include "update/UpdateSettings.h"
#include "update/gx_update.h"

namespace gx::test {
namespace {

constexpr char kConnect[] = "/update2024/gardalix/connect.php";
constexpr char kDescription[] = "/update2024/gardalix/fr/gardalix2024id.txt";

class UpdateConsoleTest : public gx::testing::TempHiveTest {
  protected:
    void SetUp() override {
        TempHiveTest::SetUp();
        App();
        cwd_ = std::filesystem::current_path();
        Registry registry;
        ASSERT_TRUE(registry.OpenKey(kGardalixKey, true));
        registry.WriteString(kUpdateServerValue, server_.Base());
        registry.WriteString(kUpdateServerFallbackValue, UnreachableBase());
        server_.Serve(kConnect, {200, "OK"});
        server_.Serve(
            kDescription,
            {200, "FILES_LOCATION=http://f.example/;\r\nSOFTWARE_BUILD_VERSION=1.5.0;\r\n"});
        console_ = std::make_unique<TFormGardalix>(services_.Table());
        console_->EndProgram = [](int) {};
        ASSERT_TRUE(console_->FormCreate());
        console_->Updater().CreateDialogs();
    }
    void TearDown() override {
        console_.reset();
        std::filesystem::current_path(cwd_);
        TempHiveTest::TearDown();
    }

    QApplication& app_ = App();  // before the server: its socket needs the event loop
    UpdateServer server_;
    RecordingServices services_;
    std::unique_ptr<TFormGardalix> console_;
    std::filesystem::path cwd_;
};

TEST_F(UpdateConsoleTest, TheLinkAndItsPictureRunAUsersCheck) {
    for (const char* name : {"Label_MiseAJour", "ImageMiseAJour"}) {
        SCOPED_TRACE(name);
        auto* link = console_->findChild<LinkLabel*>(QLatin1String(name));
        ASSERT_NE(link, nullptr);
        const int before = server_.Hits(kConnect);
        UpdateAnswerer answerer;
        QTest::mouseClick(link, Qt::LeftButton);
        EXPECT_EQ(server_.Hits(kConnect), before + 1);
        ASSERT_EQ(answerer.seen.size(), 1u);
        EXPECT_EQ(answerer.seen[0].kind, "message");
        EXPECT_EQ(answerer.seen[0].title, QString::fromUtf8("Gardalix : mise à jour"));
    }
}

TEST_F(UpdateConsoleTest, TheTimerRunsOneSilentCheckThirtySecondsAfterCreation) {
    QTimer* timer = console_->TimerCheckMiseAjourTimer();
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 30000);
    timer->start(10);  // the tick, without waiting thirty seconds
    UpdateAnswerer answerer;
    ASSERT_TRUE(SpinUntil([&] { return server_.Hits(kDescription) == 1; }));
    ASSERT_TRUE(SpinUntil([&] { return !console_->Updater().FUpdateRunning; }));
    EXPECT_FALSE(timer->isActive());
    EXPECT_TRUE(answerer.seen.empty());
    SpinUntil([] { return false; }, 300);
    EXPECT_EQ(server_.Hits(kConnect), 1);  // once per run
}

}  // namespace
}  // namespace gx::test
