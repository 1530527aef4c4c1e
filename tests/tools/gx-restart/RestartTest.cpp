// The restart program and the publishing tool, run as processes on real folders: a signed,
// newer build is installed and started; anything else is refused with the program directory
// untouched and the installed program started again; a build that does not come up is rolled
// back.
#include <gtest/gtest.h>

#include <functional>

#include "RestartFixture.h"
#include "update/BuildWriter.h"

namespace gx::testing {
namespace {

class RestartTest : public RestartFixture {};

TEST_F(RestartTest, ASignedNewerBuildIsInstalledAndStarted) {
    const auto old = Snapshot(app());
    Publish(MakeProgramDir("new", "1.6.0"), "1.6.0", buildFile());

    const ProcessRun run = RunRestart();

    EXPECT_EQ(run.status, 0) << run.errors;
    ASSERT_TRUE(WaitForRunningProgram(1));
    const std::string last = Started().back();
    EXPECT_EQ(last.substr(0, 6), "1.6.0 ");
    EXPECT_EQ(last.substr(last.rfind(' ') + 1), fs::canonical(app()).string());
    EXPECT_EQ(ReadText(app() / "notes.txt"), "notes of 1.6.0\n");
    EXPECT_EQ(ReadText(app() / "start.html"), "<p>1.6.0</p>\n");
    EXPECT_TRUE(fs::is_symlink(app() / "start.html"));
    EXPECT_EQ(fs::status(app() / "gardalix").permissions() & fs::perms::owner_exec,
              fs::perms::owner_exec);
    // The old directory is the one rollback; nothing else is left beside it.
    EXPECT_EQ(Snapshot(root() / "app.previous"), old);
    EXPECT_EQ(Neighbours(), std::vector<std::string>{"app.previous"});
    EXPECT_FALSE(fs::exists(buildFile()));
    EXPECT_NE(Log().find("version 1.6.0 installée"), std::string::npos) << Log();
}

struct RefusedCase {
    const char* name;
    std::string logged;  // what the log line says
};

TEST_F(RestartTest, AnythingButASignedNewerBuildIsRefusedAndChangesNothing) {
    const fs::path newDir = MakeProgramDir("new", "1.6.0");
    MakeKey("other");
    const fs::path good = root() / "builds" / "good.dat";
    Publish(newDir, "1.6.0", good);
    const std::string goodBytes = ReadText(good);
    const std::string key = ReadText(root() / "keys" / "test.key");
    auto hand = [&](std::vector<ArchiveEntry> extra) {
        std::vector<ArchiveEntry> entries = {
            {EntryKind::File, 0755, "gardalix", ProgramScript("1.6.0")}};
        entries.insert(entries.end(), extra.begin(), extra.end());
        return *WriteBuildFile("1.6.0", entries, key);
    };
    auto flipped = [&](std::size_t at) {
        std::string bytes = goodBytes;
        bytes[at] = static_cast<char>(bytes[at] ^ 0x01);  // "1.6.0" reads "1.7.0"
        return bytes;
    };

    struct Case {
        const char* name;
        std::function<void()> place;  // puts (or not) a gxsoft.dat in the temporary folder
        std::string logged;
    };
    auto placing = [&](std::string bytes) {
        return [this, bytes] { WriteText(buildFile(), bytes, fs::perms(0644)); };
    };
    const std::vector<Case> cases = {
        {"tampered payload", placing(flipped(kBuildHeaderSize + 40)), "signature"},
        {"tampered header", placing(flipped(14)), "signature"},
        {"wrong key", [&] { Publish(newDir, "1.6.0", buildFile(), "other"); }, "signature"},
        {"older build", [&] { Publish(newDir, "1.4.2", buildFile()); }, "pas plus récente"},
        {"same build", [&] { Publish(newDir, "1.5.0", buildFile()); }, "pas plus récente"},
        {"../x", placing(hand({{EntryKind::File, 0644, "../x", "x"}})), "hors du dossier"},
        {"absolute path", placing(hand({{EntryKind::File, 0644, "/tmp/gx-x", "x"}})),
         "hors du dossier"},
        {"link out", placing(hand({{EntryKind::Link, 0777, "out", "../../etc"}})),
         "hors du dossier"},
        {"below a link",
         placing(
             hand({{EntryKind::Link, 0777, "up", "help"}, {EntryKind::File, 0644, "up/x", "x"}})),
         "hors du dossier"},
        {"truncated", placing(goodBytes.substr(0, goodBytes.size() - 100)), "tronqué"},
        {"not a build", placing("GXBUILD? certainly not"), "pas un fichier de mise à jour"},
        {"missing", [] {}, "aucun fichier de mise à jour"},
        {"a link to a good build", [&] { fs::create_symlink(good, buildFile()); },
         "aucun fichier de mise à jour"},
    };
    const auto before = Snapshot(app());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::error_code ignored;
        fs::remove(buildFile(), ignored);
        fs::remove(root() / "hive" / "gx_restart.log", ignored);
        c.place();

        const ProcessRun run = RunRestart();

        EXPECT_EQ(run.status, 1) << run.errors;
        EXPECT_EQ(Snapshot(app()), before);
        EXPECT_TRUE(Neighbours().empty());
        EXPECT_FALSE(fs::exists("/tmp/gx-x"));
        EXPECT_NE(Log().find("mise à jour refusée"), std::string::npos) << Log();
        EXPECT_NE(Log().find(c.logged), std::string::npos) << Log();
        EXPECT_NE(run.errors.find("n'a pas été installée"), std::string::npos) << run.errors;
        // The installed program runs again.
        ASSERT_TRUE(WaitForRunningProgram(1));
        EXPECT_EQ(Started().back().substr(0, 6), "1.5.0 ");
        StopPrograms();
    }
}

TEST_F(RestartTest, ABuildThatDoesNotComeUpIsRolledBackAndTheOldOneRuns) {
    struct Case {
        const char* name;
        std::string script;
    };
    const Case cases[] = {
        {"ends at once", ProgramScript("1.6.0", /*broken=*/true)},
        // Runs, but never takes the lock: the restart program gives up on it after 30 s.
        {"never takes the lock",
         "#!/bin/sh\necho \"1.6.0 $$ $(pwd)\" >> \"$GX_TEST_MARKS/started\"\nexec sleep 120\n"},
    };
    const auto before = Snapshot(app());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = MakeProgramDir("bad-" + std::to_string(&c - cases), "1.6.0");
        WriteText(dir / "gardalix", c.script, fs::perms(0755));
        Publish(dir, "1.6.0", buildFile());

        const ProcessRun run = RunRestart();

        EXPECT_EQ(run.status, 1) << run.errors;
        ASSERT_TRUE(WaitForRunningProgram(2));
        const std::vector<std::string> started = Started();
        EXPECT_EQ(started[0].substr(0, 6), "1.6.0 ");
        EXPECT_EQ(started[1].substr(0, 6), "1.5.0 ");
        EXPECT_EQ(Snapshot(app()), before);
        EXPECT_TRUE(Neighbours().empty());
        EXPECT_NE(Log().find("n'a pas démarré ; la version 1.5.0 a été rétablie"),
                  std::string::npos)
            << Log();
        // The build that failed was ended with everything it started.
        std::istringstream fields(started[0]);
        std::string version;
        pid_t pid = 0;
        fields >> version >> pid;
        EXPECT_TRUE(WaitFor([&] { return ::kill(pid, 0) != 0 || ProcessIsZombie(pid); }));
        StopPrograms();
    }
}

