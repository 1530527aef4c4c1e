// The console's creation: order of the steps, block lists that do not load, errors in a step.
#include <QCheckBox>
#include <QHeaderView>
#include <QTableWidget>
#include <QTimer>
#include <stdexcept>

#include "ConsoleTestSupport.h"
#include "console/SidePages.h"
#include "engine/ChildProtection.h"

namespace gx::test {
namespace {

using ::testing::ElementsAre;

class ConsoleCreateTest : public ConsoleTest {};

TEST_F(ConsoleCreateTest, CreationRunsItsStepsInOrderAndArmsTheStartAndUpdateTimers) {
    auto console = MakeConsole();
    bool handlerInstalledBeforeLists = false;
    console->OnInstallMessageHandler = [&] {
        handlerInstalledBeforeLists = services.Count("LoadPornURLList") == 0;
    };
    services.pornFilterStored = true;

    ASSERT_TRUE(console->FormCreate());

    EXPECT_THAT(services.calls,
                ElementsAre("ClearExemptionTables", "SetArmBlockTimerHook", "SetBlockAlertHook",
                            "LoadPornURLList", "LoadMalwareURLList", "ReadPornFilter"));
    EXPECT_TRUE(handlerInstalledBeforeLists);
    EXPECT_FALSE(console->ProtectionActive());
    EXPECT_TRUE(PornFilterOn);
    EXPECT_TRUE(Child<QCheckBox>(*console, "checkBlockPorn")->isChecked());
    EXPECT_TRUE(console->TimerStartDriverTimer()->isActive());
    EXPECT_EQ(console->TimerStartDriverTimer()->interval(), 1000);
    EXPECT_TRUE(console->TimerCheckMiseAjourTimer()->isActive());
    EXPECT_EQ(console->TimerCheckMiseAjourTimer()->interval(), 30000);
    EXPECT_FALSE(console->TimerUpDateEventLogTimer()->isActive());
    EXPECT_FALSE(console->TimerQuitTimer()->isActive());
    EXPECT_EQ(console->Pages()->CurrentIndex(), 0);
    EXPECT_FALSE(console->isVisible());

    auto* grid = Child<QTableWidget>(*console, "TabHistoriqueAlertes");
    EXPECT_EQ(grid->rowCount(), 49);
    EXPECT_EQ(grid->model()->headerData(0, Qt::Horizontal).toString(), "Date");
    EXPECT_EQ(grid->model()->headerData(1, Qt::Horizontal).toString(), "URL");
    EXPECT_EQ(grid->model()->headerData(2, Qt::Horizontal).toString(), "Type");
    EXPECT_TRUE(services.logEntries.empty());
}

TEST_F(ConsoleCreateTest, AListThatDoesNotLoadEndsTheProgramWithItsBox) {
    struct Case {
        bool pornLoads;
        const char* title;
        const char* text;
        int malwareLoads;  // times the second list was read
    };
    const Case cases[] = {
        {false, "Erreur fichier gx_pu.dat", "Erreur lors du chargement du fichier gx_pu.dat", 0},
        {true, "Erreur fichier gx_mu.dat", "Erreur lors du chargement du fichier gx_mu.dat", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        RecordingServices listServices;
        listServices.pornListLoads = c.pornLoads;
        listServices.malwareListLoads = false;
        TFormGardalix console(listServices.Table());
        ModalAnswerer answerer(QMessageBox::Ok);

        EXPECT_FALSE(console.FormCreate());

        ASSERT_EQ(answerer.seen.size(), 1u);
        EXPECT_EQ(answerer.seen[0].title, QString::fromUtf8(c.title));
        EXPECT_EQ(answerer.seen[0].text, QString::fromUtf8(c.text));
        EXPECT_EQ(answerer.seen[0].icon, QMessageBox::Critical);
        EXPECT_EQ(listServices.Count("LoadMalwareURLList"), c.malwareLoads);
        EXPECT_EQ(listServices.Count("ReadPornFilter"), 0);
        EXPECT_EQ(listServices.Count("StartDriver"), 0);
        EXPECT_FALSE(console.TimerStartDriverTimer()->isActive());
        EXPECT_FALSE(console.isVisible());
    }
}

TEST_F(ConsoleCreateTest, AnUnreadableSwitchIsShownCountsAsOffAndTheProtectionStillStarts) {
    ConsoleServices table = services.Table();
    table.ReadPornFilter = []() -> bool {
        throw std::runtime_error("Type de données incorrect pour 'PORN_FILTER'");
    };
    TFormGardalix failing(table);
    failing.EndProgram = [this](int status) { endStatuses.push_back(status); };
    ModalAnswerer answerer(QMessageBox::Ok);
    PornFilterOn = true;  // left over from an earlier reading

    EXPECT_TRUE(failing.FormCreate());

    ASSERT_EQ(answerer.seen.size(), 1u);
    EXPECT_EQ(answerer.seen[0].title, "Gardalix 2024");
    // The text ends in a quote, which sorts before the full stop: no full stop is added.
    EXPECT_EQ(answerer.seen[0].text,
              QString::fromUtf8("Type de données incorrect pour 'PORN_FILTER'"));
    EXPECT_EQ(answerer.seen[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(failing.TimerStartDriverTimer()->isActive());
    EXPECT_TRUE(failing.TimerCheckMiseAjourTimer()->isActive());
    EXPECT_FALSE(Child<QCheckBox>(failing, "checkBlockPorn")->isChecked());
    EXPECT_FALSE(PornFilterOn.load());
    EXPECT_TRUE(endStatuses.empty());
}

TEST_F(ConsoleCreateTest, AListLoadThatFailsWithAnErrorEndsTheStartWithoutProtection) {
    ConsoleServices table = services.Table();
    table.LoadMalwareURLList = []() -> bool { throw std::bad_alloc(); };
    TFormGardalix failing(table);
    failing.EndProgram = [this](int status) { endStatuses.push_back(status); };
    ModalAnswerer answerer(QMessageBox::Ok);

    EXPECT_FALSE(failing.FormCreate());

    ASSERT_EQ(answerer.seen.size(), 1u);
    EXPECT_EQ(answerer.seen[0].icon, QMessageBox::Critical);
    EXPECT_FALSE(failing.TimerStartDriverTimer()->isActive());
}

TEST_F(ConsoleCreateTest, ErrorTextsGetAFullStopOnlyWhenTheyDoNotEndInOne) {
    struct Case {
        const char* thrown;
        const char* shown;
    };
    const Case cases[] = {
        {"Echec", "Echec."},
        {"Echec.", "Echec."},
        {"Echec !", "Echec !"},
        {"Echec à la définition des données pour 'x|y'",
         "Echec à la définition des données pour 'x|y'"},
        {"Echec à la définition des données pour x", "Echec à la définition des données pour x."},
        {"", "."},
        {"Echec pour caf\xE9", "Echec pour café."},  // a Windows-1252 name
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.thrown);
        services.throwOnApply = [&c] { throw std::runtime_error(c.thrown); };
        auto console = CreatedConsole();
        ModalAnswerer answerer(QMessageBox::Ok);
        Child<QPushButton>(*console, "buttonAppliquerConfiguration")->click();
        ASSERT_EQ(answerer.seen.size(), 1u);
        EXPECT_EQ(answerer.seen[0].text, QString::fromUtf8(c.shown));
    }
}

}  // namespace
}  // namespace gx::test
