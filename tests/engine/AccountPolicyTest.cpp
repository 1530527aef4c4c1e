// Requests judged by the policy of the account that owns their connection, once a table of
// policies is published (the system service); by the program's own switch when none is (the
// per-user program).
#include "engine/AccountPolicy.h"

#include "engine/Admission.h"
#include "engine/ChildProtection.h"
#include "engine/RequestVerdict.h"
#include "tests/engine/FakeEngineFixture.h"

namespace gx::test {
namespace {

constexpr uint32_t kParent = 1000;
constexpr uint32_t kChild = 1001;
constexpr uint32_t kUnprotected = 1002;

class AccountPolicyTest : public EngineTest {
  protected:
    void TearDown() override {
        WithdrawAccountPolicies();
        EngineTest::TearDown();
    }
    // A connection of the account (none: the kernel could not tell), admitted as the layer
    // announces it.
    static void Connect(ENDPOINT_ID id, std::optional<uint32_t> account) {
        if (account) {
            fake::SetConnectionAccount(id, *account);
        }
        NF_TCP_CONN_INFO info{};
        info.processId = static_cast<uint32_t>(100 + id);
        info.direction = NF_D_OUT;
        tcpConnected(id, &info);
    }
    static bool Blocked(ENDPOINT_ID id, const std::string& host) {
        return dataPartAvailable(id, fake::MakeRequest("GET / HTTP/1.1\r\n",
                                                       "Host: " + host + "\r\n\r\n")) == DPCR_BLOCK;
    }
};

TEST_F(AccountPolicyTest, EachConnectionIsJudgedByItsOwnAccountsPolicy) {
    LoadLists({"bad.example/"}, {"xxx"});
    PornFilterOn = true;  // the per-user switch no longer decides once policies are published
    PublishAccountPolicies(
        {{kParent, {true, false}}, {kChild, {true, true}}, {kUnprotected, {false, true}}});
    Connect(1, kParent);
    Connect(2, kChild);
    Connect(3, kUnprotected);
    Connect(4, std::nullopt);
    Connect(5, 4242);  // an account without a policy of its own
    const struct {
        const char* description;
        ENDPOINT_ID id;
        const char* host;
        bool blocked;
    } cases[] = {
        {"the parent: a listed site", 1, "bad.example", true},
        {"the parent: an adult site, child protection off", 1, "xxx.example", false},
        {"the child: an adult site", 2, "xxx.example", true},
        {"the child: a listed site", 2, "bad.example", true},
        {"an account with its protection off", 3, "bad.example", false},
        {"an account the kernel could not tell: the default", 4, "bad.example", true},
        {"the default has child protection off", 4, "xxx.example", false},
        {"an account without a policy: the default", 5, "bad.example", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        EXPECT_EQ(Blocked(c.id, c.host), c.blocked);
    }
    // Each block names the account whose history it belongs to.
    TakeBlockEvents();
    ASSERT_TRUE(Blocked(2, "xxx.example"));
    const std::vector<BlockEvent> blocks = TakeBlockEvents();
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].account, kChild);
}

TEST_F(AccountPolicyTest, WithoutPublishedPoliciesTheProgramsOwnSwitchDecides) {
    LoadLists({}, {"xxx"});
    Connect(1, kParent);
    PornFilterOn = false;
    EXPECT_FALSE(Blocked(1, "xxx.example"));
    PornFilterOn = true;
    EXPECT_TRUE(Blocked(1, "xxx.example"));
    PublishAccountPolicies({{kParent, {true, false}}});
    EXPECT_FALSE(Blocked(1, "xxx.example"));
    WithdrawAccountPolicies();
    EXPECT_TRUE(Blocked(1, "xxx.example"));
}

// A policy replaced while requests are judged: every request sees one whole policy, the old or
// the new, never protection from one and child protection from the other.
TEST_F(AccountPolicyTest, APolicyReplacedUnderLoadIsSeenWhole) {
    std::atomic<bool> running{true};
    std::atomic<int> mixed{0};
    std::thread reader([&] {
        while (running.load()) {
            const AccountPolicy policy = PolicyOfAccount(kChild);
            if (policy.protection != policy.childProtection) {
                mixed.fetch_add(1);
            }
        }
    });
    for (int i = 0; i < 20000; ++i) {
        const bool on = i % 2 == 0;
        PublishAccountPolicies({{kChild, {on, on}}});
    }
    running = false;
    reader.join();
    EXPECT_EQ(mixed.load(), 0);
}

}  // namespace
}  // namespace gx::test
