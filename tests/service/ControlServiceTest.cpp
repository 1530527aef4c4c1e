// The control channel over its real socket, asked by threads that each take another account's
// identity for their own connection (the socket tells the service who asks; nothing in the
// request can say otherwise): each account reads and changes its own alone, an administrator
// sets up a child's, the child's switches that protect less need the code, and the histories
// stay apart.
#include "service/ControlService.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <thread>

#include "engine/AccountPolicy.h"
#include "service/ControlSocket.h"
#include "support/TempFolder.h"
#include "tests/service/AskAsAccount.h"

namespace gx::service {
namespace {

constexpr uint32_t kParent = 4801;
constexpr uint32_t kChild = 4802;
constexpr uint32_t kRoot = 0;

class ControlServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "needs root to ask as several accounts";
        }
        // Every account must reach the socket inside the test's folder.
        ::chmod(folder_.Path().c_str(), 0755);
        service_.SetClock([this] { return now_; });
        std::string error;
        ASSERT_TRUE(socket_.Start(Path(), &error)) << error;
    }
    void TearDown() override {
        socket_.Stop();
        WithdrawAccountPolicies();
    }
    std::string Path() const { return folder_.File("control"); }

    std::optional<Answer> AskAs(uint32_t account, const std::string& line) {
        return AskAsAccount(account, Path(), line);
    }
    // The answer's code: 0 for OK, -2 for no answer.
    int CodeOf(uint32_t account, const std::string& line) {
        const std::optional<Answer> answer = AskAs(account, line);
        return answer ? answer->code : -2;
    }

    gx::testing::TempFolder folder_;
    AccountStore store_{folder_.Path() / "state"};
    ControlService::Clock::time_point now_ = ControlService::Clock::now();
    // Root is the only administrator here: polkit is not asked.
    ControlService service_{store_, [](const Caller& caller) { return caller.account == 0; }};
    ControlSocket socket_{service_};
};

TEST_F(ControlServiceTest, EachAccountReadsAndChangesItsOwnAlone) {
    ASSERT_EQ(CodeOf(kParent, "GX1 SET child-protection off"), 0);
    ASSERT_EQ(CodeOf(kChild, "GX1 SET child-protection on"), 0);
    const std::optional<Answer> own = AskAs(kChild, "GX1 STATE");
    ASSERT_TRUE(own);
    EXPECT_EQ(own->payload, "protection=on\nchild-protection=on\nparental-code=no\n");

    // What the child may not do to the parent's account, each refused.
    for (const char* line :
         {"GX1 FOR 4801 STATE", "GX1 FOR 4801 HISTORY", "GX1 FOR 4801 SET child-protection on",
          "GX1 FOR 4801 SET protection off", "GX1 FOR 4801 SET-CODE 9999",
          "GX1 FOR 4801 REMOVE-CODE"}) {
        SCOPED_TRACE(line);
        const std::optional<Answer> refused = AskAs(kChild, line);
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->code, 404);
        EXPECT_NE(refused->payload.find("administrateur"), std::string::npos);
    }
    EXPECT_EQ(store_.Read(kParent).policy, (AccountPolicy{true, false}));
    // Naming one's own account is no way round either.
    EXPECT_EQ(CodeOf(kChild, "GX1 FOR 4802 STATE"), 0);
    // The engine judges each account by its own.
    EXPECT_FALSE(PolicyOfAccount(kParent).childProtection);
    EXPECT_TRUE(PolicyOfAccount(kChild).childProtection);
}

