// A client session driven through its C++ bridge to the program, without the C event table:
// each verdict decides what travels, and a blocked request that nobody answers ends the
// connection at once. Also the pure response queue, and the session's reading of its addresses.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/interception/ClientSession.h"
#include "platform/interception/Proxy.h"
#include "platform/interception/ProxyTestSupport.h"
#include "platform/interception/ResponseQueue.h"
#include "platform/interception/TestOrigin.h"

namespace gx::test {
namespace {

using interception::ConnectionAnnouncement;
using interception::HeadVerdict;
using interception::RequestHead;

// The program, as a test wants it: one verdict per request target, an optional answer.
class ScriptedProgram : public interception::ProgramBridge {
  public:
    struct Script {
        HeadVerdict verdict = HeadVerdict::Pass;
        std::string answer;  // posted as the program's response when not empty
    };

    void SetProxy(interception::Proxy* proxy) { proxy_ = proxy; }
    void Set(const std::string& target, Script script) {
        std::lock_guard lock(mutex_);
        scripts_[target] = std::move(script);
    }

    bool JudgesRequests() const override { return true; }
    bool Connected(ENDPOINT_ID id, const ConnectionAnnouncement& connection) override {
        std::lock_guard lock(mutex_);
        announced.push_back(connection);
        proxy_->Find(id)->AttachFilter(FT_HTTP, FF_READ_ONLY_IN);
        return true;
    }
    HeadVerdict JudgeHead(ENDPOINT_ID id, const RequestHead& head) override {
        Script script;
        {
            std::lock_guard lock(mutex_);
            judged.push_back(head.target);
            script = scripts_[head.target];
        }
        if (!script.answer.empty()) {
            proxy_->Find(id)->PostFromProgram(OT_HTTP_RESPONSE, script.answer);
        }
        return script.verdict;
    }
    void HandWhole(ENDPOINT_ID id, const RequestHead& head, std::string_view body) override {
        {
            std::lock_guard lock(mutex_);
            wholeBodies.emplace_back(body);
        }
        proxy_->Find(id)->PostFromProgram(OT_HTTP_REQUEST,
                                          head.line + "\r\n" + head.fields + std::string(body));
    }
    void Closed(ENDPOINT_ID) override { ++closed; }

    std::mutex mutex_;
    std::vector<ConnectionAnnouncement> announced;
    std::vector<std::string> judged;
    std::vector<std::string> wholeBodies;
    std::atomic<int> closed{0};

  private:
    interception::Proxy* proxy_ = nullptr;
    std::map<std::string, Script> scripts_;
};

class SessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        NF_RULE everything{};
        everything.filteringFlag = NF_FILTER;
        rules_.Add(everything, false);
        program_ = std::make_shared<ScriptedProgram>();
        proxy_ = std::make_unique<interception::Proxy>(program_, rules_, interception::Limits{});
        program_->SetProxy(proxy_.get());
        ASSERT_TRUE(proxy_->Start({asio::ip::make_address("127.0.0.1"), 0}));
    }
    void TearDown() override { proxy_->Stop(); }

    std::string Get(const std::string& path, const std::string& extra = "") {
        return "GET " + origin_.Url(path) + " HTTP/1.1\r\nHost: " + origin_.Authority() + "\r\n" +
               extra + "\r\n";
    }

    TestOrigin origin_;
    interception::RuleList rules_;
    std::shared_ptr<ScriptedProgram> program_;
    std::unique_ptr<interception::Proxy> proxy_;
};

TEST_F(SessionTest, EachVerdictDecidesWhatTravels) {
    const std::string answer = "HTTP/1.1 403 Forbidden\r\nContent-Length: 4\r\n\r\nnon!";
    program_->Set("/answered", {HeadVerdict::Blocked, answer});
    program_->Set("/collected", {HeadVerdict::Collect, ""});
    RawClient client(proxy_->ExplicitPort());
    std::string post = "POST " + origin_.Url("/collected") +
                       " HTTP/1.1\r\nHost: " + origin_.Authority() +
                       "\r\nContent-Length: 5\r\n\r\nhello";
    client.Send(Get("/passed") + Get("/answered") + post);

    std::string expected = TestOrigin::ResponseFor("GET", "/passed") + answer +
                           TestOrigin::ResponseFor("POST", "/collected");
    EXPECT_EQ(client.ReadAtLeast(expected.size()), expected);
    EXPECT_EQ(origin_.RequestCount(), 2);  // the answered request never travelled
    ASSERT_EQ(origin_.Bodies().size(), 2u);
    EXPECT_EQ(origin_.Bodies()[1], "hello");
    std::lock_guard lock(program_->mutex_);
    EXPECT_EQ(program_->judged, (std::vector<std::string>{"/passed", "/answered", "/collected"}));
    EXPECT_EQ(program_->wholeBodies, std::vector<std::string>{"hello"});
}

