// The list tool, run as a user would run it.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "ListTestFiles.h"
#include "lists/ListFile.h"
#include "support/RunCommand.h"

namespace gx {
namespace {

using testing::TempFolder;
using testing::WriteBytes;

testing::CommandRun RunTool(const std::string& arguments) {
    return testing::RunCommand(GX_PROGRAM_DIR "/gx-lists " + arguments);
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

TEST(ListTool, PacksDumpsAndChecksARoundTrip) {
    TempFolder folder;
    WriteBytes(folder.File("in.txt"),
               "# comment\r\nbad.example/\r\n\r\ncafé.example/menu?plat=crêpe\nlast.example/");
    ASSERT_EQ(
        RunTool("pack malware " + folder.File("in.txt") + " " + folder.File("out.dat")).status, 0);
    EXPECT_EQ(std::filesystem::file_size(folder.File("out.dat")), 3 * kMalwareRecordSize);

    const testing::CommandRun dump = RunTool("dump malware " + folder.File("out.dat"));
    EXPECT_EQ(dump.status, 0);
    EXPECT_EQ(dump.output, "bad.example/\ncafé.example/menu?plat=crêpe\nlast.example/\n");

    const testing::CommandRun check =
        RunTool("check malware " + folder.File("out.dat") +
                " BAD.example/ bad.example 'CAFÉ.example/menu?plat=CRÊPE'");
    EXPECT_EQ(check.status, 0);
    EXPECT_EQ(check.output, "hit\nmiss\nhit\n");
}

TEST(ListTool, RefusesASourceItCannotPackAndWritesNothing) {
    struct Case {
        const char* kind;
        std::string source;
        const char* message;  // part of the error, which names the line
    };
    std::string tooManyAdult;
    for (int i = 0; i < 513; ++i) {
        tooManyAdult += "p" + std::to_string(i) + "\n";
    }
    const Case cases[] = {
        {"malware", "ok.example/\n日本.example/\n", "ligne 2"},
        {"malware", "# c\n" + std::string(256, 'm') + "\n", "ligne 2"},
        {"adult", std::string(129, 'a') + "\n", "ligne 1"},
        {"adult", tooManyAdult, "ligne 513"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        TempFolder folder;
        WriteBytes(folder.File("in.txt"), c.source);
        WriteBytes(folder.File("out.dat"), "previous");
        const testing::CommandRun run =
            RunTool(std::string("pack ") + c.kind + " " + folder.File("in.txt") + " " +
                    folder.File("out.dat"));
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
        EXPECT_EQ(ReadBytes(folder.File("out.dat")), "previous");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.File("")),
                                std::filesystem::directory_iterator()),
                  2);  // no temporary file left behind
    }
    // The longest entries that fit are accepted.
    TempFolder folder;
    WriteBytes(folder.File("in.txt"), std::string(128, 'a'));
    EXPECT_EQ(RunTool("pack adult " + folder.File("in.txt") + " " + folder.File("out.dat")).status,
              0);
}

TEST(ListTool, AFileTheProgramRefusesGivesTheProgramsMessage) {
    TempFolder folder;
    EXPECT_EQ(RunTool("dump malware " + folder.File("absent.dat")).output,
              "Erreur lors du chargement du fichier gx_mu.dat\n");
    const testing::CommandRun check =
        RunTool("check adult " + folder.File("absent.dat") + " a.example/");
    EXPECT_EQ(check.status, 1);
    EXPECT_EQ(check.output, "Erreur lors du chargement du fichier gx_pu.dat\n");
    EXPECT_EQ(RunTool("frobnicate malware x").status, 2);
}

}  // namespace
}  // namespace gx
