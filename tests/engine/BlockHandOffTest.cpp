// The hand-off of blocks to the console: one slot in which the last block wins, read whole, and
// the arming hook called for every block, also under a burst from several threads.
#include <thread>

#include "engine/PornFilter.h"
#include "engine/RequestVerdict.h"
#include "tests/engine/FakeEngineFixture.h"

namespace gx::test {
namespace {

class EngineBlockHandOffTest : public EngineTest {
  protected:
    static PFObject* Get(const std::string& host, const std::string& target) {
        return fake::MakeRequest("GET " + target + " HTTP/1.1\r\n", "Host: " + host + "\r\n\r\n");
    }
};

TEST_F(EngineBlockHandOffTest, LastBlockWinsAndEachBlockCallsTheHook) {
    LoadLists({"first.example/"}, {"xxx"});
    PornFilterOn = true;
    dataPartAvailable(1, Get("first.example", "/"));
    dataPartAvailable(2, Get("xxx.example", "/second"));
    BlockEvent event = LastBlockEvent();
    EXPECT_EQ(event.url, "xxx.example/second");
    EXPECT_EQ(event.reason, "Site adulte");
    EXPECT_EQ(armHookCalls.load(), 2);
}

TEST_F(EngineBlockHandOffTest, BlocksWithoutAHookStillRecordTheEvent) {
    SetArmBlockTimerHook(nullptr);
    LoadLists({"bad.example/"}, {});
    EXPECT_EQ(dataPartAvailable(1, Get("bad.example", "/")), DPCR_BLOCK);
    EXPECT_EQ(LastBlockEvent().url, "bad.example/");
    EXPECT_EQ(armHookCalls.load(), 0);
}

// Several worker threads block at once while the console reads the slot: every read is one
// whole block (an address with its own reason), never a mix of two.
TEST_F(EngineBlockHandOffTest, BurstFromSeveralThreadsNeverTearsTheSlot) {
    constexpr int kThreads = 6;
    constexpr int kBlocksPerThread = 300;
    std::vector<std::string> malware;
    for (int t = 0; t < kThreads; t += 2) {
        for (int i = 0; i < kBlocksPerThread; ++i) {
            malware.push_back("bad" + std::to_string(t) + ".example/" + std::to_string(i));
        }
    }
    LoadLists(malware, {"adult"});
    PornFilterOn = true;

    std::atomic<bool> blocking{true};
    std::atomic<int> torn{0};
    std::thread console([&] {
        while (blocking.load()) {
            BlockEvent event = LastBlockEvent();
            if (event.url.empty())
                continue;
            bool malwareUrl = event.url.starts_with("bad");
            bool adultUrl = event.url.starts_with("adult");
            if (!(malwareUrl && event.reason == "Site malveillant") &&
                !(adultUrl && event.reason == "Site adulte")) {
                torn.fetch_add(1);
            }
        }
    });
    std::vector<std::thread> workers;
    std::atomic<int> blocked{0};
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < kBlocksPerThread; ++i) {
                std::string target = "/" + std::to_string(i);
                std::string host = (t % 2 == 0 ? "bad" : "adult") + std::to_string(t) + ".example";
                if (dataPartAvailable(t, Get(host, target)) == DPCR_BLOCK)
                    blocked.fetch_add(1);
            }
        });
    }
    for (auto& w : workers)
        w.join();
    blocking = false;
    console.join();

    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(blocked.load(), kThreads * kBlocksPerThread);
    EXPECT_EQ(armHookCalls.load(), kThreads * kBlocksPerThread);
    EXPECT_EQ(fake::Posted().size(), static_cast<size_t>(kThreads * kBlocksPerThread));
    BlockEvent last = LastBlockEvent();
    EXPECT_TRUE(last.url.ends_with("/" + std::to_string(kBlocksPerThread - 1)))
        << "the slot holds one thread's last block: " << last.url;
}

}  // namespace
}  // namespace gx::test
