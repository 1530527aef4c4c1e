// The HTTPS line of the Filtrage tab around the real gx-driver, with the user's home, the
// machine store's folder and update-ca-certificates pointed into a temporary folder, and no
// pkexec on the machine.
#include <unistd.h>

#include <QPushButton>
#include <filesystem>
#include <fstream>
#include <optional>

#include "ConsoleTestSupport.h"
#include "support/RunCommand.h"
#include "support/TempFolder.h"

namespace gx::test {
namespace {

namespace fs = std::filesystem;

// Sets an environment variable for the test's life (unset when `value` is nullopt).
class ScopedVariable {
  public:
    ScopedVariable(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        value ? qputenv(name, QByteArray::fromStdString(*value)) : qunsetenv(name);
    }
    ~ScopedVariable() {
        old_ ? qputenv(name_, QByteArray::fromStdString(*old_)) : qunsetenv(name_);
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

class ConsoleHttpsTest : public ConsoleTest {
  protected:
    void SetUp() override {
        ConsoleTest::SetUp();
        if (testing::RunCommand("certutil -H").output.find("certutil") == std::string::npos) {
            GTEST_SKIP() << "needs certutil (package libnss3-tools)";
        }
        fs::create_directories(Home() + "/.pki/nssdb");
        const auto made =
            testing::RunCommand("certutil -N --empty-password -d sql:" + Home() + "/.pki/nssdb");
        ASSERT_EQ(made.status, 0) << made.output;
        std::ofstream(folder_.File("update-ca-certificates")) << "#!/bin/sh\nexit 0\n";
        fs::permissions(folder_.File("update-ca-certificates"), fs::perms(0755));
    }

    std::string Home() const { return folder_.File("home"); }
    std::string Marker() const {
        return Home() + "/.local/share/gardalix/netfilter2/https-enabled";
    }

    // A console whose HTTPS state and tool are the program's own; pkexec is missing.
    std::unique_ptr<TFormGardalix> HttpsConsole(std::string tool = GX_PROGRAM_DIR "/gx-driver",
                                                std::string pkexec = "") {
        if (pkexec.empty()) {
            pkexec = folder_.File("no-pkexec");
        }
        const ConsoleServices program = ProgramServices();
        ConsoleServices table = services.Table();
        table.ReadHttpsTrust = program.ReadHttpsTrust;
        table.DriverToolPath = [tool] { return tool; };
        table.PkexecPath = [pkexec] { return pkexec; };
        auto console = std::make_unique<TFormGardalix>(table);
        console->EndProgram = [this](int status) { endStatuses.push_back(status); };
        EXPECT_TRUE(console->FormCreate());
        console->CoolTray2DblClick();
        return console;
    }

    static QString Label(TFormGardalix& console) {
        return Child<QLabel>(console, "LabelHttps")->text();
    }
    static QPushButton* Button(TFormGardalix& console) {
        return Child<QPushButton>(console, "buttonHttps");
    }

    // A stand-in for pkexec: the polkit agent's answer is `status` (0 = granted), the granted
    // command then runs as the caller, who must be root, as pkexec would run it.
    std::string FakePkexec(int status) {
        const std::string path = folder_.File("pkexec-" + std::to_string(status));
        std::ofstream(path) << "#!/bin/sh\n"
                            << (status == 0 ? "echo \"$@\" >> " + folder_.File("pkexec.log") +
                                                  "\nPKEXEC_UID=$(id -u) exec \"$@\"\n"
                                            : "exit " + std::to_string(status) + "\n");
        fs::permissions(path, fs::perms(0755));
        return path;
    }

    testing::TempFolder folder_;
    ScopedVariable home_{"HOME", Home()};
    ScopedVariable dataHome_{"XDG_DATA_HOME", std::nullopt};
    ScopedVariable sudo_{"SUDO_UID", std::nullopt};
    ScopedVariable pkexec_{"PKEXEC_UID", std::nullopt};
    ScopedVariable store_{"GARDALIX_CA_DIR", folder_.File("ca")};
    ScopedVariable update_{"GARDALIX_UPDATE_CA_CERTIFICATES",
                           folder_.File("update-ca-certificates")};
};

const QString kNotProtected =
    QString::fromUtf8("Sites HTTPS : non protégés — seules les adresses http:// sont filtrées");
const QString kProtected = QString::fromUtf8("Sites HTTPS : protégés");

TEST_F(ConsoleHttpsTest, TheButtonProtectsTheUsersBrowsersAndSaysThatPkexecIsMissing) {
    auto console = HttpsConsole();
    EXPECT_EQ(Label(*console), kNotProtected);
    EXPECT_EQ(Button(*console)->text(), QString::fromUtf8("Protéger aussi les sites HTTPS"));

    std::vector<SeenBox> seen;
    {
        ModalAnswerer answerer(QMessageBox::Yes);
        Button(*console)->click();
        seen = answerer.seen;
    }
    ASSERT_EQ(seen.size(), 2u);
    const SeenBox& question = seen[0];
    EXPECT_EQ(question.title, "Gardalix : sites HTTPS");
    EXPECT_EQ(question.icon, QMessageBox::Question);
    EXPECT_TRUE(question.text.contains(QString::fromUtf8("protégés dans vos navigateurs")))
        << question.text.toStdString();
    EXPECT_TRUE(question.text.contains(QString::fromUtf8("tous les programmes de l'ordinateur")));
    const SeenBox& outcome = seen[1];
    EXPECT_EQ(outcome.icon, QMessageBox::Information);
    for (const char* part : {"protégés dans vos navigateurs", "pkexec est absent",
                             "La protection de vos navigateurs reste en place."}) {
        EXPECT_TRUE(outcome.text.contains(QString::fromUtf8(part))) << part << "\n"
                                                                    << outcome.text.toStdString();
    }
    EXPECT_TRUE(fs::exists(Marker()));
    EXPECT_FALSE(fs::exists(folder_.File("ca/gardalix-root.crt")));
    EXPECT_EQ(Label(*console), kProtected);
    EXPECT_EQ(Button(*console)->text(), QString::fromUtf8("Ne plus protéger les sites HTTPS"));
    EXPECT_TRUE(Button(*console)->isEnabled());

    ModalAnswerer undo(QMessageBox::Ok);
    Button(*console)->click();
    ASSERT_EQ(undo.seen.size(), 1u);
    EXPECT_TRUE(undo.seen[0].text.contains(QString::fromUtf8("ne sont plus protégés")))
        << undo.seen[0].text.toStdString();
    EXPECT_FALSE(fs::exists(Marker()));
    EXPECT_EQ(Label(*console), kNotProtected);
}

TEST_F(ConsoleHttpsTest, TheWholeMachineThroughPkexecAndItsRefusal) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root: the granted command writes the machine's store";
    }
    const struct {
        int pkexecStatus;
        const char* says;
        bool inStore;
    } cases[] = {
        {0, "Les sites HTTPS sont aussi protégés pour tout l'ordinateur.", true},
        {126, "n'a pas été accordée (mot de passe refusé ou demande annulée)", false},
        {127, "n'a pas été accordée (mot de passe refusé ou demande annulée)", false},
    };
    const std::string storeFile = folder_.File("ca/gardalix-root.crt");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pkexecStatus);
        auto console = HttpsConsole(GX_PROGRAM_DIR "/gx-driver", FakePkexec(c.pkexecStatus));
        std::vector<SeenBox> seen;
        {
            ModalAnswerer answerer(QMessageBox::Yes);
            Button(*console)->click();
            seen = answerer.seen;
        }
        ASSERT_EQ(seen.size(), 2u);
        EXPECT_TRUE(seen[1].text.contains(QString::fromUtf8(c.says))) << seen[1].text.toStdString();
        EXPECT_EQ(seen[1].text.contains(QString::fromUtf8("reste en place")), !c.inStore);
        EXPECT_EQ(fs::exists(storeFile), c.inStore);
        EXPECT_EQ(Label(*console), kProtected);
        if (c.inStore) {
            // The tool is told the console's data folder, which pkexec's cleared
            // environment would lose.
            std::ifstream log(folder_.File("pkexec.log"));
            std::string line;
            std::getline(log, line);
            EXPECT_EQ(line,
                      GX_PROGRAM_DIR "/gx-driver trust --data-home " + Home() + "/.local/share");
        }

