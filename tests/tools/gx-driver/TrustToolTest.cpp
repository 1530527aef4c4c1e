// gx-driver trust, untrust and status --user with every place pointed into a temporary folder:
// the user's home (browser databases made by the real certutil), the machine store's folder
// and a stand-in for update-ca-certificates that records its runs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/tls/CertificateBuilder.h"
#include "platform/tls/TrustMarker.h"
#include "support/RunCommand.h"
#include "support/TempFolder.h"

namespace gx {
namespace {

namespace fs = std::filesystem;
using testing::CommandRun;
using testing::RunCommand;

constexpr uid_t kOtherUser = 65534;  // nobody

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

class TrustTool : public ::testing::Test {
  protected:
    void SetUp() override {
        if (RunCommand("certutil -H").output.find("certutil") == std::string::npos) {
            GTEST_SKIP() << "needs certutil (package libnss3-tools)";
        }
        fs::permissions(folder_.Path(), fs::perms(0755));
        fs::create_directories(Home());
        std::ofstream script(UpdateScript());
        script << "#!/bin/sh\necho run >> " << UpdateLog()
               << "\nexit ${GX_FAKE_UPDATE_STATUS:-0}\n";
        script.close();
        fs::permissions(UpdateScript(), fs::perms(0755));
    }

    std::string Home() const { return folder_.File("home"); }
    std::string Folder() const { return Home() + "/.local/share/gardalix/netfilter2"; }
    std::string Chromium() const { return Home() + "/.pki/nssdb"; }
    std::string Firefox() const { return Home() + "/.mozilla/firefox/k3x9.default-release"; }
    std::string StoreFile() const { return folder_.File("ca") + "/gardalix-root.crt"; }
    std::string UpdateScript() const { return folder_.File("update-ca-certificates"); }
    std::string UpdateLog() const { return folder_.File("update.log"); }

    void MakeDatabase(const std::string& folder) {
        fs::create_directories(folder);
        const CommandRun made = RunCommand("certutil -N --empty-password -d sql:" + folder);
        ASSERT_EQ(made.status, 0) << made.output;
    }

    // The tool with every place pointed into the test's folder; `before` goes before it on the
    // command line (more variables, or a command that runs it as another user).
    CommandRun Tool(const std::string& arguments, const std::string& variables = "") const {
        return RunCommand("env -u SUDO_UID -u PKEXEC_UID -u XDG_DATA_HOME HOME=" + Home() +
                          " GARDALIX_CA_DIR=" + folder_.File("ca") +
                          " GARDALIX_UPDATE_CA_CERTIFICATES=" + UpdateScript() + " " + variables +
                          " " GX_PROGRAM_DIR "/gx-driver " + arguments);
    }

    std::string Fingerprint() const {
        auto certificate = tls::CertificateFromPem(ReadFile(Folder() + "/root-ca.pem"));
        return certificate ? tls::Fingerprint(certificate.get()) : "";
    }

    // How many certificates of ours the database holds.
    static size_t CopiesIn(const std::string& database) {
        return Count(RunCommand("certutil -L -d sql:" + database).output, "Gardalix ");
    }

    // The certificate of ours that the database holds, as PEM.
    static std::string HeldIn(const std::string& database) {
        const CommandRun listed = RunCommand("certutil -L -d sql:" + database + " -n Gardalix -a");
        return listed.status == 0 ? listed.output : "";
    }

    static std::string Body(const std::string& pem) {
        std::string kept;
        for (char c : pem) {
            if (c != '\n' && c != '\r') {
                kept += c;
            }
        }
        return kept;
    }

    bool DatabaseHoldsTheRoot(const std::string& database) const {
        return Body(HeldIn(database)).find(Body(ReadFile(Folder() + "/root-ca.pem"))) !=
               std::string::npos;
    }

    size_t UpdateRuns() const { return Count(ReadFile(UpdateLog()), "run"); }

