// Starting and stopping the library: failures leave nothing open, cycles leak nothing, and the
// calls the program makes in any state do no harm.
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/interception/ProxyTestSupport.h"
#include "platform/interception/TestOrigin.h"

namespace gx::test {
namespace {

int CountEntries(const char* folder) {
    int count = 0;
    DIR* dir = ::opendir(folder);
    while (dirent* entry = ::readdir(dir)) {
        count += entry->d_name[0] != '.';
    }
    ::closedir(dir);
    return count;
}

int OpenFds() {
    return CountEntries("/proc/self/fd");
}
int Threads() {
    return CountEntries("/proc/self/task");
}

class LifecycleTest : public ProxyTest {};

TEST_F(LifecycleTest, StopAndFreeAreHarmlessWhenNothingWasStarted) {
    nf_free();
    pfc_free();
    nf_free();
    // nf_init without the protocol layer, or with a handler that is not its own, fails.
    EXPECT_NE(nf_init("gardalix", pfc_getNFEventHandler()), 0);
    EXPECT_EQ(interception::ExplicitProxyPort(), 0);
}

TEST_F(LifecycleTest, StartStopCyclesLeakNoDescriptorsOrThreads) {
    TestOrigin origin;
    ASSERT_TRUE(StartLibrary());
    StopLibrary();
    int fds = OpenFds();
    int threads = Threads();
    for (int cycle = 0; cycle < 10; ++cycle) {
        SCOPED_TRACE(cycle);
        ASSERT_TRUE(StartLibrary());
        RawClient finished(ProxyPort());
        finished.Send("GET " + origin.Url("/x") + " HTTP/1.1\r\nHost: h\r\n\r\n");
        EXPECT_FALSE(finished.ReadUntil("origin saw GET /x").empty());
        RawClient pending(ProxyPort());  // still open when the library stops
        pending.Send("GET " + origin.Url("/never") + " HTTP/1.1\r\nHost: h\r\n\r\n");
        WaitFor([&] { return origin.RequestCount() == 2 * cycle + 2; });
        StopLibrary();
        EXPECT_EQ(pending.ReadToEnd(), "");
        EXPECT_TRUE(pending.PeerClosed());
    }
    EXPECT_TRUE(WaitFor([&] { return OpenFds() == fds && Threads() == threads; }))
        << OpenFds() << " descriptors (" << fds << " before), " << Threads() << " threads ("
        << threads << " before)";
}

TEST_F(LifecycleTest, ABusyAddressFailsTheStartAndLeavesNothingOpen) {
    int blocker = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::listen(blocker, 1), 0);
    ::getsockname(blocker, reinterpret_cast<sockaddr*>(&address), &length);
    std::string taken = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    ::setenv(interception::kProxyAddressVariable, taken.c_str(), 1);

    int fds = OpenFds();
    int threads = Threads();
    EXPECT_FALSE(StartLibrary());
    EXPECT_EQ(OpenFds(), fds);
    EXPECT_EQ(Threads(), threads);
    // A malformed address fails the same way.
    ::setenv(interception::kProxyAddressVariable, "localhost", 1);
    EXPECT_FALSE(StartLibrary());
    ::close(blocker);
}

TEST_F(LifecycleTest, ASecondStartKeepsTheRunningProxy) {
    ASSERT_TRUE(StartLibrary());
    uint16_t port = ProxyPort();
    EXPECT_EQ(nf_init("gardalix", pfc_getNFEventHandler()), 0);
    EXPECT_EQ(ProxyPort(), port);
}

TEST_F(LifecycleTest, TheWindowsDataFolderMapsToTheUsersDataFolder) {
    ASSERT_TRUE(StartLibrary());
    std::string folder = interception::DataFolder();
    EXPECT_EQ(folder, dataHome_ + "/gardalix/netfilter2");
    struct stat info {};
    EXPECT_EQ(::stat(folder.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
}

TEST_F(LifecycleTest, ProcessNamesAreFullExecutablePaths) {
    char name[257];
    ASSERT_NE(nf_getProcessNameA(static_cast<uint32_t>(::getpid()), name, sizeof name), 0);
    char expected[4096];
    ssize_t n = ::readlink("/proc/self/exe", expected, sizeof expected - 1);
    ASSERT_GT(n, 0);
    expected[n] = '\0';
    EXPECT_STREQ(name, expected);
    // Too small a buffer, or a process that has ended: no name.
    EXPECT_EQ(nf_getProcessNameA(static_cast<uint32_t>(::getpid()), name, 4), 0);
    pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(nf_getProcessNameA(static_cast<uint32_t>(child), name, sizeof name), 0);
    EXPECT_EQ(nf_getProcessNameA(0, name, sizeof name), 0);
}

}  // namespace
}  // namespace gx::test
