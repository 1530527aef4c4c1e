// One update from start to end: gx-publish writes a site, a static web server serves it, the
// update client (the console's, in a child process) finds the build, downloads it with its
// SHA-256 check and hands over to the real gx_restart, which verifies the signature, installs
// the build and starts it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "RestartFixture.h"

namespace gx::testing {
namespace {

// A port that was free a moment ago on the loopback address.
int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

bool Answers(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected =
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

// python3 -m http.server on a folder, for the life of the object.
class StaticServer {
  public:
    StaticServer(const fs::path& folder, int port) {
        pid_ = ::fork();
        if (pid_ == 0) {
            const int nothing = ::open("/dev/null", O_RDWR);
            ::dup2(nothing, 0);
            ::dup2(nothing, 1);
            ::dup2(nothing, 2);
            const std::string portText = std::to_string(port);
            ::execlp("python3", "python3", "-m", "http.server", portText.c_str(), "--bind",
                     "127.0.0.1", "--directory", folder.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~StaticServer() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

  private:
    pid_t pid_ = -1;
};

class EndToEndTest : public RestartFixture {};

TEST_F(EndToEndTest, APublishedBuildIsFoundDownloadedInstalledAndRuns) {
    const fs::path client = app() / "gardalix-client";
    fs::copy_file(GX_UPDATE_CLIENT_PROGRAM, client);
    const int port = FreePort();
    const std::string base = "http://127.0.0.1:" + std::to_string(port);
    const fs::path site = root() / "site";
    const CommandRun published = RunCommand("timeout 60 " GX_PUBLISH_PROGRAM " site " +
                                            (root() / "keys" / "test.key").string() + " 1.6.0 " +
                                            MakeProgramDir("new", "1.6.0").string() + " " +
                                            site.string() + " " + base + " 10/12/2026");
    ASSERT_EQ(published.status, 0) << published.output;
    const std::string description =
        ReadText(site / "update2024" / "gardalix" / "fr" / "gardalix2024id.txt");
    EXPECT_NE(description.find("SOFTWARE_BUILD_VERSION=1.6.0;\r\n"), std::string::npos);
    EXPECT_NE(description.find("SOFTWARE_SHA256="), std::string::npos);
    EXPECT_EQ(ReadText(site / "update2024" / "gardalix" / "connect.php"), "OK\r\n");

    StaticServer server(site, port);
    ASSERT_TRUE(WaitFor([&] { return Answers(port); }));
    const std::string hive = (root() / "hive" / "registry.db").string();
    const CommandRun set = RunCommand(
        "GARDALIX_REGISTRY='" + hive + "' timeout 60 '" + GX_PROGRAM_DIR "/gx-reg' set " +
        "'SOFTWARE\\Brevane\\Gardalix' UPDATE_SERVER sz '" + base + "'");
    ASSERT_EQ(set.status, 0) << set.output;

    std::vector<std::string> environment = Environment();
    environment.push_back("QT_QPA_PLATFORM=offscreen");
    const ProcessRun run =
        RunProgram(client.string(), app().string(), environment, root() / "client-errors.txt");
    EXPECT_EQ(run.status, 0) << run.errors;

    // The client has ended; gx_restart goes on by itself and starts the new build.
    ASSERT_TRUE(WaitFor([&] { return Log().find("installée") != std::string::npos; },
                        std::chrono::seconds(90)))
        << Log() << ReadText(root() / "client-errors.txt");
    ASSERT_TRUE(WaitForRunningProgram(1));
    EXPECT_EQ(Started().back().substr(0, 6), "1.6.0 ");
    EXPECT_EQ(ReadText(app() / "notes.txt"), "notes of 1.6.0\n");
    EXPECT_TRUE(fs::exists(root() / "app.previous" / "gardalix-client"));
}

}  // namespace
}  // namespace gx::testing