        // The undo takes the root out of the machine's store too, where it is.
        ModalAnswerer undo(QMessageBox::Ok);
        Button(*console)->click();
        ASSERT_EQ(undo.seen.size(), 1u);
        EXPECT_EQ(undo.seen[0].text.contains(QString::fromUtf8("retiré du magasin")), c.inStore)
            << undo.seen[0].text.toStdString();
        EXPECT_FALSE(fs::exists(storeFile));
        EXPECT_EQ(Label(*console), kNotProtected);
    }
}

TEST_F(ConsoleHttpsTest, DecliningTheWholeMachineKeepsTheBrowsersProtected) {
    auto console = HttpsConsole();
    ModalAnswerer answerer(QMessageBox::No);
    Button(*console)->click();
    ASSERT_EQ(answerer.seen.size(), 2u);
    EXPECT_EQ(answerer.seen[1].text,
              QString::fromUtf8("Les sites HTTPS sont maintenant protégés dans vos navigateurs."));
    EXPECT_EQ(Label(*console), kProtected);
}

TEST_F(ConsoleHttpsTest, AMissingToolLeavesTheSitesUnprotectedAndSaysWhy) {
    auto console = HttpsConsole(folder_.File("absent/gx-driver"));
    ModalAnswerer answerer(QMessageBox::No);
    Button(*console)->click();
    ASSERT_EQ(answerer.seen.size(), 2u);
    EXPECT_EQ(answerer.seen[1].icon, QMessageBox::Warning);
    EXPECT_TRUE(answerer.seen[1].text.contains(QString::fromUtf8("gx-driver est introuvable")))
        << answerer.seen[1].text.toStdString();
    EXPECT_FALSE(fs::exists(Marker()));
    EXPECT_EQ(Label(*console), kNotProtected);
}

