// The engine with the real interception library: curl sends requests through the explicit proxy
// on loopback to a small origin server; listed addresses get the block page and never reach it.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "engine/Admission.h"
#include "engine/BlockPage.h"
#include "engine/ChildProtection.h"
#include "engine/GX_Main.h"
#include "engine/RequestVerdict.h"
#include "lists/ProductSite.h"
#include "platform/interception/Interception.h"
#include "platform/tls/RootAuthority.h"
#include "platform/tls/TrustMarker.h"
#include "support/HeadlessBrowser.h"
#include "tests/engine/EngineFixture.h"
#include "tests/engine/OriginServer.h"

extern char** environ;

namespace gx::test {
namespace {

struct ProgramRun {
    pid_t pid = -1;
    int exitCode = -1;
    std::string output;
};

// Runs a program to its end and returns what it wrote on its standard output.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments) {
    ProgramRun run;
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
        return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    int spawned = posix_spawn(&run.pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    if (spawned == 0) {
        char buffer[4096];
        ssize_t got;
        while ((got = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0) {
            run.output.append(buffer, static_cast<size_t>(got));
        }
        int status = 0;
        ::waitpid(run.pid, &status, 0);
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    ::close(pipeEnds[0]);
    return run;
}

// Sends one request from this very process through the proxy and reads the answer to its end.
std::string RequestFromThisProcess(uint16_t proxyPort, const std::string& absoluteUrl,
                                   const std::string& hostPort) {
    int connection = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in proxy{};
    proxy.sin_family = AF_INET;
    proxy.sin_port = htons(proxyPort);
    proxy.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout{30, 0};
    ::setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    std::string answer;
    if (::connect(connection, reinterpret_cast<sockaddr*>(&proxy), sizeof proxy) == 0) {
        std::string request = "GET " + absoluteUrl + " HTTP/1.1\r\nHost: " + hostPort +
                              "\r\nConnection: close\r\n\r\n";
        ::send(connection, request.data(), request.size(), MSG_NOSIGNAL);
        char buffer[4096];
        ssize_t got;
        while ((got = ::recv(connection, buffer, sizeof buffer, 0)) > 0) {
            answer.append(buffer, static_cast<size_t>(got));
        }
    }
    ::close(connection);
    return answer;
}

class EngineEndToEndTest : public EngineTestBase {
  protected:
    void SetUp() override {
        EngineTestBase::SetUp();
        ::setenv("GARDALIX_PROXY", "127.0.0.1:0", 1);
        ::setenv("XDG_DATA_HOME", folder_.c_str(), 1);  // the library's root is made there
        blocked_ = origin_.HostPort() + "/blocked/page?id=1";
        wholeHost_ = "localhost:" + std::to_string(origin_.Port());
        LoadLists({blocked_, kTestPageAddress, wholeHost_ + "/*"}, {"adult-only"});
        ASSERT_TRUE(StartDriver());
        proxyPort_ = interception::ExplicitProxyPort();
        ASSERT_NE(proxyPort_, 0);
    }

    void TearDown() override {
        StopDriver();
        EngineTestBase::TearDown();
    }

    ProgramRun Curl(const std::string& target, const std::string& curl = "/usr/bin/curl") {
        return RunProgram(curl, {"--silent", "--include", "--max-time", "60", "--noproxy", "",
                                 "--proxy", "http://127.0.0.1:" + std::to_string(proxyPort_),
                                 "http://" + origin_.HostPort() + target});
    }

    // A copy of curl in a folder whose name holds an exempt program name.
    std::string ExemptCurl() {
        auto folder = folder_ / "filezilla-test-copy";
        std::filesystem::create_directories(folder);
        auto copy = folder / "curl";
        std::filesystem::copy_file("/usr/bin/curl", copy,
                                   std::filesystem::copy_options::overwrite_existing);
        return copy.string();
    }

    static std::string BlockResponse(const std::string& url, const std::string& reason) {
        std::string page = BlockPageText(url, reason);
        return "HTTP/1.1 404 Not OK\r\nContent-Type: text/html\r\nContent-Length: " +
               std::to_string(page.size()) + "\r\nConnection: Close\r\n\r\n" + page;
    }

    OriginServer origin_;
    uint16_t proxyPort_ = 0;
    std::string blocked_;
    std::string wholeHost_;  // the origin under another name, listed whole
};

TEST_F(EngineEndToEndTest, ListedAddressGetsExactlyTheBlockPageAndNeverReachesTheOrigin) {
    ProgramRun run = Curl("/blocked/page?id=1");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, BlockResponse(blocked_, kReasonMalware));
    EXPECT_TRUE(origin_.Requests().empty());
    BlockEvent event = LastBlockEvent();
    EXPECT_EQ(event.url, blocked_);
    EXPECT_EQ(event.reason, kReasonMalware);
    EXPECT_EQ(armHookCalls.load(), 1);
}

// Other spellings of the listed address, as a user's program sends them: each is blocked, the
// origin never hears of it, and the history keeps the address as it was requested.
TEST_F(EngineEndToEndTest, OtherSpellingsOfTheListedAddressAreBlocked) {
    const std::string port = std::to_string(origin_.Port());
    struct Case {
        const char* what;
        std::string url;
        std::vector<std::string> curlOptions;
        std::string recorded;
    };
    const Case cases[] = {
        {"an escaped letter",
         "http://127.0.0.1:" + port + "/blocked/%70age?id=1",
         {},
         "127.0.0.1:" + port + "/blocked/%70age?id=1"},
        {"a dot-dot segment",
         "http://127.0.0.1:" + port + "/blocked/x/../page?id=1",
         {"--path-as-is"},
         "127.0.0.1:" + port + "/blocked/x/../page?id=1"},
        {"an escaped query",
         "http://127.0.0.1:" + port + "/blocked/page?%69d=%31",
         {},
         "127.0.0.1:" + port + "/blocked/page?%69d=%31"},
        {"an IPv4-mapped host",
         "http://[::ffff:127.0.0.1]:" + port + "/blocked/page?id=1",
         {},
         "[::ffff:127.0.0.1]:" + port + "/blocked/page?id=1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> arguments = {
            "--silent",   "--include",
            "--max-time", "60",
            "--noproxy",  "",
            "--proxy",    "http://127.0.0.1:" + std::to_string(proxyPort_)};
        arguments.insert(arguments.end(), c.curlOptions.begin(), c.curlOptions.end());
        arguments.push_back(c.url);
        ProgramRun run = RunProgram("/usr/bin/curl", arguments);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.output, BlockResponse(c.recorded, kReasonMalware));
        EXPECT_EQ(LastBlockEvent().url, c.recorded);
    }
    // Host notations that curl would write back in dotted decimal, sent as a program may.
    for (const std::string host : {"2130706433", "0x7f.1", "127.0.0.1."}) {
        SCOPED_TRACE(host);
        const std::string authority = host + ":" + port;
        std::string answer = RequestFromThisProcess(
            proxyPort_, "http://" + authority + "/blocked/page?id=1", authority);
        EXPECT_TRUE(answer.starts_with("HTTP/1.1 404 Not OK\r\n")) << answer;
        EXPECT_EQ(LastBlockEvent().url, authority + "/blocked/page?id=1");
    }
    EXPECT_TRUE(origin_.Requests().empty());
    // What is not a spelling of it still reaches the origin.
    EXPECT_TRUE(Curl("/blocked/page%3Fid=1").output.ends_with(OriginServer::kPage));
    EXPECT_EQ(origin_.Requests().size(), 1u);
}

TEST_F(EngineEndToEndTest, UnlistedAddressReachesTheOrigin) {
    ProgramRun run = Curl("/blocked/other");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.output.starts_with("HTTP/1.1 200 OK\r\n")) << run.output;
    EXPECT_TRUE(run.output.ends_with(OriginServer::kPage));
    EXPECT_EQ(origin_.Requests(), std::vector<std::string>{"GET /blocked/other HTTP/1.1"});
    EXPECT_EQ(armHookCalls.load(), 0);
}

TEST_F(EngineEndToEndTest, AdultAddressIsBlockedOnlyWhileChildProtectionIsOn) {
    ProgramRun passed = Curl("/adult-only/");
    EXPECT_TRUE(passed.output.ends_with(OriginServer::kPage));
    PornFilterOn = true;
    ProgramRun blocked = Curl("/adult-only/");
    EXPECT_EQ(blocked.output, BlockResponse(origin_.HostPort() + "/adult-only/", kReasonAdult));
    EXPECT_EQ(origin_.Requests().size(), 1u);
}

TEST_F(EngineEndToEndTest, ExemptProgramPassesUnfilteredAndItsProcessIsExempted) {
    ProgramRun run = Curl("/blocked/page?id=1", ExemptCurl());
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.output.ends_with(OriginServer::kPage)) << run.output;
    EXPECT_EQ(origin_.Requests(), std::vector<std::string>{"GET /blocked/page?id=1 HTTP/1.1"});
    EXPECT_TRUE(IsExemptProcess(static_cast<uint32_t>(run.pid)));
    EXPECT_EQ(armHookCalls.load(), 0);

