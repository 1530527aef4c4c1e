// From the console's entries to the reporting server named in the registry.
#include <QTest>
#include <QTimer>

#include "ReportDlgTestSupport.h"
#include "ReportingServer.h"
#include "console/GX_Main.h"
#include "platform/registry/Registry.h"
#include "platform/registry/TempHive.h"
#include "store/GX_ConfigReg.h"

namespace gx::test {
namespace {

class ReportConsoleTest : public gx::testing::TempHiveTest {
  protected:
    void SetUp() override {
        TempHiveTest::SetUp();
        App();
    }

    void NameServer(const std::string& base) {
        Registry registry;
        ASSERT_TRUE(registry.OpenKey(kGardalixKey, true));
        registry.WriteString("REPORT_SERVER", base);
    }

    RecordingServices services;
};

TEST_F(ReportConsoleTest, EachEntryOpensItsDialogModallyAndTheDialogSendsToTheNamedServer) {
    const struct {
        const char* entry;
        const char* dialogClass;
        const char* path;
        const char* successCaption;
    } cases[] = {
        {"LabelSignalerSite", "gx::TSignalerSiteMalveillantDlg", "/gardalix/report_url.php",
         "Signalement enregistré"},
        {"ImageSignalerSite", "gx::TSignalerSiteMalveillantDlg", "/gardalix/report_url.php",
         "Signalement enregistré"},
        {"LabelDemanderAnalyse", "gx::TDemanderAnalyseSiteDlg", "/gardalix/request_analyze.php",
         "Demande d'analyse enregistrée"},
        {"ImageDemanderAnalyse", "gx::TDemanderAnalyseSiteDlg", "/gardalix/request_analyze.php",
         "Demande d'analyse enregistrée"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        ReportingServer server;
        NameServer(server.Base() + "/");
        TFormGardalix console(services.Table());
        console.CoolTray2DblClick();

        // The user types an address in the dialog that opened and presses OK.
        QString opened;
        ModalAnswerer answerer(QMessageBox::Ok, [&opened](QWidget* dialog) {
            if (!opened.isEmpty()) {
                return;  // still on screen while the sending runs
            }
            opened = QString::fromLatin1(dialog->metaObject()->className());
            dialog->findChild<QLineEdit*>(QStringLiteral("URL"))
                ->setText(QStringLiteral("http://faux-support.example/"));
            auto* ok = dialog->findChild<QPushButton*>(QStringLiteral("Button1"));
            QTimer::singleShot(0, ok, &QPushButton::click);
        });
        QTest::mouseClick(Child<QWidget>(console, c.entry), Qt::LeftButton);

        EXPECT_EQ(opened, QLatin1String(c.dialogClass));
        EXPECT_EQ(server.Targets(),
                  std::vector<std::string>{std::string(c.path) +
                                           "?id=0&u=http:%2F%2Ffaux-support%2Eexample%2F"
                                           "&d=&m="});
        ASSERT_FALSE(answerer.seen.empty());
        const SeenBox& box = answerer.seen.back();
        EXPECT_EQ(box.title, QString::fromUtf8(c.successCaption));
        EXPECT_EQ(box.icon, QMessageBox::Information);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
}

TEST_F(ReportConsoleTest, TheDialogsAreMadeWithTheConsoleAndStayHidden) {
    TFormGardalix console(services.Table());
    const auto* report = console.findChild<TSignalerSiteMalveillantDlg*>();
    const auto* analysis = console.findChild<TDemanderAnalyseSiteDlg*>();
    ASSERT_NE(report, nullptr);
    ASSERT_NE(analysis, nullptr);
    EXPECT_FALSE(report->isVisible());
    EXPECT_FALSE(analysis->isVisible());
}

}  // namespace
}  // namespace gx::test
