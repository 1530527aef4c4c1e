// Which blocks alert: the table of browsers, the adult reason, unknown programs, and one alert
// per program per hour.
#include <gtest/gtest.h>

#include "console/ProgramAlert.h"

namespace gx::test {
namespace {

TEST(ProgramAlertTest, BrowsersAreKnownByTheNameOfTheirExecutable) {
    const struct {
        const char* path;
        bool browser;
    } cases[] = {
        {"/usr/lib/firefox-esr/firefox-esr", true},
        {"/usr/lib/firefox/firefox", true},
        {"/opt/google/chrome/chrome", true},
        {"/usr/lib/chromium/chromium", true},
        {"/opt/brave.com/brave/brave", true},
        {"/opt/microsoft/msedge/msedge", true},
        {"/usr/lib/x86_64-linux-gnu/opera/opera", true},
        {"/opt/vivaldi/vivaldi-bin", true},
        {"/usr/bin/epiphany", true},
        {"/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/WebKitNetworkProcess", true},
        {"/usr/lib/qt6/libexec/QtWebEngineProcess", true},
        {"/usr/bin/falkon", true},
        {"/usr/bin/konqueror", true},
        {"/tmp/x/FIREFOX", true},  // letter case ignored
        {"firefox", true},         // a bare command name
        {"/usr/bin/curl", false},
        {"/usr/lib/firefox/updater", false},  // a browser's folder is not enough
        {"/tmp/firefox-helper", false},
        {"/home/u/firefox/miner", false},
        {"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(IsKnownBrowser(c.path), c.browser);
    }
}

class ProgramAlertsTest : public ::testing::Test {
  protected:
    std::chrono::steady_clock::time_point now{std::chrono::hours(100)};
    ProgramAlerts alerts{[this] { return now; }};

    static BlockEvent Block(const std::string& program, const std::string& reason) {
        return BlockEvent{"bad.example/", reason, program, 77};
    }
};

TEST_F(ProgramAlertsTest, OnlyAProgramThatIsNotABrowserAlertsAndNeverForAnAdultSite) {
    const struct {
        const char* what;
        BlockEvent block;
        bool alerts;
    } cases[] = {
        {"curl, malicious site", Block("/usr/bin/curl", "Site malveillant"), true},
        {"wget, test page", Block("/usr/bin/wget", "URL de test (sans danger)"), true},
        {"python, adult site", Block("/usr/bin/python3", "Site adulte"), false},
        {"a browser", Block("/usr/lib/firefox/firefox", "Site malveillant"), false},
        {"unknown program", Block("", "Site malveillant"), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(alerts.ShouldAlert(c.block), c.alerts);
    }
}

TEST_F(ProgramAlertsTest, AProgramAlertsAtMostOncePerHour) {
    const BlockEvent curl = Block("/usr/bin/curl", "Site malveillant");
    const BlockEvent wget = Block("/usr/bin/wget", "Site malveillant");
    EXPECT_TRUE(alerts.ShouldAlert(curl));
    EXPECT_FALSE(alerts.ShouldAlert(curl));
    EXPECT_TRUE(alerts.ShouldAlert(wget)) << "each program has its own hour";
    now += std::chrono::minutes(59);
    EXPECT_FALSE(alerts.ShouldAlert(curl));
    now += std::chrono::minutes(1);
    EXPECT_TRUE(alerts.ShouldAlert(curl));
    EXPECT_FALSE(alerts.ShouldAlert(curl));
}

TEST_F(ProgramAlertsTest, ManyProgramsDoNotGrowWithoutBound) {
    int alerted = 0;
    for (int i = 0; i < 3000; ++i) {
        alerted += alerts.ShouldAlert(Block("/tmp/p" + std::to_string(i), "Site malveillant"));
    }
    EXPECT_EQ(alerted, 1024);
    now += std::chrono::hours(1);  // the old hours are over: room again
    EXPECT_TRUE(alerts.ShouldAlert(Block("/tmp/new", "Site malveillant")));
}

TEST(ProgramAlertTextTest, NamesTheProgramItsProcessAndTheAddressWithTheAdvice) {
    const BlockEvent block{"bad.example/caf\xE9", "Site malveillant", "/tmp/caf\xE9/x", 4242};
    EXPECT_EQ(ProgramAlertTitle(), "Gardalix : programme suspect");
    EXPECT_EQ(ProgramAlertText(block),
              "Le programme /tmp/café/x (processus 4242) a tenté d'ouvrir l'adresse bloquée "
              "bad.example/café (Site malveillant).\n"
              "Ce programme n'est pas un navigateur : votre ordinateur est peut-être infecté.");
}

}  // namespace
}  // namespace gx::test
