// What the console shows and does around the protection: window, tabs, tray menu, hiding,
// settings, help, the test page and the About box.
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include "ConsoleTestSupport.h"
#include "console/ProgramStart.h"
#include "console/SidePages.h"
#include "engine/ChildProtection.h"
#include "update/ListsRefresh.h"

namespace gx::test {
namespace {

class ConsoleViewsTest : public ConsoleTest {};

TEST_F(ConsoleViewsTest, TheWindowIsBorderlessWithItsBandStatusPanelAndFourSideTabs) {
    auto console = CreatedConsole();
    EXPECT_EQ(console->size(), QSize(594, 535));
    EXPECT_TRUE(console->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(console->windowTitle(), "Gardalix");
    EXPECT_EQ(Child<QLabel>(*console, "LabelTitre")->text(),
              "Bouclier anti-arnaque : Gardalix 2024");
    EXPECT_EQ(Child<QWidget>(*console, "Shape4")->size(), QSize(592, 57));
    auto* hide = Child<QLabel>(*console, "ImageReduitFenetre");
    EXPECT_EQ(hide->size(), QSize(24, 24));
    EXPECT_EQ(hide->toolTip(), QString::fromUtf8("Réduire en icône Gardalix"));
    EXPECT_EQ(hide->cursor().shape(), Qt::PointingHandCursor);

    const char* captions[] = {"Filtrage", "Protection\nEnfants", "Historique", "Aide\nMise à jour"};
    SidePageControl* pages = console->Pages();
    ASSERT_EQ(pages->Count(), 4);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(pages->TabButton(i)->text(), QString::fromUtf8(captions[i]));
        EXPECT_EQ(pages->TabButton(i)->size(), QSize(95, 80));
        EXPECT_EQ(pages->TabButton(i)->iconSize(), QSize(64, 48));
        EXPECT_FALSE(pages->TabButton(i)->icon().isNull());
    }
    const QString filtrage = Child<QPlainTextEdit>(*console, "MemoFiltrage")->toPlainText();
    EXPECT_TRUE(filtrage.startsWith(
        QString::fromUtf8("Gardalix vous apporte les fonctionnalités suivantes :\n» détecte")));
    EXPECT_TRUE(
        filtrage.endsWith(QString::fromUtf8("du type \"arnaque au faux support technique\"\n")));
}

TEST_F(ConsoleViewsTest, TheTrayMenuHoldsItsEightItemsInOrder) {
    auto console = CreatedConsole();
    EXPECT_EQ(console->TrayIcon()->toolTip(), "Gardalix");
    EXPECT_EQ(console->TrayIcon()->contextMenu(), console->TrayMenu());
    QStringList captions;
    for (QAction* item : console->TrayMenu()->actions()) {
        captions << (item->isSeparator() ? QStringLiteral("-") : item->text());
    }
    EXPECT_EQ(captions,
              (QStringList{"Afficher &console", "-", QString::fromUtf8("&Désactiver Gardalix"),
                           QString::fromUtf8("Arrêter et &fermer Gardalix"), "-", "A&ide", "-",
                           "A &propos de Gardalix"}));
}

TEST_F(ConsoleViewsTest, HidingKeepsTheTabAndOnlyACloseOfTheHiddenConsoleEndsTheProgram) {
    auto console = CreatedConsole();
    EXPECT_TRUE(console->MinimizeToTray());
    emit console->TrayIcon()->activated(QSystemTrayIcon::DoubleClick);
    EXPECT_TRUE(console->isVisible());
    EXPECT_EQ(console->Pages()->CurrentIndex(), 0);
    EXPECT_FALSE(console->MinimizeToTray());
    console->Pages()->TabButton(1)->click();

    QTest::mouseClick(Child<QLabel>(*console, "ImageReduitFenetre"), Qt::LeftButton);
    EXPECT_FALSE(console->isVisible());
    EXPECT_TRUE(console->MinimizeToTray());
    EXPECT_TRUE(endStatuses.empty());

    TrayItem(*console, "Tray_Open")->trigger();
    EXPECT_TRUE(console->isVisible());
    EXPECT_EQ(console->Pages()->CurrentIndex(), 1);

    console->close();  // Alt+F4 on the shown console hides it
    EXPECT_FALSE(console->isVisible());
    EXPECT_TRUE(endStatuses.empty());
    console->close();  // a close that reaches the hidden console
    EXPECT_EQ(endStatuses, std::vector<int>{0});
}

TEST_F(ConsoleViewsTest, PressingAnyButtonOnTheTitleBandDragsTheWindow) {
    auto console = CreatedConsole();
    console->CoolTray2DblClick();
    auto* band = Child<QWidget>(*console, "Shape4");
    for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton}) {
        SCOPED_TRACE(button);
        const QPoint start = console->pos();
        const QPoint grab(200, 20);
        const auto send = [&](QEvent::Type type, QPoint offset, Qt::MouseButtons held) {
            const QPoint local = grab + offset;
            QMouseEvent event(type, local, band->mapToGlobal(local), button, held, Qt::NoModifier);
            QApplication::sendEvent(band, &event);
        };
        send(QEvent::MouseButtonPress, {}, button);
        send(QEvent::MouseMove, {40, 25}, button);
        send(QEvent::MouseButtonRelease, {40, 25}, Qt::NoButton);
        EXPECT_EQ(console->pos(), start + QPoint(40, 25));
    }
}