    // The ordinary curl is still filtered.
    EXPECT_EQ(Curl("/blocked/page?id=1").output, BlockResponse(blocked_, kReasonMalware));
    EXPECT_EQ(origin_.Requests().size(), 1u);
}

// A host listed whole is blocked at any path, with the address as requested in the history.
TEST_F(EngineEndToEndTest, AnyAddressOnAHostListedWholeIsBlocked) {
    ProgramRun run =
        RunProgram("/usr/bin/curl", {"--silent", "--include", "--max-time", "60", "--noproxy", "",
                                     "--proxy", "http://127.0.0.1:" + std::to_string(proxyPort_),
                                     "http://" + wholeHost_ + "/any/path.exe?x=1"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, BlockResponse(wholeHost_ + "/any/path.exe?x=1", kReasonMalware));
    EXPECT_TRUE(origin_.Requests().empty());
    EXPECT_EQ(LastBlockEvent().url, wholeHost_ + "/any/path.exe?x=1");
}

// Lists published while the proxy runs (as a refresh does) judge the very next request; the
// request before them was judged by the old lists.
TEST_F(EngineEndToEndTest, ListsPublishedWhileTheProxyRunsJudgeTheNextRequest) {
    const std::string fresh = origin_.HostPort() + "/fresh/payload.exe";
    ProgramRun before = Curl("/fresh/payload.exe");
    EXPECT_TRUE(before.output.ends_with(OriginServer::kPage)) << before.output;
    ASSERT_EQ(origin_.Requests().size(), 1u);

    BlockLists refreshed;
    refreshed.malware = MalwareList::FromEntries({fresh});
    refreshed.origin.serial = ListsInUse()->origin.serial + 1;
    PublishLists(std::move(refreshed));

    EXPECT_EQ(Curl("/fresh/payload.exe").output, BlockResponse(fresh, kReasonMalware));
    EXPECT_EQ(origin_.Requests().size(), 1u);
    // The lists are replaced whole: the old entry no longer blocks.
    EXPECT_TRUE(Curl("/blocked/page?id=1").output.ends_with(OriginServer::kPage));
}

// The console's test link opens the product site's test page over HTTPS. Once the root is
// trusted, the block page comes back inside TLS, and no network is needed: the page is answered
// before any connection to the site (which does not even resolve here).
TEST_F(EngineEndToEndTest, TheHttpsTestPageIsBlockedInsideTlsWithoutAnyNetwork) {
    std::string folder = interception::DataFolder();
    auto root = tls::LoadRoot(folder, kRootCertSubject);
    ASSERT_TRUE(root) << "the library makes its root at start";
    ASSERT_TRUE(tls::WriteTrustMarker(folder, root->fingerprint));  // as gx-driver trust does
    const std::string page = BlockResponse(kTestPageAddress, kReasonTestPage);
    const std::string body = page.substr(page.find("\r\n\r\n") + 4);
    for (const char* version : {"--http1.1", "--http2"}) {
        SCOPED_TRACE(version);
        ProgramRun run =
            RunProgram("/usr/bin/curl",
                       {"--silent", "--include", version, "--max-time", "60", "--noproxy", "",
                        "--proxy", "http://127.0.0.1:" + std::to_string(proxyPort_), "--cacert",
                        root->certificatePath, "https://www.gardalix.example/test_malware/"});
        EXPECT_EQ(run.exitCode, 0);
        if (std::string(version) == "--http1.1") {
            EXPECT_TRUE(run.output.ends_with(page)) << run.output;
        } else {
            // The same status, fields and body bytes, on a stream (HTTP/2 has no reason phrase
            // and no connection of its own to close).
            EXPECT_NE(run.output.find("HTTP/2 404 \r\n"), std::string::npos) << run.output;
            EXPECT_NE(run.output.find("content-length: " + std::to_string(body.size())),
                      std::string::npos)
                << run.output;
            EXPECT_TRUE(run.output.ends_with("\r\n\r\n" + body)) << run.output;
        }
        EXPECT_EQ(LastBlockEvent().url, kTestPageAddress);
    }
}

// In a real browser too: headless Chromium, trusting the program's root alone, shows the block
// page of the harmless test address, and nothing of it needs the network.
TEST_F(EngineEndToEndTest, TheHttpsTestPageShowsTheBlockPageInABrowser) {
    if (const std::string missing = gx::testing::BrowserMissing(); !missing.empty()) {
        GTEST_SKIP() << missing;
    }
    std::string folder = interception::DataFolder();
    auto root = tls::LoadRoot(folder, kRootCertSubject);
    ASSERT_TRUE(root);
    ASSERT_TRUE(tls::WriteTrustMarker(folder, root->fingerprint));
    gx::testing::HeadlessBrowser browser(root->certificatePath);
    std::optional<std::string> dom =
        browser.Load("https://www.gardalix.example/test_malware/", proxyPort_);
    ASSERT_TRUE(dom) << "the browser did not run";
    EXPECT_NE(dom->find(kTestPageAddress), std::string::npos) << *dom;
    EXPECT_EQ(LastBlockEvent().url, kTestPageAddress);
}

// An exempted process stays exempt through a stop and a start of the engine, although the
// library forgets its rules and the process is not recognised by its name.
TEST_F(EngineEndToEndTest, RestartKeepsTheExemptions) {
    const std::string url = "http://" + origin_.HostPort() + "/blocked/page?id=1";
    EXPECT_TRUE(RequestFromThisProcess(proxyPort_, url, origin_.HostPort())
                    .starts_with("HTTP/1.1 404 Not OK\r\n"));
    ASSERT_TRUE(AddExemptProcess(static_cast<uint32_t>(::getpid())));
    EXPECT_TRUE(
        RequestFromThisProcess(proxyPort_, url, origin_.HostPort()).ends_with(OriginServer::kPage));

    StopDriver();
    ASSERT_TRUE(StartDriver());
    proxyPort_ = interception::ExplicitProxyPort();
    EXPECT_TRUE(
        RequestFromThisProcess(proxyPort_, url, origin_.HostPort()).ends_with(OriginServer::kPage));
    EXPECT_TRUE(Curl("/blocked/page?id=1", ExemptCurl()).output.ends_with(OriginServer::kPage));
    EXPECT_EQ(Curl("/blocked/page?id=1").output, BlockResponse(blocked_, kReasonMalware));
    EXPECT_EQ(origin_.Requests().size(), 3u);
}

}  // namespace
}  // namespace gx::test