TEST_F(ControlServiceTest, AChildsSwitchesThatProtectLessNeedTheCodeOrAnAdministrator) {
    // The parent, as administrator, sets up the child's account.
    ASSERT_EQ(CodeOf(kRoot, "GX1 FOR 4802 SET child-protection on"), 0);
    ASSERT_EQ(CodeOf(kRoot, "GX1 FOR 4802 SET-CODE 2468"), 0);
    EXPECT_EQ(AskAs(kChild, "GX1 STATE")->payload,
              "protection=on\nchild-protection=on\nparental-code=yes\n");

    struct Case {
        const char* description;
        uint32_t account;
        std::string line;
        int code;
    };
    const std::vector<Case> cases = {
        {"protection off without the code", kChild, "GX1 SET protection off", 401},
        {"child protection off without it", kChild, "GX1 SET child-protection off", 401},
        {"the code removed without it", kChild, "GX1 REMOVE-CODE", 401},
        {"another code set without it", kChild, "GX1 SET-CODE 0000", 401},
        {"a wrong code", kChild, "GX1 SET child-protection off CODE 1357", 403},
        {"more protection needs no code", kChild, "GX1 SET child-protection on", 0},
        {"with the code", kChild, "GX1 SET child-protection off CODE 2468", 0},
        {"an administrator needs none", kRoot, "GX1 FOR 4802 SET child-protection on", 0},
        {"the code checked, wrong", kChild, "GX1 CHECK-CODE CODE 1111", 403},
        {"the code checked, right", kChild, "GX1 CHECK-CODE CODE 2468", 0},
        {"a stored form that is no hash", kChild, "GX1 SET-CODE-HASH plain CODE 2468", 400},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        EXPECT_EQ(CodeOf(c.account, c.line), c.code);
    }
    EXPECT_EQ(store_.Read(kChild).policy, (AccountPolicy{true, true}));
    EXPECT_TRUE(PolicyOfAccount(kChild).childProtection);
}

TEST_F(ControlServiceTest, WrongCodesLockTheCodeForAMinute) {
    ASSERT_EQ(CodeOf(kRoot, "GX1 FOR 4802 SET-CODE 2468"), 0);
    for (int i = 0; i < kCodeTriesMax; ++i) {
        EXPECT_EQ(CodeOf(kChild, "GX1 SET protection off CODE 000" + std::to_string(i)), 403);
    }
    const std::optional<Answer> locked = AskAs(kChild, "GX1 SET protection off CODE 2468");
    ASSERT_TRUE(locked);
    EXPECT_EQ(locked->code, 403) << "even the right code, while locked";
    EXPECT_NE(locked->payload.find("Trop de codes"), std::string::npos);
    now_ += kCodeLockout;
    EXPECT_EQ(CodeOf(kChild, "GX1 SET protection off CODE 2468"), 0);
    EXPECT_FALSE(store_.Read(kChild).policy.protection);
}

TEST_F(ControlServiceTest, HistoriesStayApart) {
    service_.Record({"bad.example/", "Site malveillant", "/usr/bin/curl", 10, kParent});
    service_.Record({"adulte.example/", "Site adulte", "/usr/bin/caf\xE9", 11, kChild});
    service_.Record({"nobody.example/", "Site malveillant", "", 0, kUnknownAccount});
    const std::optional<Answer> parent = AskAs(kParent, "GX1 HISTORY");
    const std::optional<Answer> child = AskAs(kChild, "GX1 HISTORY");
    ASSERT_TRUE(parent && child);
    EXPECT_NE(parent->payload.find("|bad.example/|Site malveillant\t/usr/bin/curl\n"),
              std::string::npos)
        << parent->payload;
    EXPECT_EQ(parent->payload.find("adulte.example"), std::string::npos);
    EXPECT_NE(child->payload.find("|adulte.example/|Site adulte\t/usr/bin/caf\xC3\xA9\n"),
              std::string::npos)
        << "Windows-1252 in the store, UTF-8 on the channel: " << child->payload;
    EXPECT_EQ(child->payload.find("bad.example"), std::string::npos);
    EXPECT_EQ(parent->payload.find("nobody"), std::string::npos);
}

// What no client of ours sends: a clear refusal, then the connection ends.
TEST_F(ControlServiceTest, BadOrOversizedRequestsAreRefusedAndTheConnectionCloses) {
    for (const std::string& line : {std::string("HELLO"), std::string(4096, 'A'),
                                    std::string("GX1 STATE\x01"), std::string("GX1 SHUTDOWN")}) {
        SCOPED_TRACE(line.substr(0, 20));
        const std::optional<Answer> answer = AskAs(kParent, line);
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->code, 400);
        EXPECT_NE(answer->payload.find("Demande refus"), std::string::npos);
    }
    // The line after a bad one on the same connection is never read.
    const std::optional<Answer> first = AskAs(kParent, "BAD\nGX1 SET protection off");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->code, 400);
    EXPECT_TRUE(store_.Read(kParent).policy.protection);
}

}  // namespace
}  // namespace gx::service