TEST_F(ConsoleViewsTest, TheSettingsTabAppliesOnlyOnApplyAndRestoresTheDefault) {
    auto console = CreatedConsole();
    auto* box = Child<QCheckBox>(*console, "checkBlockPorn");
    auto* apply = Child<QPushButton>(*console, "buttonAppliquerConfiguration");
    auto* defaults = Child<QPushButton>(*console, "buttonConfigurationDefaut");
    EXPECT_EQ(box->text(), "Bloquer les sites pornographiques");
    EXPECT_EQ(apply->text(), "&Appliquer");
    EXPECT_EQ(apply->toolTip(), "Appliquer la nouvelle configuration");
    EXPECT_EQ(defaults->text(), QString::fromUtf8("&Défaut"));
    EXPECT_EQ(defaults->toolTip(), QString::fromUtf8("Restaure la configuration par défaut"));

    box->click();
    EXPECT_TRUE(box->isChecked());
    EXPECT_FALSE(PornFilterOn);
    EXPECT_TRUE(services.writes.empty());

    apply->click();
    EXPECT_TRUE(PornFilterOn);
    EXPECT_EQ(services.writes, std::vector<bool>{true});

    defaults->click();
    EXPECT_FALSE(box->isChecked());
    EXPECT_FALSE(PornFilterOn);
    EXPECT_EQ(services.writes, (std::vector<bool>{true, false}));
}

TEST_F(ConsoleViewsTest, HelpOpensThePageOfItsContextAndAMissingPageOpensNothing) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    for (const char* name : {"gardalix-1.html", "gardalix-7.html"}) {
        QFile page(folder.filePath(QLatin1String(name)));
        ASSERT_TRUE(page.open(QIODevice::WriteOnly));
        page.write("<html></html>");
    }
    auto console = CreatedConsole();
    console->HelpFolder = QDir(folder.path()).absolutePath().toStdString() + "/";
    OpenedUrls opened;

    TrayItem(*console, "Tray_Help")->trigger();
    QTest::mouseClick(Child<QLabel>(*console, "Link_Decouvrir"), Qt::LeftButton);
    ModalAnswerer pressF1InAbout(QMessageBox::Ok, [](QWidget* about) {
        QTest::keyClick(about, Qt::Key_F1);
        static_cast<QDialog*>(about)->accept();
    });
    TrayItem(*console, "mnuTrayAbout")->trigger();

    const QString base = QUrl::fromLocalFile(folder.path()).toString();
    EXPECT_EQ(opened.urls, (QStringList{base + "/gardalix-1.html", base + "/gardalix-1.html",
                                        base + "/gardalix-7.html"}));

    QFile::remove(folder.filePath("gardalix-1.html"));
    ModalAnswerer noBox(QMessageBox::Ok);
    TrayItem(*console, "Tray_Help")->trigger();
    EXPECT_EQ(opened.urls.size(), 3);
    EXPECT_TRUE(noBox.seen.empty());
}