TEST_F(ConsoleHttpsTest, TheWindowGoesOnWhileTheToolRuns) {
    // A slow tool: the console's timers fire and the button cannot be pressed twice meanwhile.
    const std::string slow = folder_.File("slow-gx-driver");
    std::ofstream(slow) << "#!/bin/sh\nsleep 2\nexit 1\n";
    fs::permissions(slow, fs::perms(0755));
    auto console = HttpsConsole(slow);
    ModalAnswerer answerer(QMessageBox::No);
    bool tickedWhileRunning = false;
    bool buttonDisabled = false;
    QTimer::singleShot(100, console.get(), [&] {
        tickedWhileRunning = answerer.seen.empty();
        buttonDisabled = !Button(*console)->isEnabled();
    });
    Button(*console)->click();
    EXPECT_TRUE(tickedWhileRunning);
    EXPECT_TRUE(buttonDisabled);
    EXPECT_TRUE(Button(*console)->isEnabled());
    ASSERT_EQ(answerer.seen.size(), 2u);
    EXPECT_EQ(Label(*console), kNotProtected);
}

TEST_F(ConsoleHttpsTest, ATrustMadeInATerminalShowsTheNextTimeTheConsoleOpens) {
    auto console = HttpsConsole();
    EXPECT_EQ(Label(*console), kNotProtected);
    const auto trust = testing::RunCommand(GX_PROGRAM_DIR "/gx-driver trust --user");
    ASSERT_EQ(trust.status, 0) << trust.output;
    console->close();  // hides it in the tray
    console->CoolTray2DblClick();
    EXPECT_EQ(Label(*console), kProtected);
}

}  // namespace
}  // namespace gx::test
