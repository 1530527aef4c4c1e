// gx-screenshots: draws the console's pages and its About box into PNG files, offscreen, from
// the real widgets filled with sample data.
//
//   gx-screenshots [output-folder]     (default: docs)
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <cstdio>
#include <string>
#include <vector>

#include "console/AboutBox.h"
#include "console/ConsoleTexts.h"
#include "console/GX_Main.h"
#include "console/ParentalCodeDialog.h"
#include "console/ProgramStart.h"
#include "console/SidePages.h"
#include "platform/codepage/Cp1252.h"
#include "store/ParentalCode.h"

namespace {

bool codeSet = true;

// A console's services with a working engine and a sample history.
gx::ConsoleServices SampleServices() {
    gx::ConsoleServices services;
    services.LoadPornURLList = [] { return true; };
    services.LoadMalwareURLList = [] { return true; };
    services.StartDriver = [] { return true; };
    services.StopDriver = [] {};
    services.ClearExemptionTables = [] {};
    services.TakeBlockEvents = [] { return std::vector<gx::BlockEvent>{}; };
    services.SetArmBlockTimerHook = [](gx::ArmBlockTimerHook) {};
    services.SetBlockAlertHook = [](gx::BlockAlertHook) {};
    services.ProxyAddress = [] { return std::string(); };
    services.ReadPornFilter = [] { return true; };
    services.WritePornFilter = [](bool) {};
    services.AddBlockLogEntry = [](const std::string&, const std::string&, const std::string&) {};
    services.ReadLogEntries = [] {
        return std::vector<gx::LogValue>{
            {gx::Cp1252(
                 "07/02/2024 14:05:09|faux-support-technique.example/alerte|Site malveillant"),
             "/usr/lib/firefox-esr/firefox-esr"},
            {gx::Cp1252(
                 "07/02/2024 14:12:41|colis-livraison-frais.example/paiement|Site malveillant"),
             "/usr/lib/firefox-esr/firefox-esr"},
            {gx::Cp1252("07/02/2024 16:30:02|www.gardalix.example/test_malware/|URL de test (sans "
                        "danger)"),
             "/usr/lib/chromium/chromium"},
            {gx::Cp1252(
                 "08/02/2024 09:01:17|banque-securite-verif.example/connexion|Site malveillant"),
             "/home/camille/.cache/.x11-update/updater"},
            {gx::Cp1252("08/02/2024 20:44:55|adult-site.example/|Site adulte"),
             "/usr/lib/firefox-esr/firefox-esr"},
        };
    };
    // A code is set (the hash of "1234"), so that the child-protection page shows its buttons;
    // it is taken away before the protection is switched off, which would ask for it.
    const std::string hash = gx::HashParentalCode("1234");
    services.ReadParentalCode = [hash] { return codeSet ? hash : std::string(); };
    services.WriteParentalCode = [](const std::string&) {};
    services.RemoveParentalCode = [] {};
    return services;
}

void Spin(int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

bool Save(QWidget* widget, const QDir& folder, const QString& name) {
    const QString path = folder.filePath(name);
    const bool saved = widget->grab().save(path, "PNG");
    std::fprintf(saved ? stdout : stderr, "%s %s\n", saved ? "wrote" : "could not write",
                 path.toLocal8Bit().constData());
    return saved;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setApplicationDisplayName(QString::fromUtf8(gx::text::kApplicationTitle));
    gx::InstallFrenchTranslations();
    const QDir folder(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs"));
    if (!QDir().mkpath(folder.path())) {
        std::fprintf(stderr, "gx-screenshots: cannot create %s\n",
                     folder.path().toLocal8Bit().constData());
        return 1;
    }

    gx::TFormGardalix console(SampleServices());
    if (!console.FormCreate()) {
        return 1;
    }
    console.CoolTray2DblClick();
    Spin(1500);  // the timed start runs: the status panel shows the protection on

    const char* names[] = {"console-filtrage.png", "console-enfants.png", "console-historique.png",
                           "console-aide.png"};
    bool allSaved = true;
    for (int page = 0; page < console.Pages()->Count(); ++page) {
        console.Pages()->SetCurrentIndex(page);
        Spin(100);
        if (auto* grid = console.findChild<QTableWidget*>(QStringLiteral("TabHistoriqueAlertes"));
            grid && page == 2) {
            grid->selectRow(3);  // the line under the grid names the selected entry's program
            Spin(100);
        }
        allSaved = Save(&console, folder, QLatin1String(names[page])) && allSaved;
    }

    // The protection switched off by the user: the state in red, the start glyph.
    console.Pages()->SetCurrentIndex(0);
    codeSet = false;
    if (auto* toggle = console.findChild<QPushButton*>(QStringLiteral("buttonActiveDesactive"))) {
        toggle->click();
        Spin(100);
        allSaved = Save(&console, folder, QStringLiteral("console-desactive.png")) && allSaved;
    }

    gx::TAboutBox about(&console, {});
    about.show();
    Spin(100);
    allSaved = Save(&about, folder, QStringLiteral("console-apropos.png")) && allSaved;

    // The dialog that a guarded action opens while a code is set.
    gx::CodeAttempts attempts;
    gx::AskParentalCodeDialog ask(&console, attempts, [](const QString&) { return false; });
    ask.show();
    Spin(100);
    allSaved = Save(&ask, folder, QStringLiteral("console-code-parental.png")) && allSaved;
    ask.hide();

    // The console of an account that the system service protects: its window onto the service.
    codeSet = true;
    gx::ConsoleServices servicedTable = SampleServices();
    servicedTable.ProtectedByService = [] { return true; };
    gx::TFormGardalix serviced(servicedTable);
    if (!serviced.FormCreate()) {
        return 1;
    }
    serviced.CoolTray2DblClick();
    Spin(1500);
    serviced.Pages()->SetCurrentIndex(0);
    Spin(100);
    allSaved = Save(&serviced, folder, QStringLiteral("console-service.png")) && allSaved;
    return allSaved ? 0 : 1;
}
