// The configuration file that gx-driver writes and the interception library reads.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "DriverTestSupport.h"
#include "platform/driver/DriverConfig.h"

namespace gx {
namespace {

using testing::TempFolder;

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

TEST(GxDriverConfig, WrittenConfigurationsReadBackUnchanged) {
    const DriverConfig cases[] = {
        {},
        {8443, 0x10, {80, 8080}, "/opt/gardalix/gardalix"},
        {65535, 0xffffffff, {1, 65535}, "/chemin avec espaces/gardalix"},
        {3130, 0x4758, {}, "/usr/lib/gardalix/gardalix", true},
    };
    TempFolder folder;
    for (const DriverConfig& config : cases) {
        SCOPED_TRACE(FormatDriverConfig(config));
        ASSERT_TRUE(WriteDriverConfig(config, folder.File("driver.conf")));
        EXPECT_EQ(ReadDriverConfig(folder.File("driver.conf")), config);
    }
}

TEST(GxDriverConfig, TheDefaultsAreTheDocumentedOnes) {
    const DriverConfig config;
    EXPECT_EQ(config.transparentPort, 3130);
    EXPECT_EQ(config.firewallMark, 0x4758u);
    EXPECT_TRUE(config.ports.empty());
    EXPECT_EQ(FormatDriverConfig(config).find("ports=all\n") != std::string::npos, true);
    EXPECT_FALSE(config.allAccounts) << "a user's program redirects its own account alone";
    EXPECT_NE(FormatDriverConfig(config).find("accounts=own\n"), std::string::npos);
}

TEST(GxDriverConfig, TheEnvironmentOverridesThePath) {
    ::unsetenv(kDriverConfigEnvironment);
    EXPECT_EQ(DriverConfigPath(), "/etc/gardalix/driver.conf");
    ::setenv(kDriverConfigEnvironment, "", 1);
    EXPECT_EQ(DriverConfigPath(), "/etc/gardalix/driver.conf");
    ::setenv(kDriverConfigEnvironment, "/tmp/ailleurs/driver.conf", 1);
    EXPECT_EQ(DriverConfigPath(), "/tmp/ailleurs/driver.conf");
    ::unsetenv(kDriverConfigEnvironment);
}

TEST(GxDriverConfig, ToleratesCommentsSpacesLineEndingsAndNewKeys) {
    const auto config = ParseDriverConfig(
        "# écrit à la main\r\n"
        "\r\n"
        "  transparent_port = 4000 \r\n"
        "firewall_mark=18264\r\n"
        "future_option=oui\r\n"
        "ports= 8080, 80 ,80\r\n"
        "program=/usr/bin/gardalix");
    ASSERT_TRUE(config);
    EXPECT_EQ(config->transparentPort, 4000);
    EXPECT_EQ(config->firewallMark, 0x4758u);
    EXPECT_EQ(config->ports, (std::vector<std::uint16_t>{80, 8080}));
    EXPECT_EQ(config->program, "/usr/bin/gardalix");
}

TEST(GxDriverConfig, MalformedFilesGiveNothing) {
    const std::string mark = "firewall_mark=0x4758\n";
    const std::string port = "transparent_port=3130\n";
    const struct {
        const char* why;
        std::string text;
    } cases[] = {
        {"empty", ""},
        {"no port", mark},
        {"no mark", port},
        {"port 0", "transparent_port=0\n" + mark},
        {"port too large", "transparent_port=65536\n" + mark},
        {"port not a number", "transparent_port=31x0\n" + mark},
        {"port negative", "transparent_port=-1\n" + mark},
        {"port empty", "transparent_port=\n" + mark},
        {"mark 0", port + "firewall_mark=0\n"},
        {"mark over 32 bits", port + "firewall_mark=0x100000000\n"},
        {"mark bare 0x", port + "firewall_mark=0x\n"},
        {"key twice", port + mark + "transparent_port=3131\n"},
        {"line without =", port + mark + "ports\n"},
        {"empty port in list", port + mark + "ports=80,,81\n"},
        {"port list with a bad port", port + mark + "ports=80,0\n"},
        {"port list empty", port + mark + "ports=\n"},
        {"accounts neither own nor all", port + mark + "accounts=some\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_FALSE(ParseDriverConfig(c.text));
    }
}

TEST(GxDriverConfig, AbsentUnreadableOrHugeFilesGiveNothing) {
    TempFolder folder;
    EXPECT_FALSE(ReadDriverConfig(folder.File("absent.conf")));
    std::filesystem::create_directory(folder.File("folder.conf"));
    EXPECT_FALSE(ReadDriverConfig(folder.File("folder.conf")));
    WriteText(folder.File("huge.conf"),
              "transparent_port=3130\nfirewall_mark=1\n" + std::string(100 * 1024, '#') + "\n");
    EXPECT_FALSE(ReadDriverConfig(folder.File("huge.conf")));
}

TEST(GxDriverConfig, PortLists) {
    const struct {
        const char* text;
        std::optional<std::vector<std::uint16_t>> ports;
    } cases[] = {
        {"80", std::vector<std::uint16_t>{80}},
        {"8080,80,443,80", std::vector<std::uint16_t>{80, 443, 8080}},
        {" 1 , 65535 ", std::vector<std::uint16_t>{1, 65535}},
        {"", std::nullopt},
        {",", std::nullopt},
        {"80,", std::nullopt},
        {"0", std::nullopt},
        {"65536", std::nullopt},
        {"http", std::nullopt},
        {"80 81", std::nullopt},
        {"80-90", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ParsePortList(c.text), c.ports);
    }
}

TEST(GxDriverConfig, WritingCreatesTheFolderAndReplacesTheFileWhole) {
    TempFolder folder;
    const std::string path = folder.File("etc/gardalix/driver.conf");
    ASSERT_TRUE(WriteDriverConfig(DriverConfig{}, path));
    ASSERT_TRUE(WriteDriverConfig({4000, 7, {80}, "/bin/gardalix"}, path));
    EXPECT_EQ(ReadDriverConfig(path), (DriverConfig{4000, 7, {80}, "/bin/gardalix"}));

    // Readable by every user's program, and no temporary file left beside it.
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.File("etc/gardalix"))) {
        EXPECT_EQ(entry.path().filename(), "driver.conf");
        ++files;
    }
    EXPECT_EQ(files, 1u);
}

TEST(GxDriverConfig, AFailedWriteKeepsTheOldFileAndSaysWhy) {
    TempFolder folder;
    // A folder where the file should be: the rename cannot replace it.
    const std::string blocked = folder.File("driver.conf");
    std::filesystem::create_directories(blocked + "/occupied");
    std::string error;
    EXPECT_FALSE(WriteDriverConfig(DriverConfig{}, blocked, &error));
    EXPECT_NE(error.find(blocked), std::string::npos) << error;
    EXPECT_TRUE(std::filesystem::is_directory(blocked + "/occupied"));
    size_t entries = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator(folder.File(""))) {
        ++entries;
    }
    EXPECT_EQ(entries, 1u) << "a temporary file was left behind";

    // A file where the folder should be.
    WriteText(folder.File("plain"), "x");
    error.clear();
    EXPECT_FALSE(WriteDriverConfig(DriverConfig{}, folder.File("plain/driver.conf"), &error));
    EXPECT_FALSE(error.empty());
}

TEST(GxDriverConfig, RemovingIsHarmlessWhenAbsent) {
    TempFolder folder;
    const std::string path = folder.File("driver.conf");
    ASSERT_TRUE(WriteDriverConfig(DriverConfig{}, path));
    EXPECT_TRUE(RemoveDriverConfig(path));
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_TRUE(RemoveDriverConfig(path));
}

}  // namespace
}  // namespace gx
