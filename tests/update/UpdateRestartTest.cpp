// The hand-over, with the program running as a child process: the restart program (a stand-in
// script here) starts without arguments in the program folder, and the program ends about half
// a second later with status 0.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>

#include <QProcess>
#include <filesystem>
#include <fstream>
#include <regex>

#include "UpdateTestSupport.h"
#include "support/RunCommand.h"
#include "support/TempFolder.h"

namespace gx::test {
namespace {

namespace fs = std::filesystem;

long long MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The stand-in restart program: notes how many arguments it got and where it was started.
constexpr char kStandIn[] =
    "#!/bin/sh\n"
    "here=$(dirname \"$0\")\n"
    "printf '%s\\n%s\\n' \"$#\" \"$(pwd -P)\" > \"$here/restart-ran.part\"\n"
    "mv \"$here/restart-ran.part\" \"$here/restart-ran\"\n";

TEST(UpdateRestartTest, TheRestartProgramStartsBareInTheProgramFolderAndTheProgramEndsWithZero) {
    App();
    gx::testing::TempFolder programDir;
    gx::testing::TempFolder temp;
    gx::testing::TempFolder hive;
    const std::string program = programDir.File("gardalix-child");
    fs::copy_file(GX_UPDATE_CHILD, program);
    fs::permissions(program, fs::perms::owner_all);
    std::ofstream(programDir.File("gx_restart")) << kStandIn;
    fs::permissions(programDir.File("gx_restart"), fs::perms::owner_all);

    const std::string body = "la nouvelle version";
    UpdateServer server;
    server.Serve("/update2024/gardalix/connect.php", {200, "OK\r\n"});
    server.Serve(
        "/update2024/gardalix/fr/gardalix2024id.txt",
        {200, "FILES_LOCATION=" + server.Base() +
                  "/files/;\r\nSOFTWARE_FILE=build.bin;\r\nSOFTWARE_BUILD_VERSION=2.0.0;\r\n"
                  "SOFTWARE_UPDATE_DATE=01/03/2024;\r\nSOFTWARE_SIZE=" +
                  std::to_string(body.size()) + ";\r\n"});
    server.Serve("/files/build.bin", {200, body});
    const std::string hiveFile = hive.File("registry.db");
    const auto set = gx::testing::RunCommand(
        "GARDALIX_REGISTRY='" + hiveFile + "' '" GX_PROGRAM_DIR "/gx-reg' set " +
        "'SOFTWARE\\Brevane\\Gardalix' UPDATE_SERVER sz '" + server.Base() + "'");
    ASSERT_EQ(set.status, 0) << set.output;

    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("GARDALIX_REGISTRY", QString::fromStdString(hiveFile));
    env.insert("TMPDIR", QString::fromStdString(temp.Path().string()));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    child.setProcessEnvironment(env);
    long long endedAt = 0;
    QObject::connect(&child, &QProcess::finished, &child, [&] { endedAt = MonotonicNs(); });
    child.start(QString::fromStdString(program), {});
    ASSERT_TRUE(child.waitForStarted(10000));
    ASSERT_TRUE(WaitUntil([&] { return endedAt != 0; }, 60000));
    const std::string told = child.readAllStandardError().toStdString();

    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit) << told;
    EXPECT_EQ(child.exitCode(), 0) << told;
    EXPECT_NE(told.find("check ended, protection off, StopDriver 1"), std::string::npos) << told;
    std::smatch closed;
    ASSERT_TRUE(std::regex_search(told, closed, std::regex("notice closed at ([0-9]+)"))) << told;
    const long long waitedMs = (endedAt - std::stoll(closed[1].str())) / 1000000;
    RecordProperty("waited_ms", std::to_string(waitedMs));
    EXPECT_GE(waitedMs, 400);    // the quit timer's half second
    EXPECT_LT(waitedMs, 15000);  // and not much more, even on a loaded machine

    ASSERT_TRUE(WaitUntil([&] { return fs::exists(programDir.File("restart-ran")); }, 20000));
    EXPECT_EQ(ReadAll(programDir.File("restart-ran")),
              "0\n" + fs::canonical(programDir.Path()).string() + "\n");
    EXPECT_EQ(ReadAll(temp.File("gxsoft.dat")), body);
}

}  // namespace
}  // namespace gx::test
