// The protection's state: the timed start, a failing engine, the two toggles, stop and close,
// and the quit timer.
#include <QTimer>

#include "ConsoleTestSupport.h"

namespace gx::test {
namespace {

const QColor kDesignColour(0x0b, 0x3d, 0x75);

class ConsoleProtectionTest : public ConsoleTest {
  protected:
    // A console whose timed start has run.
    std::unique_ptr<TFormGardalix> StartedConsole() {
        auto console = CreatedConsole();
        EXPECT_TRUE(SpinUntil([&] { return services.Count("StartDriver") == 1; }));
        return console;
    }

    void ExpectOn(TFormGardalix& console) {
        EXPECT_TRUE(console.ProtectionActive());
        EXPECT_EQ(Child<QLabel>(console, "StatusLabel")->text(),
                  QString::fromUtf8("Gardalix est ACTIF et protège votre ordinateur"));
        EXPECT_EQ(Child<QPushButton>(console, "buttonActiveDesactive")->text(),
                  QString::fromUtf8("&Désactiver"));
        EXPECT_EQ(TrayItem(console, "Dsactiverlefirewall1")->text(),
                  QString::fromUtf8("&Désactiver Gardalix"));
    }

    void ExpectOffByUser(TFormGardalix& console) {
        EXPECT_FALSE(console.ProtectionActive());
        EXPECT_EQ(Child<QLabel>(console, "StatusLabel")->text(),
                  QString::fromUtf8("Gardalix est DESACTIVE et ne protège pas votre ordinateur"));
        EXPECT_EQ(LabelColour(console), QColor(Qt::red));
        EXPECT_EQ(Child<QPushButton>(console, "buttonActiveDesactive")->text(), "&Activer");
        EXPECT_EQ(Child<QPushButton>(console, "buttonActiveDesactive")->property("glyph"), "start");
        EXPECT_EQ(TrayItem(console, "Dsactiverlefirewall1")->text(), "&Activer Gardalix");
    }
};

TEST_F(ConsoleProtectionTest, LaunchShowsTheDesignStateThenStartsOneSecondLater) {
    auto console = CreatedConsole();
    auto* label = Child<QLabel>(*console, "StatusLabel");
    EXPECT_EQ(label->text(), QString::fromUtf8("Gardalix est ACTIF et protège votre ordinateur."));
    EXPECT_EQ(TrayItem(*console, "Dsactiverlefirewall1")->text(),
              QString::fromUtf8("&Désactiver Gardalix"));
    EXPECT_EQ(services.Count("StartDriver"), 0);

    ASSERT_TRUE(SpinUntil([&] { return services.Count("StartDriver") == 1; }));
    ExpectOn(*console);
    EXPECT_FALSE(console->TimerStartDriverTimer()->isActive());
    EXPECT_EQ(LabelColour(*console), kDesignColour);
    EXPECT_EQ(Child<QPushButton>(*console, "buttonActiveDesactive")->property("glyph"), "stop");
}

TEST_F(ConsoleProtectionTest, AnEngineThatCannotStartShowsTheErrorOnceAndTheOffState) {
    services.driverStarts = false;
    ModalAnswerer answerer(QMessageBox::Ok);
    auto console = StartedConsole();
    SpinUntil([&] { return !answerer.seen.empty(); });
    QApplication::processEvents();

    ASSERT_EQ(answerer.seen.size(), 1u);
    EXPECT_EQ(answerer.seen[0].title, "Gardalix : erreur driver");
    EXPECT_EQ(answerer.seen[0].text,
              QString::fromUtf8("Impossible d'activer le driver de Gardalix.\n\nContactez l'équipe "
                                "Keldoran/Brevane à l'adresse support@gardalix.example en "
                                "indiquant votre version de Windows."));
    EXPECT_EQ(answerer.seen[0].icon, QMessageBox::Critical);
    EXPECT_FALSE(console->ProtectionActive());
    EXPECT_EQ(
        Child<QLabel>(*console, "StatusLabel")->text(),
        QString::fromUtf8("Gardalix Firewall est DESACTIVE et ne protège pas votre ordinateur"));
    EXPECT_EQ(LabelColour(*console), kDesignColour);
    EXPECT_EQ(Child<QPushButton>(*console, "buttonActiveDesactive")->text(), "&Activer");
    EXPECT_EQ(TrayItem(*console, "Dsactiverlefirewall1")->text(), "&Activer Gardalix");
    EXPECT_EQ(services.Count("StopDriver"), 0);
}

// The button and the tray item toggle alike; the tray item also disarms a pending start.
TEST_F(ConsoleProtectionTest, BothTogglesSwitchOffAndOnWithTheirCaptionsGlyphsAndColours) {
    for (const char* source : {"button", "tray"}) {
        SCOPED_TRACE(source);
        const bool fromTray = std::string(source) == "tray";
        services.calls.clear();
        auto console = StartedConsole();
        const auto toggle = [&] {
            if (fromTray) {
                TrayItem(*console, "Dsactiverlefirewall1")->trigger();
            } else {
                Child<QPushButton>(*console, "buttonActiveDesactive")->click();
            }
        };

        console->TimerStartDriverTimer()->start();
        toggle();
        EXPECT_EQ(services.Count("StopDriver"), 1);
        ExpectOffByUser(*console);
        EXPECT_EQ(console->TimerStartDriverTimer()->isActive(), !fromTray);
        console->TimerStartDriverTimer()->stop();

        toggle();
        EXPECT_EQ(services.Count("StartDriver"), 2);
        ExpectOn(*console);
        EXPECT_EQ(LabelColour(*console), QColor(Qt::black));
        EXPECT_EQ(Child<QPushButton>(*console, "buttonActiveDesactive")->property("glyph"), "stop");
        // No second start is scheduled after a start from the tray.
        EXPECT_FALSE(console->TimerStartDriverTimer()->isActive());
    }
}

TEST_F(ConsoleProtectionTest, AFailedSwitchOnShowsTheErrorThenStopsAndShowsOff) {
    for (const char* source : {"button", "tray"}) {
        SCOPED_TRACE(source);
        services.calls.clear();
        services.driverStarts = true;
        auto console = StartedConsole();
        Child<QPushButton>(*console, "buttonActiveDesactive")->click();  // off
        services.driverStarts = false;
        ModalAnswerer answerer(QMessageBox::Ok);

        if (std::string(source) == "tray") {
            TrayItem(*console, "Dsactiverlefirewall1")->trigger();
        } else {
            Child<QPushButton>(*console, "buttonActiveDesactive")->click();
        }

        ASSERT_EQ(answerer.seen.size(), 1u);
        EXPECT_EQ(answerer.seen[0].title, "Gardalix : erreur driver");
        EXPECT_EQ(services.Count("StopDriver"), 2);
        ExpectOffByUser(*console);
    }
}

TEST_F(ConsoleProtectionTest, StopAndCloseAnsweredNoChangesNothing) {
    auto console = StartedConsole();
    ModalAnswerer answerer(QMessageBox::No);
    TrayItem(*console, "Tray_Close")->trigger();

    ASSERT_EQ(answerer.seen.size(), 1u);
    EXPECT_EQ(answerer.seen[0].title, "Gardalix : confirmation");
    EXPECT_EQ(answerer.seen[0].text,
              QString::fromUtf8("Etes-vous sûr de vouloir arrêter et fermer Gardalix ?\nEn "
                                "arrêtant Gardalix vous arrêtez votre protection"));
    EXPECT_EQ(answerer.seen[0].icon, QMessageBox::Question);
    EXPECT_EQ(services.Count("StopDriver"), 0);
    EXPECT_TRUE(endStatuses.empty());
    ExpectOn(*console);
}

TEST_F(ConsoleProtectionTest, StopAndCloseAnsweredYesStopsTheEngineEvenWhenOffAndEnds) {
    auto console = StartedConsole();
    Child<QPushButton>(*console, "buttonActiveDesactive")->click();  // already off
    console->TimerStartDriverTimer()->start();
    ModalAnswerer answerer(QMessageBox::Yes);

    TrayItem(*console, "Tray_Close")->trigger();

    EXPECT_EQ(services.Count("StopDriver"), 2);
    EXPECT_FALSE(console->TimerStartDriverTimer()->isActive());
    ExpectOffByUser(*console);
    EXPECT_EQ(endStatuses, std::vector<int>{0});
}

TEST_F(ConsoleProtectionTest, TheQuitTimerEndsTheProcessAtOnceWithStatusZero) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            auto console = CreatedConsole();
            console->TimerQuitTimer()->start();
            SpinUntil([] { return false; }, 10000);
            std::exit(3);  // not reached when the timer ends the process
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(services.Count("StopDriver"), 0);
}

}  // namespace
}  // namespace gx::test
