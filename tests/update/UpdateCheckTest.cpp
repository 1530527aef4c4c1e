// The update check against real loopback servers, its windows answered as a user would.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QEventLoop>
#include <QProgressBar>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "UpdateTestSupport.h"
#include "platform/registry/Registry.h"
#include "platform/registry/TempHive.h"
#include "store/GX_ConfigReg.h"
#include "support/TempFolder.h"
#include "update/GX_UpDateDlg.h"
#include "update/UpdateDialogs.h"
#include "update/UpdateSettings.h"
#include "update/gx_update.h"

namespace gx::test {
namespace {

constexpr char kConnect[] = "/update2024/gardalix/connect.php";
constexpr char kDescription[] = "/update2024/gardalix/fr/gardalix2024id.txt";
constexpr char kFile[] = "/files/gardalix-2.0.0.bin";

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

const QString kConnectionErrorTail = Utf8(
    ")\r\nVérifiez que vous êtes bien connecté à Internet.\r\n\r\nSi vous avez un firewall ou le "
    "parefeu Windows, vous devez ajouter Gardalix à votre firewall\r\net l'autoriser à accéder à "
    "internet.");
const QString kUpToDate = Utf8("Gardalix est à jour.\r\rVous disposez des dernières mises à jour.");

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class UpdateCheckTest : public gx::testing::TempHiveTest {
  protected:
    void SetUp() override {
        TempHiveTest::SetUp();
        App();
        if (const char* tmp = std::getenv("TMPDIR")) {
            savedTmp_ = tmp;
        }
        setenv("TMPDIR", temp_.Path().c_str(), 1);
        cwd_ = std::filesystem::current_path();
        SetText(kUpdateServerValue, main_.Base());
        SetText(kUpdateServerFallbackValue, fallback_.Base());
        TellUpdatesOnStderr(false);

        UpdateHost host;
        host.ProtectionActive = [this] { return protectionOn; };
        host.StopProtection = [this] {
            ++stops;
            protectionOn = false;
        };
        host.StartQuitTimer = [this] { ++quitTimers; };
        host.OpenRestartProgram = [this](const std::string& program) {
            restartsOpened.push_back(program);
            // The hand-over happens with the download closed and complete.
            downloadAtRestart = ReadAll(Target());
        };
        host.programDir = programDir_.Path().string() + "/";
        client = std::make_unique<UpdateClient>(std::move(host));
        client->CreateDialogs();
    }

    void TearDown() override {
        client.reset();
        std::filesystem::current_path(cwd_);
        if (savedTmp_) {
            setenv("TMPDIR", savedTmp_->c_str(), 1);
        } else {
            unsetenv("TMPDIR");
        }
        TempHiveTest::TearDown();
    }

    static void SetText(const char* name, const std::string& value) {
        Registry registry;
        ASSERT_TRUE(registry.OpenKey(kGardalixKey, true));
        registry.WriteString(name, value);
    }
    static void SetNumber(const char* name, int32_t value) {
        Registry registry;
        ASSERT_TRUE(registry.OpenKey(kGardalixKey, true));
        registry.WriteInteger(name, value);
    }

    std::string Target() const { return temp_.File("gxsoft.dat"); }

    // The main server accepts the connection and serves the description.
    void Publish(const std::string& description) {
        main_.Serve(kConnect, {200, "OK\r\n"});
        main_.Serve(kDescription, {200, description});
    }

    // A description of build 2.0.0 whose file lies on the main server.
    std::string NewBuild(const std::string& size, const std::string& extra = {}) {
        return "FILES_LOCATION=" + main_.Base() + "/files/;\r\n" +
               "SOFTWARE_FILE=gardalix-2.0.0.bin;\r\nSOFTWARE_BUILD_VERSION=2.0.0;\r\n" +
               "SOFTWARE_UPDATE_DATE=01/03/2024;\r\n" + size + extra;
    }

    TUpDateDlg& Progress() { return client->Dialogs().UpDateDlg(); }

    QApplication& app_ = App();  // before the servers: their sockets need the event loop
    UpdateServer main_;
    UpdateServer fallback_;
    gx::testing::TempFolder temp_;
    gx::testing::TempFolder programDir_;
    std::unique_ptr<UpdateClient> client;
    bool protectionOn = true;
    int stops = 0;
    int quitTimers = 0;
    std::vector<std::string> restartsOpened;
    std::string downloadAtRestart;

  private:
    std::optional<std::string> savedTmp_;
    std::filesystem::path cwd_;
};

TEST_F(UpdateCheckTest, AnUpToDateProgramIsToldSoAndTheRequestCarriesTheEncodedValues) {
    SetText(kCustomerIdValue, "C &D#1+x=%");
    SetNumber(kCustomerCodeValue, 4711);
    Publish("FILES_LOCATION=http://files.example/;\r\nSOFTWARE_BUILD_VERSION=1.5.0;\r\n");
    UpdateAnswerer answerer;
    client->Label_MiseAJourClick();

    ASSERT_EQ(main_.Targets().size(), 2u);
    EXPECT_EQ(main_.Targets()[0], std::string(kConnect) +
                                      "?id=C%20%26D%231%2Bx%3D%25&w=" + SystemVersionText() +
                                      "&l=&v=&h=" + SystemVolumeSerial() + "&kdv=1.5.0&idc=4711");
    EXPECT_EQ(main_.Targets()[1], kDescription);
    ASSERT_EQ(answerer.seen.size(), 1u);
    EXPECT_EQ(answerer.seen[0].kind, "message");
    EXPECT_EQ(answerer.seen[0].title, Utf8("Gardalix : mise à jour"));
    EXPECT_EQ(answerer.seen[0].text, kUpToDate);
    EXPECT_EQ(Progress().THELabel->text(), Utf8("Recherche de mise à jour ..."));
    EXPECT_FALSE(Progress().isVisible());
    EXPECT_FALSE(client->FUpdateRunning);
    EXPECT_TRUE(client->FUpdateInfo.empty());
    EXPECT_EQ(std::filesystem::current_path(), programDir_.Path());
}

TEST_F(UpdateCheckTest, PlainValuesGoOutUnchangedAndMissingIdentifiersAreEmptyAndZero) {
    Publish("");
    UpdateAnswerer answerer;
    client->Label_MiseAJourClick();
    ASSERT_FALSE(main_.Targets().empty());
    EXPECT_EQ(main_.Targets()[0], std::string(kConnect) + "?id=&w=" + SystemVersionText() +
                                      "&l=&v=&h=" + SystemVolumeSerial() + "&kdv=1.5.0&idc=0");
    SetText(kCustomerIdValue, "Abc-1.2_z");
    SetNumber(kCustomerCodeValue, 70000);  // no customer code
    client->Label_MiseAJourClick();
    ASSERT_EQ(main_.Hits(kConnect), 2);
    EXPECT_EQ(main_.Targets()[2].substr(0, std::string(kConnect).size() + 14),
              std::string(kConnect) + "?id=Abc-1.2_z&");
    EXPECT_TRUE(main_.Targets()[2].ends_with("&idc=0"));
}

TEST_F(UpdateCheckTest, OnlyAFirstLineReadingExactlyOkAcceptsTheConnection) {
    const struct {
        std::string reply;
        std::optional<QString> refusal;  // nullopt: accepted
    } cases[] = {
        {"OK", std::nullopt},
        {"OK\r\nbienvenue\r\nencore", std::nullopt},
        {"OK\nsuite", std::nullopt},
        {"ok", QStringLiteral("ok")},
        {"OK ", QStringLiteral("OK ")},
        {" OK", QStringLiteral(" OK")},
        {"Client inconnu\r\nOK", Utf8("Client inconnu")},
        {"", Utf8("Impossible d'établir la connexion avec le serveur de mise à jour.")},
        {"Compte suspendu \xE9t\xE9", Utf8("Compte suspendu été")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        UpdateServer server;
        SetText(kUpdateServerValue, server.Base());
        server.Serve(kConnect, {200, c.reply});
        server.Serve(kDescription, {200, "SOFTWARE_BUILD_VERSION=1.5.0;"});
        UpdateAnswerer answerer;
        client->Label_MiseAJourClick();
        ASSERT_EQ(answerer.seen.size(), 1u);
        if (c.refusal) {
            EXPECT_EQ(answerer.seen[0].kind, "box");
            EXPECT_EQ(answerer.seen[0].title, Utf8("Gardalix mise à jour : Problème de connexion"));
            EXPECT_EQ(answerer.seen[0].text, *c.refusal);
            EXPECT_EQ(answerer.seen[0].icon, QMessageBox::Critical);
            EXPECT_EQ(server.Hits(kDescription), 0);
        } else {
            EXPECT_EQ(answerer.seen[0].kind, "message");
            EXPECT_EQ(server.Hits(kDescription), 1);
        }
        EXPECT_FALSE(client->FUpdateRunning);
    }
}

TEST_F(UpdateCheckTest, TheFallbackGetsOnlyFourKeysAfterFiveFailedAttemptsAndServesTheDescription) {
    SetText(kCustomerIdValue, "ID7");
    main_.Serve(kConnect, {503, "occupé"});
    fallback_.Serve(kConnect, {200, "OK"});
    fallback_.Serve(kDescription, {200, NewBuild("SOFTWARE_SIZE=10;")});
    UpdateAnswerer answerer(false);
    client->Label_MiseAJourClick();

    EXPECT_EQ(main_.Hits(kConnect), 5);
    EXPECT_EQ(main_.Hits(kDescription), 0);
    ASSERT_EQ(fallback_.Targets().size(), 2u);
    EXPECT_EQ(fallback_.Targets()[0],
              std::string(kConnect) + "?id=ID7&w=" + SystemVersionText() + "&l=&v=");
    EXPECT_EQ(fallback_.Targets()[1], kDescription);
    ASSERT_EQ(answerer.seen.size(), 1u);
    EXPECT_EQ(answerer.seen[0].kind, "question");
    EXPECT_EQ(main_.Hits(kFile), 0);  // declined: nothing downloaded
}

TEST_F(UpdateCheckTest, WithNoServerAnsweringTheConnectionErrorIsShownWithItsCode) {
    SetText(kUpdateServerValue, UnreachableBase());
    SetText(kUpdateServerFallbackValue, UnreachableBase());
    UpdateAnswerer answerer;
    client->Label_MiseAJourClick();
    ASSERT_EQ(answerer.seen.size(), 1u);
    EXPECT_EQ(answerer.seen[0].kind, "box");
    EXPECT_EQ(answerer.seen[0].title, Utf8("Gardalix mise à jour : Problème de connexion"));
    EXPECT_EQ(answerer.seen[0].text,
              Utf8("Impossible d'établir la connexion avec le serveur de mise à jour. (erreur "
                   "404") +
                  kConnectionErrorTail);
    EXPECT_FALSE(client->FUpdateRunning);
    EXPECT_FALSE(Progress().isVisible());
}

TEST_F(UpdateCheckTest, AFailedDescriptionIsTriedOnceAndToldWithTheStatus) {
    main_.Serve(kConnect, {200, "OK"});
    main_.Serve(kDescription, {500, "panne"});
    UpdateAnswerer answerer;
    client->Label_MiseAJourClick();
    EXPECT_EQ(main_.Hits(kDescription), 1);
    ASSERT_EQ(answerer.seen.size(), 1u);
    EXPECT_EQ(answerer.seen[0].title, Utf8("Gardalix : Problème de connexion"));
    EXPECT_EQ(answerer.seen[0].text,
              Utf8("Impossible d'établir la connexion avec le serveur de mise à jour. (erreur "
                   "500") +
                  kConnectionErrorTail);
}

TEST_F(UpdateCheckTest, TheDescriptionDecidesWhetherAnUpdateIsOffered) {
    const struct {
        const char* name;
        std::string description;
        std::optional<QString> offer;  // nullopt: up to date
        std::int64_t expectedSize;
    } cases[] = {
        {"same build", "FILES_LOCATION=http://f.example/;\nSOFTWARE_BUILD_VERSION=1.5.0;\n",
         std::nullopt, 0},
        {"version without ';' reads empty",
         "FILES_LOCATION=http://f.example/;\nSOFTWARE_BUILD_VERSION=1.5.0\n", Utf8("(v)"), 0},
        {"older build", "FILES_LOCATION=http://f.example/;\rSOFTWARE_BUILD_VERSION=1.4.9;\r",
         Utf8("(v1.4.9)"), 0},
        {"no location", "SOFTWARE_BUILD_VERSION=2.0.0;\r\n", std::nullopt, 0},
        {"location without ';'",
         "FILES_LOCATION=http://f.example/\r\nSOFTWARE_BUILD_VERSION=2.0.0;", std::nullopt, 0},
        {"empty file", "", std::nullopt, 0},
        {"valid size",
         "FILES_LOCATION=http://f.example/;\nSOFTWARE_BUILD_VERSION=2.0.0;\nSOFTWARE_SIZE=12345;",
         Utf8("(v2.0.0)"), 12345},
        {"size abc",
         "FILES_LOCATION=http://f.example/;\nSOFTWARE_BUILD_VERSION=2.0.0;\nSOFTWARE_SIZE=abc;",
         Utf8("(v2.0.0)"), 0},
        {"size missing", "FILES_LOCATION=http://f.example/;\nSOFTWARE_BUILD_VERSION=2.0.0;",
         Utf8("(v2.0.0)"), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        client->FExpectedSize = -7;
        Publish(c.description);
        UpdateAnswerer answerer(false);
        client->Label_MiseAJourClick();
        ASSERT_EQ(answerer.seen.size(), 1u);
        if (c.offer) {
            EXPECT_EQ(answerer.seen[0].kind, "question");
            EXPECT_EQ(answerer.seen[0].title, Utf8("Gardalix : Mise à jour"));
            EXPECT_EQ(answerer.seen[0].text, Utf8("Une mise à jour de Gardalix est disponible ") +
                                                 *c.offer +
                                                 Utf8("\r\rSouhaitez vous la télécharger ?"));
            EXPECT_EQ(client->FExpectedSize, c.expectedSize);
        } else {
            EXPECT_EQ(answerer.seen[0].kind, "message");
            EXPECT_EQ(answerer.seen[0].text, kUpToDate);
        }
        EXPECT_EQ(main_.Hits(kFile), 0);
    }
}

TEST_F(UpdateCheckTest, TheAutomaticCheckIsSilentUnlessItHasSomethingToSay) {
    Publish("FILES_LOCATION=http://f.example/;\nSOFTWARE_BUILD_VERSION=1.5.0;\n");
    {
        UpdateAnswerer answerer;
        bool progressShown = false;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, &watch,
                         [&] { progressShown = progressShown || Progress().isVisible(); });
        watch.start(1);
        client->TimerCheckMiseAjourTimer();
        EXPECT_TRUE(answerer.seen.empty());
        EXPECT_FALSE(progressShown);
        EXPECT_TRUE(Progress().THELabel->text().isEmpty());
        EXPECT_EQ(main_.Hits(kDescription), 1);
    }
    {
        // Errors and offers are shown all the same.
        main_.Serve(kDescription, {200, NewBuild("")});
        UpdateAnswerer answerer(false);
        client->TimerCheckMiseAjourTimer();
        ASSERT_EQ(answerer.seen.size(), 1u);
        EXPECT_EQ(answerer.seen[0].kind, "question");
        main_.Serve(kConnect, {200, "refus"});
        client->TimerCheckMiseAjourTimer();
        ASSERT_EQ(answerer.seen.size(), 2u);
        EXPECT_EQ(answerer.seen[1].text, QStringLiteral("refus"));
    }
}

TEST_F(UpdateCheckTest, ATriggerDuringACheckDoesNothingAndTheLastTriggerDecidesTheUpToDateMessage) {
    Publish("FILES_LOCATION=http://f.example/;\nSOFTWARE_BUILD_VERSION=1.5.0;\n");
    main_.Serve(kConnect, {200, "OK", 0});  // holds its answer
    UpdateAnswerer answerer;
    bool secondReturned = false;
    bool runningDuringSecond = false;
    QTimer::singleShot(300, [&] {
        runningDuringSecond = client->FUpdateRunning;
        client->Label_MiseAJourClick();  // the user clicks while the automatic check waits
        secondReturned = true;
        main_.Release();
    });
    client->TimerCheckMiseAjourTimer();
    EXPECT_TRUE(secondReturned);
    EXPECT_TRUE(runningDuringSecond);
    EXPECT_EQ(main_.Hits(kConnect), 1);
    // The click came last: the automatic check ends with the message.
    ASSERT_EQ(answerer.seen.size(), 1u);
    EXPECT_EQ(answerer.seen[0].kind, "message");

    // Once it ended, a click starts a new check.
    main_.Serve(kConnect, {200, "OK"});
    client->Label_MiseAJourClick();
    EXPECT_EQ(main_.Hits(kConnect), 2);
    EXPECT_EQ(answerer.seen.size(), 2u);
}

// ---- The download and the hand-over ----

TEST_F(UpdateCheckTest, AnAcceptedUpdateIsDownloadedWithProgressAndHandedOver) {
    const std::string body(1000, 'x');
    Publish(NewBuild("SOFTWARE_SIZE=1000;"));
    Route file{200, body};
    // The head and the first half go out; the rest once the bar shows 50.
    const std::string head =
        "HTTP/1.0 200 Scripted\r\nContent-Type: text/plain\r\nContent-Length: 1000\r\n\r\n";
    file.holdAt = head.size() + 500;
    main_.Serve(kFile, file);
    // An old, read-only download and old installers are in the way.
    {
        std::ofstream old(Target());
        old << "ancien";
    }
    ::chmod(Target().c_str(), 0400);
    std::ofstream(programDir_.File("gxsoft")) << "old";
    std::ofstream(temp_.File("gxsoft")) << "old";

    std::vector<int> shown;
    QObject::connect(Progress().ProgressBar, &QProgressBar::valueChanged, Progress().ProgressBar,
                     [&](int value) {
                         shown.push_back(value);
                         if (value == 50) {
                             main_.Release();  // the second half comes once half is shown
                         }
                     });
    UpdateAnswerer answerer;
    client->Label_MiseAJourClick();

    EXPECT_FALSE(std::filesystem::exists(programDir_.File("gxsoft")));
    EXPECT_FALSE(std::filesystem::exists(temp_.File("gxsoft")));
    EXPECT_EQ(Progress().THELabel->text(), Utf8("Téléchargement des mises à jour..."));
    ASSERT_FALSE(shown.empty());
    EXPECT_NE(std::find(shown.begin(), shown.end(), 50), shown.end());
    EXPECT_EQ(shown.back(), 100);
    EXPECT_EQ(ReadAll(Target()), body);
    EXPECT_EQ(downloadAtRestart, body);
    ASSERT_EQ(answerer.seen.size(), 2u);
    EXPECT_EQ(answerer.seen[1].kind, "applied");
    EXPECT_EQ(answerer.seen[1].text,
              Utf8("Une mise à jour de Gardalix vient d'être téléchargée et va être "
                   "appliquée.\r\nGardalix va être redémarré automatiquement.\r\rMise à jour: "
                   "v2.0.0 du 01/03/2024"));
    EXPECT_EQ(stops, 1);
    ASSERT_EQ(restartsOpened.size(), 1u);
    EXPECT_EQ(restartsOpened[0], programDir_.File("gx_restart"));
    EXPECT_EQ(quitTimers, 1);
    EXPECT_FALSE(client->FUpdateRunning);
    EXPECT_FALSE(Progress().isVisible());
}

TEST_F(UpdateCheckTest, TheBarFollowsTheAnnouncedSize) {
    const struct {
        const char* name;
        std::string sizeLine;
        std::size_t bodySize;
        int last;
    } cases[] = {
        {"longer body than announced", "SOFTWARE_SIZE=100;", 300, 100},
        {"no size", "", 300, 0},
        {"size zero", "SOFTWARE_SIZE=0;", 300, 0},
        {"size not a number", "SOFTWARE_SIZE=abc;", 300, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Publish(NewBuild(c.sizeLine));
        main_.Serve(kFile, {200, std::string(c.bodySize, 'y')});
        int highest = -1;
        QMetaObject::Connection seen = QObject::connect(
            Progress().ProgressBar, &QProgressBar::valueChanged, Progress().ProgressBar,
            [&](int value) { highest = std::max(highest, value); });
        UpdateAnswerer answerer;
        client->Label_MiseAJourClick();
        QObject::disconnect(seen);
        EXPECT_EQ(Progress().ProgressBar->value(), c.last);
        EXPECT_LE(highest, 100);
        EXPECT_EQ(restartsOpened.size(), 1u);
        restartsOpened.clear();
    }
}

TEST_F(UpdateCheckTest, WithTheProtectionOffTheConsoleIsLeftAlone) {
    protectionOn = false;
    Publish(NewBuild("SOFTWARE_SIZE=3;"));
    main_.Serve(kFile, {200, "abc"});
    UpdateAnswerer answerer;
    client->Label_MiseAJourClick();
    EXPECT_EQ(stops, 0);
    EXPECT_EQ(restartsOpened.size(), 1u);
    EXPECT_EQ(quitTimers, 1);
}

TEST_F(UpdateCheckTest, FiveFailedDownloadsShowFiveBoxesAndNoSixthAttempt) {
    Publish(NewBuild("SOFTWARE_SIZE=3;"));
    main_.Serve(kFile, {500, "panne"});
    UpdateAnswerer answerer;
    client->Label_MiseAJourClick();
    EXPECT_EQ(main_.Hits(kFile), 5);
    const auto boxes = answerer.Seen("box");
    ASSERT_EQ(boxes.size(), 5u);
    for (const SeenWindow& box : boxes) {
        EXPECT_EQ(box.title, Utf8("Problème d'accès au fichiers"));
        EXPECT_EQ(box.text, Utf8("Impossible de télécharger les fichiers. (erreur 500)\rVérifiez "
                                 "que vous êtes bien connecté à internet."));
    }
    EXPECT_TRUE(answerer.Seen("applied").empty());
    EXPECT_TRUE(restartsOpened.empty());
    EXPECT_EQ(quitTimers, 0);
    EXPECT_EQ(stops, 0);
    EXPECT_FALSE(client->FUpdateRunning);
}

TEST_F(UpdateCheckTest, APublishedChecksumMustMatchTheDownload) {
    // SHA-256 of "abc".
    const std::string sha = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    const struct {
        const char* name;
        std::string line;
        bool handedOver;
    } cases[] = {
        {"no checksum", "", true},
        {"matching", "SOFTWARE_SHA256=" + sha + ";\r\n", true},
        {"matching, upper case",
         "SOFTWARE_SHA256=BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD;\r\n",
         true},
        {"other content", "SOFTWARE_SHA256=" + std::string(64, '0') + ";\r\n", false},
        {"checksum without ';'", "SOFTWARE_SHA256=" + sha + "\r\n", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Publish(NewBuild("SOFTWARE_SIZE=3;\r\n", c.line));
        main_.Serve(kFile, {200, "abc"});
        const int hitsBefore = main_.Hits(kFile);
        UpdateAnswerer answerer;
        client->Label_MiseAJourClick();
        EXPECT_EQ(restartsOpened.size(), c.handedOver ? 1u : 0u);
        EXPECT_EQ(main_.Hits(kFile) - hitsBefore, c.handedOver ? 1 : 5);
        EXPECT_EQ(answerer.Seen("box").size(), c.handedOver ? 0u : 5u);
        if (!c.handedOver) {
            EXPECT_EQ(answerer.Seen("box")[0].text,
                      Utf8("Impossible de télécharger les fichiers. (erreur 200)\rVérifiez que "
                           "vous êtes bien connecté à internet."));
        }
        restartsOpened.clear();
    }
}

TEST_F(UpdateCheckTest, ATargetThatCannotBeCreatedIsToldWithItsFolderAndEndsTheCheck) {
    const std::string missing = temp_.File("absent") + "/";
    setenv("TMPDIR", missing.c_str(), 1);
    Publish(NewBuild("SOFTWARE_SIZE=3;"));
    main_.Serve(kFile, {200, "abc"});
    UpdateAnswerer answerer;
    client->Label_MiseAJourClick();
    const auto boxes = answerer.Seen("box");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, Utf8("Problème d'accès au fichiers"));
    EXPECT_TRUE(boxes[0].text.contains(QString::fromStdString(missing)))
        << boxes[0].text.toStdString();
    EXPECT_EQ(main_.Hits(kFile), 0);
    EXPECT_TRUE(restartsOpened.empty());
    EXPECT_FALSE(client->FUpdateRunning);
    EXPECT_FALSE(Progress().isVisible());
}

TEST_F(UpdateCheckTest, ALinkPlantedUnderTheTargetNameIsRemovedNotWrittenThrough) {
    const std::string victim = programDir_.File("victim");
    std::ofstream(victim) << "intact";
    std::filesystem::create_symlink(victim, Target());
    Publish(NewBuild("SOFTWARE_SIZE=3;"));
    main_.Serve(kFile, {200, "abc"});
    UpdateAnswerer answerer;
    client->Label_MiseAJourClick();
    EXPECT_EQ(ReadAll(victim), "intact");
    EXPECT_FALSE(std::filesystem::is_symlink(Target()));
    EXPECT_EQ(ReadAll(Target()), "abc");
}

}  // namespace
}  // namespace gx::test