TEST_F(SessionTest, ABlockedRequestThatNobodyAnswersEndsTheConnectionAtOnce) {
    program_->Set("/blocked", {HeadVerdict::Blocked, ""});
    RawClient client(proxy_->ExplicitPort());
    client.Send(Get("/first") + Get("/blocked") + Get("/behind"));
    auto started = std::chrono::steady_clock::now();
    // Well before any of the library's time-outs (the shortest is 30 s).
    std::string received = client.ReadToEnd(20s);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);
    EXPECT_TRUE(client.PeerClosed());
    EXPECT_EQ(received, TestOrigin::ResponseFor("GET", "/first"));
    EXPECT_EQ(origin_.RequestCount(), 1);  // neither the blocked request nor the one behind it
}

TEST_F(SessionTest, TheProgramHearsOfTheConnectionAndOfItsEndOnce) {
    {
        RawClient client(proxy_->ExplicitPort());
        client.Send(Get("/x", "Connection: close\r\n"));
        client.ReadToEnd();
    }
    ASSERT_TRUE(WaitFor([&] { return program_->closed.load() == 1; }));
    std::lock_guard lock(program_->mutex_);
    ASSERT_EQ(program_->announced.size(), 1u);
    EXPECT_EQ(program_->announced[0].processId, static_cast<uint32_t>(::getpid()));
    EXPECT_TRUE(program_->announced[0].client.address().is_loopback());
    EXPECT_FALSE(program_->announced[0].server);  // an explicit proxy connection names none
}

TEST(SessionEndpoints, ASocketWithoutAPeerHasNoEndpoints) {
    asio::io_context context;
    asio::ip::tcp::socket socket(context);
    socket.open(asio::ip::tcp::v4());
    socket.bind({asio::ip::make_address("127.0.0.1"), 0});  // a local address, but no peer
    EXPECT_FALSE(interception::ClientSession::Endpoints(socket));
}

// Collects what the queue writes, with a backlog the test sets.
struct RecordingSink : interception::ByteSink {
    void Write(const char* data, size_t n) override { written.append(data, n); }
    size_t Backlog() const override { return backlog; }
    std::string written;
    size_t backlog = 0;
};

TEST(ResponseQueue, ResponsesLeaveInRequestOrderWhoeverFinishesFirst) {
    RecordingSink sink;
    interception::ResponseQueue queue(sink);
    auto first = queue.Open(false);
    auto second = queue.Open(false);
    auto third = queue.Open(false);
    queue.Deliver(third.get(), "3", 1);
    queue.Finish(third.get(), false);
    queue.Deliver(second.get(), "2", 1);
    EXPECT_EQ(sink.written, "");  // nothing overtakes the first response
    queue.Deliver(first.get(), "1a", 2);
    EXPECT_EQ(sink.written, "1a");  // the head writes straight through
    queue.Deliver(first.get(), "1b", 2);
    EXPECT_TRUE(queue.Finish(first.get(), false));
    EXPECT_EQ(sink.written, "1a1b2");
    queue.Finish(second.get(), false);
    EXPECT_EQ(sink.written, "1a1b23");
    EXPECT_TRUE(queue.Empty());
    EXPECT_FALSE(queue.Ended());
}

TEST(ResponseQueue, AResponseThatClosesTheConnectionIsTheLastWritten) {
    RecordingSink sink;
    interception::ResponseQueue queue(sink);
    auto closing = queue.Open(false);
    auto behind = queue.Open(false);
    queue.Deliver(behind.get(), "late", 4);
    queue.Finish(behind.get(), false);
    queue.Deliver(closing.get(), "bye", 3);
    queue.Finish(closing.get(), true);
    EXPECT_EQ(sink.written, "bye");
    EXPECT_TRUE(queue.Ended());
    EXPECT_TRUE(queue.Empty());
    auto after = queue.Open(false);
    queue.Deliver(after.get(), "never", 5);
    EXPECT_EQ(sink.written, "bye");
}

TEST(ResponseQueue, AProducerMayGoOnWhileLittleWaitsForTheClient) {
    RecordingSink sink;
    interception::ResponseQueue queue(sink);
    auto head = queue.Open(false);
    auto held = queue.Open(false);
    sink.backlog = 9;
    EXPECT_TRUE(queue.CanTakeMore(head.get(), 10));
    sink.backlog = 10;
    EXPECT_FALSE(queue.CanTakeMore(head.get(), 10));
    queue.Deliver(held.get(), "0123456789", 10);  // a slot behind the head counts what it holds
    EXPECT_FALSE(queue.CanTakeMore(held.get(), 10));
    EXPECT_TRUE(queue.CanTakeMore(held.get(), 11));
}

}  // namespace
}  // namespace gx::test