    testing::TempFolder folder_;
};

TEST_F(TrustTool, UserTrustFillsEveryBrowserDatabaseAndUntrustEmptiesThem) {
    MakeDatabase(Chromium());
    MakeDatabase(Firefox());
    const CommandRun trust = Tool("trust --user");
    ASSERT_EQ(trust.status, 0) << trust.output;
    EXPECT_NE(trust.output.find("Interception HTTPS activée"), std::string::npos) << trust.output;

    EXPECT_EQ(fs::status(Folder() + "/root-ca.key").permissions() & fs::perms::all,
              fs::perms(0600));
    ASSERT_FALSE(Fingerprint().empty());
    EXPECT_TRUE(tls::TrustMarkerNames(Folder(), Fingerprint()));
    for (const std::string& database : {Chromium(), Firefox()}) {
        SCOPED_TRACE(database);
        EXPECT_TRUE(DatabaseHoldsTheRoot(database));
        EXPECT_NE(RunCommand("certutil -L -d sql:" + database).output.find("C,,"),
                  std::string::npos);
    }
    EXPECT_FALSE(fs::exists(StoreFile()));
    EXPECT_EQ(UpdateRuns(), 0u);

    const CommandRun status = Tool("status --user");
    EXPECT_EQ(status.status, 0) << status.output;
    for (const char* line :
         {"Interception HTTPS : activée", "Chromium (~/.pki/nssdb) : reconnaît la racine",
          "Firefox (profil k3x9.default-release) : reconnaît la racine",
          "ne contient pas la racine"}) {
        EXPECT_NE(status.output.find(line), std::string::npos) << line << "\n" << status.output;
    }

    const struct { const char* says; } rounds[] = {{"racine retirée"}, {"rien à retirer"}};
    for (const auto& round : rounds) {
        SCOPED_TRACE(round.says);
        const CommandRun untrust = Tool("untrust --user");
        EXPECT_EQ(untrust.status, 0) << untrust.output;
        EXPECT_NE(untrust.output.find(round.says), std::string::npos) << untrust.output;
        EXPECT_FALSE(fs::exists(Folder() + "/https-enabled"));
        EXPECT_EQ(CopiesIn(Chromium()), 0u);
        EXPECT_EQ(CopiesIn(Firefox()), 0u);
    }
    const CommandRun after = Tool("status --user");
    EXPECT_EQ(after.status, 1) << after.output;
    EXPECT_NE(after.output.find("Interception HTTPS : désactivée"), std::string::npos)
        << after.output;
    // The root stays, for a later trust.
    EXPECT_TRUE(fs::exists(Folder() + "/root-ca.key"));
}

TEST_F(TrustTool, AUserTrustThatReachesNoBrowserEnablesNothing) {
    const struct {
        const char* name;
        bool databases;
        std::string variables;
        const char* says;
    } cases[] = {
        {"no browser database", false, "", "aucune base de certificats"},
        {"certutil missing", true, "GARDALIX_CERTUTIL=" + folder_.File("absent"), "libnss3-tools"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.databases) {
            MakeDatabase(Firefox());
        }
        const CommandRun trust = Tool("trust --user", c.variables);
        EXPECT_EQ(trust.status, 1) << trust.output;
        EXPECT_NE(trust.output.find(c.says), std::string::npos) << trust.output;
        EXPECT_NE(trust.output.find("reste désactivée"), std::string::npos) << trust.output;
        EXPECT_FALSE(fs::exists(Folder() + "/https-enabled"));
    }
}

TEST_F(TrustTool, ANewRootTakesThePlaceOfTheOldOneInTheDatabases) {
    MakeDatabase(Chromium());
    ASSERT_EQ(Tool("trust --user").status, 0);
    const std::string first = Fingerprint();
    std::ofstream(Folder() + "/root-ca.key") << "damaged";
    const CommandRun again = Tool("trust --user");
    ASSERT_EQ(again.status, 0) << again.output;
    EXPECT_NE(again.output.find("mis de côté"), std::string::npos) << again.output;
    EXPECT_NE(Fingerprint(), first);
    EXPECT_EQ(CopiesIn(Chromium()), 1u);
    EXPECT_TRUE(DatabaseHoldsTheRoot(Chromium()));
    EXPECT_TRUE(tls::TrustMarkerNames(Folder(), Fingerprint()));
}

class TrustToolAsAdministrator : public TrustTool {
  protected:
    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "needs root: the tool acts as an administrator for another user";
        }
        TrustTool::SetUp();
    }

    // As sudo runs it for the user `nobody`, whose home is the test's.
    CommandRun AsAdministrator(const std::string& arguments,
                               const std::string& variables = "") const {
        return Tool(arguments, "SUDO_UID=" + std::to_string(kOtherUser) +
                                   " GARDALIX_USER_HOME=" + Home() + " " + variables);
    }

    void GiveHomeToTheUser() {
        for (const auto& entry : fs::recursive_directory_iterator(Home())) {
            ASSERT_EQ(::lchown(entry.path().c_str(), kOtherUser, kOtherUser), 0);
        }
        ASSERT_EQ(::chown(Home().c_str(), kOtherUser, kOtherUser), 0);
    }

    // Every file in the home that does not belong to the user.
    std::vector<std::string> NotTheUsers() const {
        std::vector<std::string> others;
        for (const auto& entry : fs::recursive_directory_iterator(Home())) {
            struct stat info {};
            if (::lstat(entry.path().c_str(), &info) == 0 && info.st_uid != kOtherUser) {
                others.push_back(entry.path().string());
            }
        }
        return others;
    }
};