TEST_F(ConsoleViewsTest, TheTestLinkAsksFirstAndOpensTheTestPageOnlyOnYes) {
    auto console = CreatedConsole();
    OpenedUrls opened;
    for (auto answer : {QMessageBox::No, QMessageBox::Yes}) {
        ModalAnswerer answerer(answer);
        QTest::mouseClick(Child<QLabel>(*console, "LabelTestGardalix"), Qt::LeftButton);
        ASSERT_EQ(answerer.seen.size(), 1u);
        EXPECT_EQ(answerer.seen[0].title,
                  QString::fromUtf8("Gardalix: Tester le filtrage temps-réel"));
        EXPECT_EQ(answerer.seen[0].text,
                  QString::fromUtf8("Cette fonction permet de tester le filtrage temps-réel de "
                                    "Gardalix.\n\nVoulez-vous ouvrir une page de test (sans aucun "
                                    "danger) pour tester le filtrage temps-réel de Gardalix"));
        EXPECT_EQ(answerer.seen[0].icon, QMessageBox::Question);
    }
    EXPECT_EQ(opened.urls, QStringList{"https://www.gardalix.example/test_malware"});
}

TEST_F(ConsoleViewsTest, TheAboutBoxShowsTheVersionAndOpensTheProductPage) {
    auto console = CreatedConsole();
    OpenedUrls opened;
    QString version;
    QSize size;
    ModalAnswerer answerer(QMessageBox::Ok, [&](QWidget* about) {
        version = about->findChild<QLabel*>("VersionNum")->text();
        size = about->size();
        QTest::mouseClick(about->findChild<QLabel*>("LabelSiteWeb"), Qt::LeftButton);
        about->findChild<QPushButton*>("OKButton")->click();
    });

    QTest::mouseClick(Child<QLabel>(*console, "LabelAPropos"), Qt::LeftButton);

    ASSERT_EQ(answerer.seen.size(), 1u);
    EXPECT_EQ(answerer.seen[0].title, "A propos de Gardalix");
    EXPECT_EQ(version, "Version 1.5.0 du 07/02/2024");
    EXPECT_EQ(size, QSize(518, 348));
    EXPECT_EQ(opened.urls, QStringList{"https://www.gardalix.example/fr/gardalix.htm"});
}

TEST_F(ConsoleViewsTest, TheFiltrageTabShowsTheListsInUseAndFollowsTheirRefresh) {
    ConsoleServices table = services.Table();
    std::string summary =
        "Listes livrées avec le programme, du 01/12/2026 à 10:00 : 3 adresses "
        "et 1 sites entiers bloqués.";
    int storedLoads = 0;
    table.LoadDownloadedLists = [&storedLoads] { return ++storedLoads, false; };
    table.ListsSummary = [&summary] { return summary; };
    QTemporaryDir places;
    table.ListsRefreshPlaces = [&places] {
        return ListsPlaces{places.path().toStdString() + "/", places.path().toStdString()};
    };
    TFormGardalix console(table);
    console.EndProgram = [](int) {};
    ASSERT_TRUE(console.FormCreate());
    EXPECT_EQ(storedLoads, 1);
    QLabel* label = Child<QLabel>(console, "LabelListes");
    EXPECT_EQ(label->text(), QString::fromStdString(summary));
    ASSERT_NE(console.ListsRefresher(), nullptr);
    EXPECT_TRUE(console.ListsRefresher()->Timer()->isActive());  // the first refresh, in a minute

    summary = "Listes mises à jour le 10/12/2026 à 14:00 : 5 adresses et 2 sites entiers bloqués.";
    emit console.ListsRefresher()->ListsChanged();
    EXPECT_EQ(label->text(), QString::fromStdString(summary));
}

TEST_F(ConsoleViewsTest, StandardButtonsReadInFrench) {
    ASSERT_TRUE(InstallFrenchTranslations());
    QMessageBox box(QMessageBox::Question, "t", "q",
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    EXPECT_EQ(box.button(QMessageBox::Yes)->text().remove('&'), "Oui");
    EXPECT_EQ(box.button(QMessageBox::No)->text().remove('&'), "Non");
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text().remove('&'), "Annuler");
}

}  // namespace
}  // namespace gx::test
