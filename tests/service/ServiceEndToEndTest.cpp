// The service program as the system runs it, with curl as two accounts' programs going through
// its proxy: each request is judged by its own account's child protection and recorded in its
// own account's history alone; killed without warning and started again, the service has lost
// no history entry and still protects the child.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/interception/TestOrigin.h"
#include "service/ControlSocket.h"
#include "support/Loopback.h"
#include "support/RunCommand.h"
#include "support/TempFolder.h"
#include "tests/service/AskAsAccount.h"

namespace gx::service {
namespace {

constexpr uint32_t kParent = 4811;
constexpr uint32_t kChild = 4812;

class ServiceEndToEndTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0) {
            GTEST_SKIP() << "needs root and setpriv to run programs as several accounts";
        }
        ::chmod(folder_.Path().c_str(), 0755);
        const int listener = gx::testing::ListenLoopback(proxyPort_);
        ::close(listener);
    }
    void TearDown() override { StopService(SIGTERM); }

    void StartService() {
        service_ = ::fork();
        if (service_ == 0) {
            ::setenv("GARDALIX_PROXY", ("127.0.0.1:" + std::to_string(proxyPort_)).c_str(), 1);
            ::setenv("GARDALIX_DRIVER_CONF", folder_.File("no-driver.conf").c_str(), 1);
            ::execl(GX_PROGRAM_DIR "/gardalix-service", "gardalix-service", "--state",
                    folder_.File("state").c_str(), "--control", Control().c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int i = 0; i < 200 && !Ask(0, "GX1 STATE"); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    void StopService(int signal) {
        if (service_ > 0) {
            ::kill(service_, signal);
            int status = 0;
            ::waitpid(service_, &status, 0);
            service_ = -1;
        }
    }
    std::string Control() const { return folder_.File("control"); }

    // A request on a connection of the account's own.
    std::optional<Answer> Ask(uint32_t account, const std::string& line) {
        return AskAsAccount(account, Control(), line);
    }
    // curl as the account, through the service's proxy: what came back.
    std::string FetchAs(uint32_t account, const std::string& url) {
        const std::string id = std::to_string(account);
        return gx::testing::RunCommand("setpriv --reuid " + id + " --regid " + id +
                                       " --clear-groups curl --silent --max-time 20 -x 127.0.0.1:" +
                                       std::to_string(proxyPort_) + " " + url)
            .output;
    }
    std::string History(uint32_t account) {
        const std::optional<Answer> answer = Ask(account, "GX1 HISTORY");
        return answer && answer->ok ? answer->payload : "(no answer)";
    }

    gx::testing::TempFolder folder_;
    gx::test::TestOrigin origin_;
    uint16_t proxyPort_ = 0;
    pid_t service_ = -1;
};

TEST_F(ServiceEndToEndTest, EachAccountIsJudgedByItsOwnSettingsAndSeesItsOwnHistory) {
    StartService();
    ASSERT_TRUE(Ask(0, "GX1 STATE")) << "the service did not answer";
    // The administrator sets up the child's account with the terminal's tool.
    const gx::testing::CommandRun setUp = gx::testing::RunCommand(
        "GARDALIX_CONTROL=" + Control() +
        " " GX_PROGRAM_DIR "/gx-control --account 4812 set child-protection on");
    EXPECT_EQ(setUp.status, 0) << setUp.output;
    EXPECT_NE(setUp.output.find("child-protection=on"), std::string::npos) << setUp.output;
    // The child may not change the parent's, nor read it.
    const gx::testing::CommandRun refused = gx::testing::RunCommand(
        "GARDALIX_CONTROL=" + Control() + " setpriv --reuid 4812 --regid 4812 --clear-groups " +
        GX_PROGRAM_DIR "/gx-control --account 4811 history");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.output.find("administrateur"), std::string::npos) << refused.output;

    const std::string adult = origin_.Url("/porn/a");
    EXPECT_EQ(FetchAs(kParent, adult), "origin saw GET /porn/a");
    EXPECT_NE(FetchAs(kChild, adult).find("Gardalix"), std::string::npos) << "the block page";
    EXPECT_EQ(origin_.RequestCount(), 1) << "the child's request never reached the site";
    const std::string listed = "http://www.gardalix.example/test_malware/";
    EXPECT_NE(FetchAs(kParent, listed).find("Gardalix"), std::string::npos);

    // The blocks reach the histories within the writer's second.
    std::string parent, child;
    for (int i = 0; i < 100; ++i) {
        parent = History(kParent);
        child = History(kChild);
        if (parent.find("test_malware") != std::string::npos &&
            child.find("porn/a") != std::string::npos) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_NE(child.find("/porn/a|Site adulte\t"), std::string::npos) << child;
    EXPECT_EQ(child.find("test_malware"), std::string::npos) << child;
    EXPECT_NE(parent.find("test_malware"), std::string::npos) << parent;
    EXPECT_EQ(parent.find("porn"), std::string::npos) << parent;

    // Killed without warning, then started again: nothing lost, the child still protected.
    StopService(SIGKILL);
    StartService();
    EXPECT_EQ(History(kChild), child);
    EXPECT_EQ(History(kParent), parent);
    EXPECT_NE(FetchAs(kChild, adult).find("Gardalix"), std::string::npos);
    EXPECT_EQ(origin_.RequestCount(), 1);
}

}  // namespace
}  // namespace gx::service
