// The four update dialogs as real widgets on the offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEnterEvent>
#include <QFrame>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "UpdateTestSupport.h"
#include "update/GX_MessageBoxDlg.h"
#include "update/GX_MiseAjourDlg.h"
#include "update/GX_MiseAjourQuestionDlg.h"
#include "update/GX_UpDateDlg.h"
#include "update/UpdateDialogs.h"

namespace gx::test {
namespace {

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

class UpdateDialogsTest : public ::testing::Test {
  protected:
    void SetUp() override { App(); }

    // Runs `act` once the dialog is shown modally by `show`.
    template <typename Show, typename Act>
    static void WhileShown(QDialog& dialog, Show show, Act act) {
        QTimer::singleShot(0, &dialog, [&] {
            ASSERT_TRUE(SpinUntil([&] { return dialog.isVisible(); }));
            act();
        });
        show();
    }

    QApplication& app_ = App();  // before any widget
    UpdateDialogs dialogs{nullptr};
};

TEST_F(UpdateDialogsTest, EachDialogHasItsCaptionSizeFrameAndBanner) {
    const struct {
        UpdateDialog* dialog;
        const char* name;
        QString caption;
        QSize size;
        QRect banner;  // empty: none
    } cases[] = {
        {&dialogs.UpDateDlg(), "UpDateDlg", Utf8("Mise à jour"), {465, 199}, {0, 0, 465, 52}},
        {&dialogs.MiseAjourQuestionDlg(),
         "MiseAjourQuestionDlg",
         Utf8("Gardalix : Mise à jour"),
         {284, 164},
         {1, 1, 283, 28}},
        {&dialogs.GXMessageBoxDlg(), "GXMessageBoxDlg", Utf8("Gardalix"), {479, 355}, {}},
        {&dialogs.MiseAjourDlg(),
         "MiseAjourDlg",
         Utf8("Gardalix : Mise à jour"),
         {286, 167},
         {1, 1, 285, 28}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.dialog->objectName(), QLatin1String(c.name));
        EXPECT_EQ(c.dialog->windowTitle(), c.caption);
        EXPECT_EQ(c.dialog->size(), c.size);
        EXPECT_TRUE(c.dialog->windowFlags().testFlag(Qt::FramelessWindowHint));
        EXPECT_FALSE(c.dialog->isVisible());
        auto* frame = c.dialog->findChild<QFrame*>(QStringLiteral("Shape1"));
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->geometry(), QRect(QPoint(0, 0), c.size));
        EXPECT_TRUE(frame->styleSheet().contains(QStringLiteral("1px solid black")));
        auto* banner = c.dialog->findChild<QFrame*>(QStringLiteral("Shape2"));
        if (c.banner.isEmpty()) {
            EXPECT_EQ(banner, nullptr);
        } else {
            ASSERT_NE(banner, nullptr);
            EXPECT_EQ(banner->geometry(), c.banner);
            EXPECT_TRUE(banner->styleSheet().contains(QStringLiteral("#42c0fb")));
        }
    }
}

TEST_F(UpdateDialogsTest, TheQuestionAndTheNoticeSitBottomRightTheOthersCentred) {
    const QRect screen = PrimaryScreenArea();
    ASSERT_FALSE(screen.isEmpty());
    for (UpdateDialog* corner : std::initializer_list<UpdateDialog*>{
             &dialogs.MiseAjourQuestionDlg(), &dialogs.MiseAjourDlg()}) {
        SCOPED_TRACE(corner->objectName().toStdString());
        EXPECT_EQ(corner->pos(), QPoint(screen.width() - corner->width() - 1,
                                        screen.height() - corner->height() - 40));
    }
    for (UpdateDialog* centred :
         std::initializer_list<UpdateDialog*>{&dialogs.UpDateDlg(), &dialogs.GXMessageBoxDlg()}) {
        SCOPED_TRACE(centred->objectName().toStdString());
        EXPECT_EQ(centred->geometry().center(), screen.center());
    }
}

TEST_F(UpdateDialogsTest, TheProgressWindowShowsItsStatusAndKeepsTheBarWithinZeroToHundred) {
    TUpDateDlg& progress = dialogs.UpDateDlg();
    progress.show();
    progress.SetStatus(QStringLiteral("Un"), false);
    EXPECT_EQ(progress.THELabel->text(), QStringLiteral("Un"));
    EXPECT_FALSE(progress.ProgressBar->isVisible());
    progress.SetStatus(QStringLiteral("Deux"), true);
    EXPECT_TRUE(progress.ProgressBar->isVisible());
    EXPECT_EQ(progress.ProgressBar->geometry(), QRect(28, 137, 408, 17));
    const struct {
        int n;
        int shown;
        const char* text;
    } cases[] = {
        {0, 0, "0%"}, {50, 50, "50%"}, {100, 100, "100%"}, {150, 100, "100%"}, {-3, 0, "0%"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.n);
        progress.SetProgress(c.n);
        EXPECT_EQ(progress.ProgressBar->value(), c.shown);
        EXPECT_EQ(progress.ProgressBar->text(), QLatin1String(c.text));
    }
    progress.hide();
}

TEST_F(UpdateDialogsTest, TheQuestionStartsEveryShowingWithAnswerZero) {
    TMiseAjourQuestionDlg& question = dialogs.MiseAjourQuestionDlg();
    question.MessageText = QStringLiteral("Prendre ?\r\rVraiment ?");
    WhileShown(
        question, [&] { question.exec(); },
        [&] {
            EXPECT_EQ(question.Answer, 0);
            EXPECT_EQ(question.LMessage->text(), QStringLiteral("Prendre ?\n\nVraiment ?"));
            QTest::mouseClick(question.URLLabel1, Qt::LeftButton);
        });
    EXPECT_EQ(question.Answer, 1);
    EXPECT_FALSE(question.isVisible());
    // Shown again and closed otherwise than by "Oui" (Escape): the answer is 0 again.
    WhileShown(
        question, [&] { question.exec(); },
        [&] {
            EXPECT_EQ(question.Answer, 0);
            QTest::keyClick(&question, Qt::Key_Escape);
            if (question.isVisible()) {
                question.reject();
            }
        });
    EXPECT_EQ(question.Answer, 0);
    question.Answer = 1;
    WhileShown(
        question, [&] { question.exec(); },
        [&] { QTest::mouseClick(question.URLLabel2, Qt::LeftButton); });
    EXPECT_EQ(question.Answer, 0);
    EXPECT_EQ(question.URLLabel1->text(), QStringLiteral("Oui"));
    EXPECT_EQ(question.URLLabel2->text(), QStringLiteral("Non"));
    EXPECT_EQ(question.URLLabel1->pos(), QPoint(114, 129));
    EXPECT_EQ(question.URLLabel2->pos(), QPoint(159, 129));
}

TEST_F(UpdateDialogsTest, TheMessageBoxTakesItsTitleOnShowingAndClosesByButtonOrPicture) {
    TGXMessageBoxDlg& box = dialogs.GXMessageBoxDlg();
    box.TitleText = QStringLiteral("Titre");
    box.MessageText = QStringLiteral("Ligne 1\r\nLigne 2");
    EXPECT_EQ(box.windowTitle(), QStringLiteral("Gardalix"));
    WhileShown(
        box, [&] { box.exec(); },
        [&] {
            EXPECT_EQ(box.windowTitle(), QStringLiteral("Titre"));
            EXPECT_EQ(box.LMessage->text(), QStringLiteral("Ligne 1\nLigne 2"));
            QTest::mouseClick(box.Button1, Qt::LeftButton);
        });
    EXPECT_FALSE(box.isVisible());
    EXPECT_EQ(box.Button1->text(), Utf8("&Fermer"));
    WhileShown(
        box, [&] { box.exec(); },
        [&] { QTest::mouseClick(box.ImageReduitFenetre, Qt::LeftButton); });
    EXPECT_FALSE(box.isVisible());
}

TEST_F(UpdateDialogsTest, ALongMessageIsCutAtTheLabelsEdge) {
    TMiseAjourDlg& notice = dialogs.MiseAjourDlg();
    notice.MessageText = QString(2000, QLatin1Char('m'));
    WhileShown(
        notice, [&] { notice.exec(); },
        [&] {
            EXPECT_EQ(notice.LMessage->size(), QSize(260, 88));
            QTest::mouseClick(notice.URLLabel1, Qt::LeftButton);
        });
    EXPECT_FALSE(notice.isVisible());
    EXPECT_EQ(notice.URLLabel1->text(), QStringLiteral("Fermer"));
}

TEST_F(UpdateDialogsTest, ALinkLabelTakesTheHoverLookUnderTheMouse) {
    UrlLabel* link = dialogs.MiseAjourQuestionDlg().URLLabel1;
    EXPECT_TRUE(link->font().underline());
    EXPECT_TRUE(link->styleSheet().contains(QStringLiteral("#007cc2")));
    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QApplication::sendEvent(link, &enter);
    EXPECT_TRUE(link->styleSheet().contains(QStringLiteral("#0075ea")));
    EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(link, &leave);
    EXPECT_TRUE(link->styleSheet().contains(QStringLiteral("#007cc2")));
}

TEST_F(UpdateDialogsTest, WithoutADisplayEveryStepIsALineOnStderrAndTheOfferIsDeclined) {
    TellUpdatesOnStderr(true);
    ::testing::internal::CaptureStderr();
    dialogs.ShowProgress(Utf8("Recherche de mise à jour ..."), false);
    dialogs.ShowStopBox(QStringLiteral("Titre"), QStringLiteral("a\r\nb"));
    const bool accepted = dialogs.AskToDownload(QStringLiteral("Offre\r\rPrendre ?"));
    const std::string told = ::testing::internal::GetCapturedStderr();
    TellUpdatesOnStderr(false);
    EXPECT_FALSE(accepted);
    EXPECT_FALSE(dialogs.UpDateDlg().isVisible());
    EXPECT_EQ(told,
              "Mise à jour : Recherche de mise à jour ...\nTitre : a b\nGardalix : Mise à "
              "jour : Offre  Prendre ? (aucun affichage pour répondre : réponse Non)\n");
}

}  // namespace
}  // namespace gx::test
