// The gx-reg tool, run as a separate program on a hive chosen with GARDALIX_REGISTRY.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/codepage/Cp1252.h"
#include "platform/registry/Registry.h"
#include "platform/registry/TempHive.h"

namespace gx {
namespace {

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string ReadAll(int fd) {
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) {
        text.append(buffer, n);
    }
    close(fd);
    return text;
}

ToolRun RunGxReg(std::vector<std::string> args) {
    const std::string tool = std::string(GX_PROGRAM_DIR) + "/gx-reg";
    args.insert(args.begin(), tool);
    std::vector<char*> argv;
    for (auto& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) {
        return {};
    }
    const pid_t child = fork();
    if (child == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]), close(out[1]), close(err[0]), close(err[1]);
        execv(tool.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]), close(err[1]);
    ToolRun run;
    run.out = ReadAll(out[0]);
    run.err = ReadAll(err[0]);
    int status = 0;
    waitpid(child, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

using RegistryToolTest = testing::TempHiveTest;

const std::string kLogs = "SOFTWARE\\Brevane\\Gardalix\\Logs";
const std::string kSettings = "SOFTWARE\\Brevane\\Gardalix";

TEST_F(RegistryToolTest, SetGetListAndDeleteValues) {
    const std::string entry = "07/02/2024 14:05:09|bad.example/déjà vu|Site malveillant";
    EXPECT_EQ(RunGxReg({"set", kSettings, "PORN_FILTER", "dword", "1"}).status, 0);
    EXPECT_EQ(RunGxReg({"set", kLogs, entry, "sz", ""}).status, 0);
    EXPECT_EQ(RunGxReg({"set", kLogs, "second", "sz", "données"}).status, 0);

    auto get = RunGxReg({"get", "software\\brevane\\gardalix", "porn_filter"});
    EXPECT_EQ(get.status, 0);
    EXPECT_EQ(get.out, "1\n");
    EXPECT_EQ(RunGxReg({"get", kLogs, "SECOND"}).out, "données\n");
    const auto list = RunGxReg({"list", kLogs});
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.out, entry + "\nsecond\n");
    const auto dump = RunGxReg({"dump", kLogs});
    EXPECT_EQ(dump.status, 0);
    EXPECT_EQ(dump.out, entry + "\t\nsecond\tdonnées\n");

    // What the tool wrote is what the program reads, in Windows-1252.
    Registry registry;
    ASSERT_TRUE(registry.OpenKey(kLogs, false));
    std::vector<std::string> names;
    registry.GetValueNames(names);
    EXPECT_EQ(names.front(), Cp1252(entry));

    EXPECT_EQ(RunGxReg({"delete", kLogs, "second"}).status, 0);
    EXPECT_EQ(RunGxReg({"list", kLogs}).out, entry + "\n");
}

TEST_F(RegistryToolTest, MissingValuesAndBadCommandsHaveTheirOwnExitStatus) {
    ASSERT_EQ(RunGxReg({"set", kSettings, "N", "dword", "0xFFFFFFFF"}).status, 0);
    EXPECT_EQ(RunGxReg({"get", kSettings, "N"}).out, "4294967295\n");
    struct Case {
        std::vector<std::string> args;
        int status;
    };
    const Case cases[] = {
        {{"get", kSettings, "missing"}, 1},
        {{"get", "SOFTWARE\\Nowhere", "N"}, 1},
        {{"delete", kSettings, "missing"}, 1},
        {{"list", "SOFTWARE\\Nowhere"}, 1},
        {{"set", kSettings, "N", "dword", "4294967296"}, 2},
        {{"set", kSettings, "N", "dword", "12abc"}, 2},
        {{"set", kSettings, "N", "qword", "1"}, 2},
        {{"set", kSettings, "N", "sz", "\xe2\x82"}, 2},      // not UTF-8
        {{"set", kSettings, "N", "sz", "\xe4\xb8\xad"}, 2},  // not in Windows-1252
        {{"get", kSettings}, 2},
        {{"frobnicate"}, 2},
        {{}, 2},
    };
    for (const auto& c : cases) {
        std::string label;
        for (const auto& arg : c.args) {
            label += arg + " ";
        }
        SCOPED_TRACE(label);
        const auto run = RunGxReg(c.args);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_FALSE(run.err.empty());
    }
    EXPECT_EQ(RunGxReg({"get", kSettings, "N"}).out, "4294967295\n");
}

TEST_F(RegistryToolTest, AnUnusableHiveIsReported) {
    UseHive(folder_ + "/missing folder/registry.db");
    const auto run = RunGxReg({"list", kLogs});
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.err.find("missing folder"), std::string::npos);
    EXPECT_EQ(RunGxReg({"path"}).out, folder_ + "/missing folder/registry.db\n");
}

}  // namespace
}  // namespace gx