TEST_F(RestartTest, TheRestartProgramWaitsForTheRunningProgramToEnd) {
    Publish(MakeProgramDir("new", "1.6.0"), "1.6.0", buildFile());
    StartRunningCopy(3);
    ASSERT_TRUE(WaitFor([&] { return LockHeld(); }));

    const ProcessRun run = RunRestart();

    EXPECT_EQ(run.status, 0) << run.errors;
    ASSERT_TRUE(WaitForRunningProgram(1));
    EXPECT_EQ(Started().back().substr(0, 6), "1.6.0 ");
}

TEST_F(RestartTest, AProgramThatDoesNotEndIsLeftRunningAndNothingIsInstalled) {
    Publish(MakeProgramDir("new", "1.6.0"), "1.6.0", buildFile());
    const auto before = Snapshot(app());
    const pid_t copy = StartRunningCopy(120);
    ASSERT_TRUE(WaitFor([&] { return LockHeld(); }));

    const ProcessRun run = RunRestart();

    EXPECT_EQ(run.status, 1) << run.errors;
    EXPECT_EQ(::kill(copy, 0), 0);
    EXPECT_TRUE(LockHeld());
    EXPECT_EQ(Snapshot(app()), before);
    EXPECT_TRUE(Neighbours().empty());
    EXPECT_TRUE(Started().empty());
    EXPECT_NE(Log().find("ne s'est pas arrêté"), std::string::npos) << Log();
}

// A machine-wide installation: the program directory belongs to someone else. As root the
// test runs the restart program as "nobody"; otherwise it takes the write right away.
TEST_F(RestartTest, AProgramDirectoryThisUserCannotWriteIsLeftAloneAndSaid) {
    Publish(MakeProgramDir("new", "1.6.0"), "1.6.0", buildFile());
    uid_t user = static_cast<uid_t>(-1);
    if (::geteuid() == 0) {
        user = 65534;
        for (const char* folder : {"tmp", "run", "hive", "marks"}) {
            ASSERT_EQ(::chown((root() / folder).c_str(), user, user), 0);
        }
    } else {
        fs::permissions(app(), fs::perms(0555));
    }
    const auto before = Snapshot(app());

    const ProcessRun run = RunRestart(user);

    EXPECT_EQ(run.status, 1) << run.errors;
    EXPECT_EQ(Snapshot(app()), before);
    EXPECT_TRUE(Neighbours().empty());
    EXPECT_NE(run.errors.find("ne peut pas être modifié par cet utilisateur"), std::string::npos)
        << run.errors;
    EXPECT_NE(Log().find("ne peut pas être modifié"), std::string::npos) << Log();
    ASSERT_TRUE(WaitForRunningProgram(1));
    EXPECT_EQ(Started().back().substr(0, 6), "1.5.0 ");
}

}  // namespace
}  // namespace gx::testing
