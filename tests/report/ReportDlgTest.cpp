#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <QTimer>

#include "ReportDlgTestSupport.h"
#include "ReportingServer.h"
#include "http/HttpProt.h"
#include "tests/http/ScriptedServer.h"

namespace gx::test {
namespace {

QString Tr(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// What each twin shows and where it sends.
struct TwinTexts {
    const char* caption;
    const char* title;
    const char* intro;
    int introTop;
    const char* secondIntro;  // "" = none
    const char* path;
    const char* successCaption;
    const char* successText;  // as the box shows it: the line break as "\n"
    const char* failureCaption;
    const char* failureText;
};

const TwinTexts kReport{
    "Signaler un site malveillant",
    "Signaler un site malveillant",
    "Vous avez trouvé un site web malveillant, une URL malveillante, une armaque ?",
    64,
    "",
    "/gardalix/report_url.php",
    "Signalement enregistré",
    "Votre signalement a bien été enregistré.\nVous allez recevoir un rapport par mail à "
    "l'adresse fournie.",
    "Signalement non enregistré",
    "Impossible de transmettre votre signalement.\nRenouvelez votre signalement "
    "ultérieurement.",
};

const TwinTexts kAnalysis{
    "Demander l'analyse d'un site",
    "Demander l'analyse d'un site par un expert",
    "Vous avez un doute sur un site web, une url, une publicité, un message ?",
    63,
    "Demandez l'avis d'un expert avant de faire quoi que ce soit.",
    "/gardalix/request_analyze.php",
    "Demande d'analyse enregistrée",
    "Votre demande d'analyse a bien été enregistrée.\nVous allez recevoir un rapport par mail "
    "à l'adresse fournie.",
    "Demande d'analyse non enregistrée",
    "Impossible de transmettre votre demande d'analyse.\nRenouvelez votre demande "
    "ultérieurement.",
};

const TwinTexts& TextsOf(const Twin& twin) {
    return std::string(twin.name) == "report" ? kReport : kAnalysis;
}

// The message boxes seen, as title, text and icon.
struct Box {
    QString title;
    QString text;
    QMessageBox::Icon icon;
    bool operator==(const Box&) const = default;
};

std::vector<Box> Boxes(const ModalAnswerer& answerer) {
    std::vector<Box> boxes;
    for (const SeenBox& seen : answerer.seen) {
        if (seen.className == QLatin1String("QMessageBox")) {
            boxes.push_back({seen.title, seen.text, seen.icon});
        }
    }
    return boxes;
}

void PrintTo(const Box& box, std::ostream* out) {
    *out << box.title.toStdString() << " / " << box.text.toStdString() << " / " << box.icon;
}

TEST_F(ReportDlgTest, IsABorderlessWhiteWindowWithTheControlsInPlace) {
    for (const Twin& twin : Twins()) {
        SCOPED_TRACE(twin.name);
        const TwinTexts& texts = TextsOf(twin);
        auto dialog = Shown(twin, "http://127.0.0.1:1");
        EXPECT_TRUE(dialog->windowFlags().testFlag(Qt::FramelessWindowHint));
        EXPECT_EQ(dialog->size(), QSize(479, 415));
        EXPECT_EQ(dialog->palette().color(QPalette::Window), QColor(Qt::white));
        EXPECT_EQ(dialog->windowTitle(), Tr(texts.caption));
        // The messages keep their single carriage return; the box shows it as a line break.
        EXPECT_EQ(QString::fromUtf8(dialog->Texts().successText).replace('\r', '\n'),
                  Tr(texts.successText));
        EXPECT_EQ(QString::fromUtf8(dialog->Texts().failureText).replace('\r', '\n'),
                  Tr(texts.failureText));
        EXPECT_EQ(std::string(dialog->Texts().successText).find('\n'), std::string::npos);
        const struct {
            const char* name;
            QRect geometry;
        } placed[] = {
            {"Shape1", {0, 0, 479, 415}},
            {"Image1", {1, 1, 477, 110}},
            {"ImageReduitFenetre", {445, 9, 24, 24}},
            {"URL", {24, 154, 310, 23}},
            {"Description", {24, 208, 310, 89}},
            {"Email", {24, 328, 310, 23}},
            {"Button1", {143, 375, 81, 25}},
            {"Button2", {255, 375, 81, 25}},
        };
        for (const auto& control : placed) {
            SCOPED_TRACE(control.name);
            EXPECT_EQ(Child<QWidget>(*dialog, control.name)->geometry(), control.geometry);
        }
        const struct {
            const char* name;
            QPoint position;
            const char* text;
        } labels[] = {
            {"Label4", {53, 9}, texts.title},
            {"Label5", {24, texts.introTop}, texts.intro},
            {"Label1", {24, 136}, "Adresse du site ou de la page : "},
            {"Label2", {24, 192}, "Expliquez pourquoi vous pensez que ce site est malveillant"},
            {"Label3", {23, 311}, "Votre adresse email (pour vous communiquer le résultat)"},
        };
        for (const auto& label : labels) {
            SCOPED_TRACE(label.name);
            auto* shown = Child<QLabel>(*dialog, label.name);
            EXPECT_EQ(shown->pos(), label.position);
            EXPECT_EQ(shown->text(), Tr(label.text));
        }
        auto* second = dialog->findChild<QLabel*>(QStringLiteral("Label6"));
        if (texts.secondIntro[0] == '\0') {
            EXPECT_EQ(second, nullptr);
        } else {
            ASSERT_NE(second, nullptr);
            EXPECT_EQ(second->pos(), QPoint(24, 80));
            EXPECT_EQ(second->text(), Tr(texts.secondIntro));
        }
        auto* title = Child<QLabel>(*dialog, "Label4");
        // 16 pixels high, or smaller where the desktop's font would run under the close picture.
        EXPECT_LE(title->font().pixelSize(), 16);
        EXPECT_GE(title->font().pixelSize(), 9);
        EXPECT_LT(title->geometry().right(), 445);
        EXPECT_TRUE(title->font().bold());
        for (const char* intro : {"Label5", "Label6"}) {
            if (auto* line = dialog->findChild<QLabel*>(QLatin1String(intro))) {
                SCOPED_TRACE(intro);
                EXPECT_LT(line->geometry().right(), 479);
            }
        }
        EXPECT_EQ(title->palette().color(QPalette::WindowText), QColor(66, 192, 251));
        EXPECT_EQ(Child<QLabel>(*dialog, "Label5")->palette().color(QPalette::WindowText),
                  QColor(Qt::white));
        EXPECT_FALSE(Child<QLabel>(*dialog, "Image1")->pixmap().isNull());
        EXPECT_FALSE(Child<QLabel>(*dialog, "ImageReduitFenetre")->pixmap().isNull());
        EXPECT_EQ(Child<QPushButton>(*dialog, "Button1")->text(), QStringLiteral("&OK"));
        EXPECT_TRUE(Child<QPushButton>(*dialog, "Button1")->isDefault());
        EXPECT_EQ(Child<QPushButton>(*dialog, "Button2")->text(), QStringLiteral("&Annuler"));
    }
}

TEST_F(ReportDlgTest, StartsEmptyWithTheFocusOnTheAddressAndTabsThroughTheThreeFields) {
    for (const Twin& twin : Twins()) {
        SCOPED_TRACE(twin.name);
        std::unique_ptr<ReportDialog> dialog = twin.make();
        EXPECT_TRUE(Child<QLineEdit>(*dialog, "URL")->text().isEmpty());
        EXPECT_TRUE(Child<QPlainTextEdit>(*dialog, "Description")->toPlainText().isEmpty());
        EXPECT_TRUE(Child<QLineEdit>(*dialog, "Email")->text().isEmpty());
        EXPECT_EQ(dialog->focusWidget(), Child<QWidget>(*dialog, "URL"));

        const char* chain[] = {"URL", "Description", "Email", "Button1", "Button2"};
        QWidget* widget = Child<QWidget>(*dialog, chain[0]);
        for (size_t i = 1; i < std::size(chain); ++i) {
            SCOPED_TRACE(chain[i]);
            do {
                widget = widget->nextInFocusChain();
            } while (widget->focusPolicy() == Qt::NoFocus);
            EXPECT_EQ(widget, Child<QWidget>(*dialog, chain[i]));
        }
        EXPECT_TRUE(Child<QPlainTextEdit>(*dialog, "Description")->tabChangesFocus());
    }
}

TEST_F(ReportDlgTest, SendsEmptyFieldsAsEmptyValues) {
    for (const Twin& twin : Twins()) {
        SCOPED_TRACE(twin.name);
        ReportingServer server;
        ModalAnswerer answerer(QMessageBox::Ok);
        auto dialog = Shown(twin, server.Base());
        Press(*dialog, "Button1");
        EXPECT_EQ(server.Targets(),
                  std::vector<std::string>{std::string(TextsOf(twin).path) + "?id=4242&u=&d=&m="});
    }
}

TEST_F(ReportDlgTest, SendsWhatWasTypedEncodedAndRowsJoinedWithBreaks) {
    ReportingServer server;
    ModalAnswerer answerer(QMessageBox::Ok);
    auto dialog = Shown(Twins()[0], server.Base());
    auto* url = Child<QLineEdit>(*dialog, "URL");
    auto* description = Child<QPlainTextEdit>(*dialog, "Description");
    QTest::keyClicks(url, QStringLiteral("a b/c.d"));
    QTest::keyClicks(description, QStringLiteral("ligne 1"));
    QTest::keyClick(description, Qt::Key_Return);  // a new row, not OK
    QTest::keyClicks(description, QStringLiteral("ligne 2"));
    QTest::keyClick(description, Qt::Key_Return);  // an empty last row
    Child<QLineEdit>(*dialog, "Email")->setText(Tr("l'élise+1@exemple.fr€Ł"));
    EXPECT_TRUE(server.Targets().empty());
    EXPECT_EQ(dialog->DescriptionRows(), (QStringList{"ligne 1", "ligne 2"}));

    QTest::keyClick(url, Qt::Key_Return);  // Enter in a single-line field presses OK

    ASSERT_EQ(server.Targets().size(), 1u);
    const std::string target = server.Targets()[0];
    EXPECT_EQ(QueryValue(target, "u"), "a%20b%2Fc%2Ed");
    EXPECT_EQ(QueryValue(target, "d"), "ligne%201%3Cbr%3Eligne%202");
    EXPECT_EQ(QueryValue(target, "m"), "l%60%E9lise%2B1%40exemple%2Efr%80%3F");
    EXPECT_EQ(target.find("&x="), std::string::npos);
}

TEST_F(ReportDlgTest, TakesAWrappedParagraphAsTheRowsTheEditShows) {
    ReportingServer server;
    ModalAnswerer answerer(QMessageBox::Ok);
    auto dialog = Shown(Twins()[1], server.Base());
    auto* description = Child<QPlainTextEdit>(*dialog, "Description");
    const QString paragraph = QStringLiteral(
        "Ce site demande mon mot de passe bancaire et mon code de carte pour un prétendu "
        "remboursement des impôts");
    description->setPlainText(paragraph + QStringLiteral("\nfin"));

    const QStringList rows = dialog->DescriptionRows();
    ASSERT_GT(rows.size(), 2);
    EXPECT_EQ(rows.back(), QStringLiteral("fin"));
    EXPECT_EQ(rows.mid(0, rows.size() - 1).join(QString()), paragraph);

    Press(*dialog, "Button1");
    ASSERT_EQ(server.Targets().size(), 1u);
    const std::string d = QueryValue(server.Targets()[0], "d");
    size_t breaks = 0;
    for (size_t at = d.find("%3Cbr%3E"); at != std::string::npos; at = d.find("%3Cbr%3E", at + 1)) {
        ++breaks;
    }
    EXPECT_EQ(breaks, static_cast<size_t>(rows.size() - 1));
}

TEST_F(ReportDlgTest, DescriptionRowsCountEveryRowButAnEmptyLastOne) {
    auto dialog = Shown(Twins()[0], "http://127.0.0.1:1");
    auto* description = Child<QPlainTextEdit>(*dialog, "Description");
    const struct {
        const char* text;
        QStringList rows;
    } cases[] = {
        {"", {}},
        {"un", {"un"}},
        {"un\n", {"un"}},
        {"un\n\n", {"un", ""}},
        {"\n\ntrois", {"", "", "trois"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        description->setPlainText(QString::fromUtf8(c.text));
        EXPECT_EQ(dialog->DescriptionRows(), c.rows);
    }
}

TEST_F(ReportDlgTest, TellsTheOutcomeInTheTwinsOwnBoxAndCloses) {
    const struct {
        int status;
        bool sent;
        size_t requests;
    } cases[] = {
        {200, true, 1}, {302, true, 2}, {401, true, 1}, {404, false, 5}, {500, false, 5},
    };
    for (const Twin& twin : Twins()) {
        const TwinTexts& texts = TextsOf(twin);
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(twin.name) + " " + std::to_string(c.status));
            ReportingServer server;
            server.Answer(texts.path, c.status, c.status == 302 ? "/merci.html" : "");
            ModalAnswerer answerer(QMessageBox::Ok);
            pauses.clear();
            auto dialog = Shown(twin, server.Base());
            dialog->open();
            Press(*dialog, "Button1");

            EXPECT_EQ(server.Targets().size(), c.requests);
            EXPECT_EQ(pauses.size(), c.sent ? 0u : 4u);
            const Box expected =
                c.sent
                    ? Box{Tr(texts.successCaption), Tr(texts.successText), QMessageBox::Information}
                    : Box{Tr(texts.failureCaption), Tr(texts.failureText), QMessageBox::Critical};
            EXPECT_EQ(Boxes(answerer), std::vector<Box>{expected});
            EXPECT_FALSE(dialog->isVisible());
            EXPECT_EQ(dialog->result(), c.sent ? QDialog::Accepted : QDialog::Rejected);
        }
    }
}

TEST_F(ReportDlgTest, TriesFiveTimesWithFourPausesWhenTheServerCannotBeReached) {
    for (const Twin& twin : Twins()) {
        SCOPED_TRACE(twin.name);
        ModalAnswerer answerer(QMessageBox::Ok);
        pauses.clear();
        auto dialog = Shown(twin, "http://127.0.0.1:" + std::to_string(UnusedPort()));
        Press(*dialog, "Button1");
        EXPECT_EQ(pauses, (std::vector<int>{500, 500, 500, 500}));
        const TwinTexts& texts = TextsOf(twin);
        EXPECT_EQ(Boxes(answerer),
                  (std::vector<Box>{
                      {Tr(texts.failureCaption), Tr(texts.failureText), QMessageBox::Critical}}));
        EXPECT_FALSE(dialog->isVisible());
    }
}

TEST_F(ReportDlgTest, KeepsTheTextsInTheFieldsAfterASending) {
    for (const int status : {200, 500}) {
        SCOPED_TRACE(status);
        ReportingServer server;
        server.Answer(kReport.path, status);
        ModalAnswerer answerer(QMessageBox::Ok);
        auto dialog = Shown(Twins()[0], server.Base());
        Child<QLineEdit>(*dialog, "URL")->setText(QStringLiteral("http://arnaque.example/"));
        Child<QPlainTextEdit>(*dialog, "Description")->setPlainText(QStringLiteral("faux support"));
        Child<QLineEdit>(*dialog, "Email")->setText(QStringLiteral("moi@exemple.fr"));
        Press(*dialog, "Button1");
        dialog->show();  // the next opening
        EXPECT_EQ(Child<QLineEdit>(*dialog, "URL")->text(),
                  QStringLiteral("http://arnaque.example/"));
        EXPECT_EQ(Child<QPlainTextEdit>(*dialog, "Description")->toPlainText(),
                  QStringLiteral("faux support"));
        EXPECT_EQ(Child<QLineEdit>(*dialog, "Email")->text(), QStringLiteral("moi@exemple.fr"));
    }
}

TEST_F(ReportDlgTest, AnnulerAndTheClosePictureCloseWithoutSending) {
    const std::function<void(ReportDialog&)> closers[] = {
        [](ReportDialog& dialog) { Press(dialog, "Button2"); },
        [](ReportDialog& dialog) {
            QTest::mouseClick(Child<QWidget>(dialog, "ImageReduitFenetre"), Qt::LeftButton);
        },
    };
    int index = 0;
    for (const auto& close : closers) {
        SCOPED_TRACE(index++);
        ReportingServer server;
        ModalAnswerer answerer(QMessageBox::Ok, [](QWidget*) {});
        auto dialog = Shown(Twins()[1], server.Base());
        dialog->open();
        close(*dialog);
        EXPECT_FALSE(dialog->isVisible());
        EXPECT_EQ(dialog->result(), QDialog::Rejected);
        QApplication::processEvents();
        EXPECT_TRUE(server.Targets().empty());
        EXPECT_TRUE(Boxes(answerer).empty());
    }
}

// Annuler during a sending hides the window, but the sending goes on and its outcome is told;
// OK cannot start a second sending meanwhile.
TEST_F(ReportDlgTest, ASendingUnderWayGoesOnToItsOutcome) {
    ReportingServer server;
    ModalAnswerer answerer(QMessageBox::Ok, [](QWidget*) {});
    auto dialog = Shown(Twins()[0], server.Base());
    dialog->open();
    bool okEnabledDuringSending = true;
    QTimer::singleShot(0, dialog.get(), [&] {
        auto* ok = Child<QPushButton>(*dialog, "Button1");
        okEnabledDuringSending = ok->isEnabled();
        dialog->Button1Click();  // a second OK, as Enter would give it
        Press(*dialog, "Button2");
    });
    Press(*dialog, "Button1");
    EXPECT_FALSE(okEnabledDuringSending);
    EXPECT_EQ(server.Targets().size(), 1u);
    EXPECT_EQ(Boxes(answerer),
              (std::vector<Box>{{Tr(kReport.successCaption), Tr(kReport.successText),
                                 QMessageBox::Information}}));
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_TRUE(Child<QPushButton>(*dialog, "Button1")->isEnabled());
}

TEST_F(ReportDlgTest, PressingAMouseButtonOnTheHeaderOrTheTitleDragsTheWindow) {
    for (const char* handle : {"Image1", "Label4"}) {
        SCOPED_TRACE(handle);
        auto dialog = Shown(Twins()[0], "http://127.0.0.1:1");
        dialog->move(100, 100);
        QWidget* area = Child<QWidget>(*dialog, handle);
        const QPoint start = area->mapToGlobal(QPoint(5, 5));
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(start), Qt::RightButton,
                          Qt::RightButton, Qt::NoModifier);
        QApplication::sendEvent(area, &press);
        QMouseEvent drag(QEvent::MouseMove, QPointF(55, 35), QPointF(start + QPoint(50, 30)),
                         Qt::NoButton, Qt::RightButton, Qt::NoModifier);
        QApplication::sendEvent(area, &drag);
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(55, 35),
                            QPointF(start + QPoint(50, 30)), Qt::RightButton, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(area, &release);
        EXPECT_EQ(dialog->pos(), QPoint(150, 130));
    }
}

}  // namespace
}  // namespace gx::test
