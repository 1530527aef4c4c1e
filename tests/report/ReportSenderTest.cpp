#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <string>
#include <vector>

#include "ReportingServer.h"
#include "http/HttpProt.h"
#include "platform/codepage/Cp1252.h"
#include "report/ReportSender.h"
#include "tests/console/ConsoleTestSupport.h"
#include "tests/http/ScriptedServer.h"

namespace gx {
namespace {

const char kPath[] = "/gardalix/report_url.php?id=";

TEST(ReportAddressTest, HoldsTheFourKeysInOrderEvenWhenEmpty) {
    EXPECT_EQ(ReportAddress("http://reports.example", kPath, ReportValues{4242, "", "", ""}),
              "http://reports.example/gardalix/report_url.php?id=4242&u=&d=&m=");
    EXPECT_EQ(ReportAddress("http://h:81", "/gardalix/request_analyze.php?id=",
                            ReportValues{0, "a b/c.d", "x&y=1", Cp1252("l'é@x.fr")}),
              "http://h:81/gardalix/request_analyze.php?id=0&u=a%20b%2Fc%2Ed&d=x%26y%3D1"
              "&m=l%60%E9%40x%2Efr");
    EXPECT_EQ(ReportAddress("http://h", kPath, ReportValues{65535, "", "", ""}),
              "http://h/gardalix/report_url.php?id=65535&u=&d=&m=");
}

class ReportSenderTest : public ::testing::Test {
  protected:
    void SetUp() override { test::App(); }

    ReportOutcome Send(const std::string& address) {
        return SendReport(http, address, [this](int ms) { pauses.push_back(ms); });
    }

    THttpCli http{"HTTP"};
    std::vector<int> pauses;
};

TEST_F(ReportSenderTest, TriesFiveTimesWithFourPausesWhenNothingAnswers) {
    const std::string address =
        "http://127.0.0.1:" + std::to_string(test::UnusedPort()) + kPath + "0&u=&d=&m=";
    const ReportOutcome outcome = Send(address);
    EXPECT_FALSE(outcome.sent);
    EXPECT_EQ(outcome.attempts, 5);
    EXPECT_EQ(pauses, (std::vector<int>{500, 500, 500, 500}));
    EXPECT_EQ(http.ReceiveStream, nullptr);
}

TEST_F(ReportSenderTest, CountsAGetThatReturnsAsSuccessAndOneThatRaisesAsAFailedAttempt) {
    const struct {
        int status;
        const char* location;
        bool sent;
        int attempts;
        std::vector<std::string> paths;  // what the server got, without the query
    } cases[] = {
        {200, "", true, 1, {"/gardalix/report_url.php"}},
        {302, "/merci.html", true, 1, {"/gardalix/report_url.php", "/merci.html"}},
        {401, "", true, 1, {"/gardalix/report_url.php"}},
        {404, "", false, 5, std::vector<std::string>(5, "/gardalix/report_url.php")},
        {500, "", false, 5, std::vector<std::string>(5, "/gardalix/report_url.php")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        test::ReportingServer server;
        server.Answer("/gardalix/report_url.php", c.status, c.location);
        pauses.clear();
        const ReportOutcome outcome = Send(server.Base() + kPath + "7&u=a&d=b&m=c");
        EXPECT_EQ(outcome.sent, c.sent);
        EXPECT_EQ(outcome.attempts, c.attempts);
        EXPECT_EQ(pauses.size(), static_cast<size_t>(c.attempts - 1));
        std::vector<std::string> paths;
        for (const std::string& target : server.Targets()) {
            paths.push_back(target.substr(0, target.find('?')));
        }
        EXPECT_EQ(paths, c.paths);
        ASSERT_FALSE(server.Targets().empty());
        EXPECT_EQ(server.Targets().front(), std::string(kPath) + "7&u=a&d=b&m=c");
    }
}

TEST_F(ReportSenderTest, GoesOnAfterFailedAttemptsAndStopsAtTheFirstSuccess) {
    test::ReportingServer server;
    server.AnswerFirst(2, 500);
    const std::string address = server.Base() + kPath + "1&u=&d=&m=";
    const ReportOutcome outcome = Send(address);
    EXPECT_TRUE(outcome.sent);
    EXPECT_EQ(outcome.attempts, 3);
    EXPECT_EQ(pauses, (std::vector<int>{500, 500}));
    // Every attempt asks for the same address.
    EXPECT_EQ(server.Targets(), std::vector<std::string>(3, std::string(kPath) + "1&u=&d=&m="));
}

TEST_F(ReportSenderTest, ThePauseHoldsTheEventsBack) {
    bool ran = false;
    QTimer::singleShot(0, [&ran] { ran = true; });
    SleepWithoutEvents(30);
    EXPECT_FALSE(ran);
    EXPECT_TRUE(test::SpinUntil([&ran] { return ran; }));
}

}  // namespace
}  // namespace gx