TEST_F(TrustToolAsAdministrator, TrustForTheCallerFillsTheSystemStoreAndLeavesTheHomeTheirs) {
    MakeDatabase(Chromium());
    MakeDatabase(Firefox());
    GiveHomeToTheUser();

    const CommandRun trust = AsAdministrator("trust");
    ASSERT_EQ(trust.status, 0) << trust.output;
    EXPECT_NE(trust.output.find("Magasin du système : racine installée"), std::string::npos)
        << trust.output;
    EXPECT_EQ(UpdateRuns(), 1u);
    auto stored = tls::CertificateFromPem(ReadFile(StoreFile()));
    ASSERT_TRUE(stored);
    EXPECT_EQ(tls::Fingerprint(stored.get()), Fingerprint());
    EXPECT_EQ(fs::status(StoreFile()).permissions() & fs::perms::all, fs::perms(0644));
    EXPECT_TRUE(DatabaseHoldsTheRoot(Chromium()));
    EXPECT_TRUE(DatabaseHoldsTheRoot(Firefox()));
    EXPECT_TRUE(tls::TrustMarkerNames(Folder(), Fingerprint()));
    EXPECT_EQ(NotTheUsers(), std::vector<std::string>{});

    const CommandRun status = AsAdministrator("status --user");
    EXPECT_EQ(status.status, 0) << status.output;
    EXPECT_NE(status.output.find(" : contient la racine"), std::string::npos) << status.output;

    const CommandRun untrust = AsAdministrator("untrust");
    ASSERT_EQ(untrust.status, 0) << untrust.output;
    EXPECT_FALSE(fs::exists(StoreFile()));
    EXPECT_EQ(UpdateRuns(), 2u);
    EXPECT_EQ(CopiesIn(Chromium()), 0u);
    EXPECT_EQ(CopiesIn(Firefox()), 0u);
    EXPECT_FALSE(fs::exists(Folder() + "/https-enabled"));
    EXPECT_EQ(NotTheUsers(), std::vector<std::string>{});

    // Nothing left: the store is not rebuilt for nothing.
    const CommandRun again = AsAdministrator("untrust");
    EXPECT_EQ(again.status, 0) << again.output;
    EXPECT_NE(again.output.find("Magasin du système : rien à retirer"), std::string::npos)
        << again.output;
    EXPECT_EQ(UpdateRuns(), 2u);
}

TEST_F(TrustToolAsAdministrator, TheDataFolderNamedOnTheCommandLineIsTheOneUsed) {
    // sudo and pkexec clear XDG_DATA_HOME; the console names its folder with --data-home.
    MakeDatabase(Chromium());
    fs::create_directories(Home() + "/data");
    GiveHomeToTheUser();
    const CommandRun trust = AsAdministrator("trust --data-home " + Home() + "/data");
    ASSERT_EQ(trust.status, 0) << trust.output;
    const std::string folder = Home() + "/data/gardalix/netfilter2";
    auto root = tls::CertificateFromPem(ReadFile(folder + "/root-ca.pem"));
    ASSERT_TRUE(root);
    EXPECT_TRUE(tls::TrustMarkerNames(folder, tls::Fingerprint(root.get())));
    EXPECT_FALSE(fs::exists(Home() + "/.local/share/gardalix"));
    EXPECT_EQ(NotTheUsers(), std::vector<std::string>{});
    EXPECT_EQ(AsAdministrator("status --user --data-home " + Home() + "/data").status, 0);
}

TEST_F(TrustToolAsAdministrator, AStoreThatCannotBeRebuiltEnablesNothing) {
    MakeDatabase(Chromium());
    GiveHomeToTheUser();
    const CommandRun trust = AsAdministrator("trust", "GX_FAKE_UPDATE_STATUS=1");
    EXPECT_EQ(trust.status, 1) << trust.output;
    EXPECT_NE(trust.output.find("update-ca-certificates a échoué"), std::string::npos)
        << trust.output;
    EXPECT_FALSE(fs::exists(Folder() + "/https-enabled"));
}

TEST_F(TrustToolAsAdministrator, UserTrustLeavesTheSystemStoreAloneAndSaysWhatIsLeft) {
    MakeDatabase(Chromium());
    GiveHomeToTheUser();
    ASSERT_EQ(AsAdministrator("trust").status, 0);
    const CommandRun untrust = AsAdministrator("untrust --user");
    EXPECT_EQ(untrust.status, 0) << untrust.output;
    EXPECT_TRUE(fs::exists(StoreFile()));
    EXPECT_NE(untrust.output.find("sudo gx-driver untrust"), std::string::npos) << untrust.output;
    EXPECT_EQ(UpdateRuns(), 1u);
}

TEST_F(TrustToolAsAdministrator, OnlyRootMayTouchTheSystemStore) {
    if (RunCommand("setpriv --version").status != 0) {
        GTEST_SKIP() << "needs setpriv (util-linux) to run the tool as another user";
    }
    for (const char* command : {"trust", "untrust", "status"}) {
        SCOPED_TRACE(command);
        const CommandRun run = Tool(command, "setpriv --reuid=65534 --regid=65534 --clear-groups");
        if (run.status == 126 || run.status == 127) {
            GTEST_SKIP() << "the build folder is not open to other users: " << run.output;
        }
        EXPECT_EQ(run.status, 3) << run.output;
        EXPECT_NE(run.output.find("--user pour vos seuls navigateurs"), std::string::npos)
            << run.output;
    }
    EXPECT_FALSE(fs::exists(StoreFile()));
    EXPECT_EQ(UpdateRuns(), 0u);
}

}  // namespace
}  // namespace gx
