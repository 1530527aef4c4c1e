// gx-driver run as an administrator would run it, inside a network namespace of the test.
#include <gtest/gtest.h>

#include <filesystem>

#include "DriverFixture.h"
#include "platform/driver/DriverConfig.h"

namespace gx {
namespace {

using testing::CommandRun;
using testing::DriverFixture;
using testing::RunCommand;

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

class GxDriverTool : public DriverFixture {};

TEST_F(GxDriverTool, InstallCreatesTheTableTheFileAndTheCapability) {
    const CommandRun install = Install();
    ASSERT_EQ(install.status, 0) << install.output;

    const std::string table = Table();
    EXPECT_NE(table.find("type nat hook output priority -100"), std::string::npos) << table;
    EXPECT_NE(table.find("meta nfproto . meta skuid @armed meta l4proto tcp redirect to :3130"),
              std::string::npos)
        << table;
    EXPECT_NE(table.find("meta nfproto . meta skuid @armed udp dport 443 reject"),
              std::string::npos)
        << table;
    EXPECT_NE(table.find("set armed"), std::string::npos) << table;
    EXPECT_NE(table.find("flags dynamic,timeout"), std::string::npos) << table;
    EXPECT_NE(table.find("timeout 10s"), std::string::npos) << table;
    EXPECT_EQ(
        Count(table,
              "udp dport 3130 @th,64,8 0x31 update @armed { meta nfproto . meta skuid } drop"),
        2u)
        << table;
    EXPECT_EQ(
        Count(table,
              "udp dport 3130 @th,64,8 0x30 delete @armed { meta nfproto . meta skuid } drop"),
        2u)
        << table;
    EXPECT_EQ(Count(table, "meta mark 0x00004758 return"), 2u) << table;
    EXPECT_EQ(Count(table, "ip daddr 127.0.0.0/8 return"), 2u) << table;
    EXPECT_EQ(Count(table, "ip6 daddr ::1 return"), 2u) << table;

    const auto config = ReadDriverConfig(ConfigPath());
    ASSERT_TRUE(config);
    EXPECT_EQ(*config, (DriverConfig{3130, 0x4758, {}, std::filesystem::canonical(program_)}));

    EXPECT_NE(Capabilities(program_).find("cap_net_admin=p"), std::string::npos);

    const CommandRun status = Tool("status");
    EXPECT_EQ(status.status, 0) << status.output;
    EXPECT_NE(status.output.find("Mode transparent : installé"), std::string::npos)
        << status.output;
    EXPECT_NE(status.output.find("Redirection en service : non"), std::string::npos)
        << status.output;
}

TEST_F(GxDriverTool, InstallingAgainReplacesTheTableWhole) {
    ASSERT_EQ(Install().status, 0);
    const CommandRun again = Install("--ports 8080,80 --listen-port 4000");
    ASSERT_EQ(again.status, 0) << again.output;

    const std::string table = Table();
    EXPECT_EQ(Count(table, "chain redirect_tcp"), 1u) << table;
    EXPECT_EQ(Count(table, "chain filter_out"), 1u) << table;
    EXPECT_EQ(Count(table, "set armed"), 1u) << table;
    EXPECT_NE(table.find("@armed tcp dport { 80, 8080 } redirect to :4000"), std::string::npos)
        << table;
    EXPECT_EQ(Count(table, "udp dport 4000 @th,64,8"), 4u) << table;
    EXPECT_EQ(table.find("meta l4proto tcp redirect"), std::string::npos) << table;
    EXPECT_EQ(table.find(":3130"), std::string::npos) << table;

    const auto config = ReadDriverConfig(ConfigPath());
    ASSERT_TRUE(config);
    EXPECT_EQ(config->transparentPort, 4000);
    EXPECT_EQ(config->ports, (std::vector<std::uint16_t>{80, 8080}));
    EXPECT_NE(Capabilities(program_).find("cap_net_admin=p"), std::string::npos);
    EXPECT_EQ(Tool("status").status, 0);
}

TEST_F(GxDriverTool, InstallingForAnotherProgramTakesTheCapabilityFromTheFirst) {
    ASSERT_EQ(Install().status, 0);
    const std::string other = MakeProgram("gardalix-2");
    ASSERT_EQ(Tool("install --program " + other).status, 0);
    EXPECT_EQ(Capabilities(program_).find("cap_net_admin"), std::string::npos);
    EXPECT_NE(Capabilities(other).find("cap_net_admin=p"), std::string::npos);
    EXPECT_EQ(ReadDriverConfig(ConfigPath())->program, std::filesystem::canonical(other));
}

TEST_F(GxDriverTool, UninstallLeavesNothingAndIsHarmlessTwice) {
    ASSERT_EQ(Install().status, 0);
    const struct {
        const char* says;
    } rounds[] = {{"Mode transparent désinstallé."}, {"n'était pas installé"}};
    for (const auto& round : rounds) {
        SCOPED_TRACE(round.says);
        const CommandRun uninstall = Tool("uninstall");
        EXPECT_EQ(uninstall.status, 0) << uninstall.output;
        EXPECT_NE(uninstall.output.find(round.says), std::string::npos) << uninstall.output;
        EXPECT_EQ(Table(), "");
        EXPECT_FALSE(std::filesystem::exists(ConfigPath()));
        EXPECT_EQ(Capabilities(program_).find("cap_net_admin"), std::string::npos);
    }
    const CommandRun status = Tool("status --program " + program_);
    EXPECT_NE(status.status, 0);
    EXPECT_NE(status.output.find("Mode transparent : non installé"), std::string::npos)
        << status.output;
}

TEST_F(GxDriverTool, UninstallLeavesOtherCapabilitiesOfAnUnrelatedFileAlone) {
    // Nothing installed; the default program beside the tool is not ours to change, and a
    // file named on the command line without our capability keeps what it has.
    ASSERT_EQ(RunCommand("setcap cap_net_raw+ep " + program_).status, 0);
    const CommandRun uninstall = Tool("uninstall --program " + program_);
    EXPECT_EQ(uninstall.status, 0) << uninstall.output;
    EXPECT_NE(Capabilities(program_).find("cap_net_raw=ep"), std::string::npos);
}

TEST_F(GxDriverTool, StatusTellsAPartialInstallation) {
    ASSERT_EQ(Install().status, 0);
    ASSERT_EQ(namespace_.Run("nft delete table inet gardalix").status, 0);
    const CommandRun status = Tool("status");
    EXPECT_EQ(status.status, 1) << status.output;
    EXPECT_NE(status.output.find("Table nftables inet gardalix : absente"), std::string::npos)
        << status.output;
    EXPECT_NE(status.output.find("installé en partie"), std::string::npos) << status.output;
}

TEST_F(GxDriverTool, AMissingProgramInstallsNothing) {
    const CommandRun install = Tool("install --program " + folder_.File("absent"));
    EXPECT_EQ(install.status, 1);
    EXPECT_NE(install.output.find("programme introuvable"), std::string::npos) << install.output;
    EXPECT_EQ(Table(), "");
    EXPECT_FALSE(std::filesystem::exists(ConfigPath()));
}

TEST_F(GxDriverTool, AFailedInstallTakesBackTheTableAndTheCapability) {
    // The configuration cannot be written: a folder stands where the file goes.
    std::filesystem::create_directories(ConfigPath() + "/occupied");
    const CommandRun install = Install();
    EXPECT_EQ(install.status, 1);
    EXPECT_NE(install.output.find("configuration"), std::string::npos) << install.output;
    EXPECT_EQ(Table(), "");
    EXPECT_EQ(Capabilities(program_).find("cap_net_admin"), std::string::npos);
}

TEST_F(GxDriverTool, AFailedReinstallKeepsThePreviousInstallation) {
    ASSERT_EQ(Install().status, 0);
    const std::string before = Table();
    const auto config = ReadDriverConfig(ConfigPath());
    // A file of /proc takes no capability.
    const CommandRun again = Tool("install --ports 80 --program /proc/version");
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.output.find("cap_net_admin"), std::string::npos) << again.output;
    EXPECT_EQ(Table(), before);
    EXPECT_EQ(ReadDriverConfig(ConfigPath()), config);
    EXPECT_NE(Capabilities(program_).find("cap_net_admin=p"), std::string::npos);
    EXPECT_EQ(Tool("status").status, 0);
}

TEST_F(GxDriverTool, OnlyRootMayRunIt) {
    if (!testing::CommandWorks("setpriv --version")) {
        GTEST_SKIP() << "needs setpriv (util-linux) to run the tool as another user";
    }
    for (const char* command : {"install", "uninstall", "status"}) {
        SCOPED_TRACE(command);
        const CommandRun run = namespace_.Run(
            "setpriv --reuid=65534 --regid=65534 --clear-groups " GX_PROGRAM_DIR "/gx-driver " +
            std::string(command) + " --program " + program_);
        if (run.status == 126 || run.status == 127) {
            GTEST_SKIP() << "the build folder is not open to other users: " << run.output;
        }
        EXPECT_EQ(run.status, 3) << run.output;
        EXPECT_NE(run.output.find("root"), std::string::npos) << run.output;
    }
    EXPECT_EQ(Table(), "");
}

TEST(GxDriverCommandLine, BadCommandLinesAreRefusedWithTheUsage) {
    const char* cases[] = {
        "",
        "installer",
        "install --ports",
        "install --ports 0",
        "install --ports 80,",
        "install --ports http",
        "install --ports 70000",
        "install --listen-port 80,81",
        "install --listen-port 0",
        "install --force",
        "uninstall --ports 80",
        "status --listen-port 3130",
        "trust --program /bin/true",
        "trust --user --user",
        "untrust --ports 80",
        "status --user --program /bin/true",
        "install --user",
        "trust --data-home relative/folder",
        "trust --data-home",
        "install --data-home /tmp",
    };
    for (const char* arguments : cases) {
        SCOPED_TRACE(arguments);
        const CommandRun run = RunCommand(GX_PROGRAM_DIR "/gx-driver " + std::string(arguments));
        EXPECT_EQ(run.status, 2) << run.output;
        EXPECT_NE(run.output.find("Usage : gx-driver install"), std::string::npos) << run.output;
    }
}

}  // namespace
}  // namespace gx
