// The hand-off of blocks to the console: every block queued in order and taken whole, also under
// a burst from several threads, the queue's bound, the arming hook called for every block, and
// the program behind each block with the alert hook that hears of all of them.
#include <map>
#include <mutex>
#include <thread>

#include "engine/Admission.h"
#include "engine/ConnectionPrograms.h"

#include "engine/ChildProtection.h"
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

// A page with many listed resources: as many blocks, none lost, in the order they happened.
TEST_F(EngineBlockHandOffTest, ABurstOfBlocksIsTakenWholeAndInOrder) {
    std::vector<std::string> listed;
    for (int i = 0; i < 100; ++i) {
        listed.push_back("bad.example/" + std::to_string(i));
    }
    LoadLists(listed, {"xxx"});
    PornFilterOn = true;
    TakeBlockEvents();
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(dataPartAvailable(1, Get("bad.example", "/" + std::to_string(i))), DPCR_BLOCK);
    }
    dataPartAvailable(2, Get("xxx.example", "/last"));
    const std::vector<BlockEvent> taken = TakeBlockEvents();
    ASSERT_EQ(taken.size(), 101u);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(taken[i].url, "bad.example/" + std::to_string(i));
        EXPECT_EQ(taken[i].reason, "Site malveillant");
    }
    EXPECT_EQ(taken[100].url, "xxx.example/last");
    EXPECT_EQ(taken[100].reason, "Site adulte");
    EXPECT_EQ(LastBlockEvent().url, "xxx.example/last");
    EXPECT_EQ(armHookCalls.load(), 101);
    EXPECT_TRUE(TakeBlockEvents().empty()) << "taken once";
}

// A console that never reads: the queue keeps the newest kPendingBlocksMax and counts the rest.
TEST_F(EngineBlockHandOffTest, TheQueueKeepsToItsBoundDroppingTheOldest) {
    LoadLists({}, {"xxx"});
    PornFilterOn = true;
    TakeBlockEvents();
    const uint64_t droppedBefore = DroppedBlockEvents();
    for (size_t i = 0; i < kPendingBlocksMax + 5; ++i) {
        dataPartAvailable(1, Get("xxx.example", "/?n=" + std::to_string(i)));
    }
    const std::vector<BlockEvent> taken = TakeBlockEvents();
    ASSERT_EQ(taken.size(), kPendingBlocksMax);
    EXPECT_EQ(taken.front().url, "xxx.example/?n=5");
    EXPECT_EQ(taken.back().url, "xxx.example/?n=" + std::to_string(kPendingBlocksMax + 4));
    EXPECT_EQ(DroppedBlockEvents() - droppedBefore, 5u);
}

std::mutex alertedMutex;
std::vector<BlockEvent> alerted;
void RecordAlert(const BlockEvent& block) {
    std::lock_guard lock(alertedMutex);
    alerted.push_back(block);
}

class EngineBlockProgramTest : public EngineBlockHandOffTest {
  protected:
    void SetUp() override {
        EngineBlockHandOffTest::SetUp();
        ForgetAllConnectionPrograms();
        alerted.clear();
        SetBlockAlertHook(RecordAlert);
    }
    void TearDown() override {
        SetBlockAlertHook(nullptr);
        EngineBlockHandOffTest::TearDown();
    }
    static void Connect(ENDPOINT_ID id, uint32_t pid) {
        NF_TCP_CONN_INFO info{};
        info.processId = pid;
        info.direction = NF_D_OUT;
        tcpConnected(id, &info);
    }
    static void Close(ENDPOINT_ID id) {
        NF_TCP_CONN_INFO info{};
        info.direction = NF_D_OUT;
        tcpClosed(id, &info);
    }
};

TEST_F(EngineBlockProgramTest, EachBlockNamesTheProgramOfItsConnectionAsAdmissionLearnedIt) {
    LoadLists({"bad.example/"}, {});
    fake::SetProcessName(40, "/usr/bin/Curl");
    fake::SetProcessName(41, "/opt/caf\xC3\xA9/agent");  // UTF-8, as the system names files
    Connect(1, 40);
    Connect(2, 41);
    Connect(3, 42);  // a process that cannot be named
    const struct {
        ENDPOINT_ID id;
        std::string program;  // Windows-1252
        uint32_t pid;
    } cases[] = {
        {1, "/usr/bin/Curl", 40},  // the path's own letter case, not the lowered one
        {2, "/opt/caf\xE9/agent", 41},
        {3, "", 42},
        {9, "", 0},  // a connection that admission never saw
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        TakeBlockEvents();
        ASSERT_EQ(dataPartAvailable(c.id, Get("bad.example", "/")), DPCR_BLOCK);
        const std::vector<BlockEvent> taken = TakeBlockEvents();
        ASSERT_EQ(taken.size(), 1u);
        const BlockEvent& last = taken[0];
        EXPECT_EQ(last.program, c.program);
        EXPECT_EQ(last.processId, c.pid);
        EXPECT_EQ(last.url, "bad.example/");
    }
    std::lock_guard lock(alertedMutex);
    ASSERT_EQ(alerted.size(), 4u) << "the alert hook hears of every block";
    EXPECT_EQ(alerted[0].program, "/usr/bin/Curl");
    EXPECT_EQ(alerted[0].reason, "Site malveillant");
}

TEST_F(EngineBlockProgramTest, AClosedConnectionOrAnExemptOneIsNotRemembered) {
    fake::SetProcessName(50, "/usr/bin/wget");
    fake::SetProcessName(51, "/usr/bin/filezilla");
    Connect(1, 50);
    Connect(2, 51);
    EXPECT_EQ(ProgramOfConnection(1).path, "/usr/bin/wget");
    EXPECT_EQ(ConnectionProgramCount(), 1u) << "the exempt connection has no filters to block it";
    Close(1);
    EXPECT_EQ(ProgramOfConnection(1).path, "");
    EXPECT_EQ(ConnectionProgramCount(), 0u);
}

TEST_F(EngineBlockProgramTest, TheTableKeepsToItsBoundAndTheEngineStopEmptiesIt) {
    for (ENDPOINT_ID id = 1; id <= kConnectionProgramsMax + 10; ++id) {
        RememberConnectionProgram(id, 7, "/usr/bin/x");
    }
    EXPECT_EQ(ConnectionProgramCount(), kConnectionProgramsMax);
    EXPECT_EQ(ProgramOfConnection(kConnectionProgramsMax + 5).path, "") << "beyond the bound";
    RememberConnectionProgram(1, 8, "/usr/bin/y");  // an identifier used again
    EXPECT_EQ(ProgramOfConnection(1).processId, 8u);
    StopDriver();
    EXPECT_EQ(ConnectionProgramCount(), 0u);
}

TEST_F(EngineBlockHandOffTest, BlocksWithoutAHookStillRecordTheEvent) {
    SetArmBlockTimerHook(nullptr);
    LoadLists({"bad.example/"}, {});
    EXPECT_EQ(dataPartAvailable(1, Get("bad.example", "/")), DPCR_BLOCK);
    EXPECT_EQ(LastBlockEvent().url, "bad.example/");
    EXPECT_EQ(armHookCalls.load(), 0);
}

// Several worker threads block at once while the console takes what is queued: every block comes
// whole (an address with its own reason), none is lost, and each thread's come in its order.
TEST_F(EngineBlockHandOffTest, BurstFromSeveralThreadsLosesAndTearsNothing) {
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

    TakeBlockEvents();
    std::atomic<bool> blocking{true};
    std::atomic<int> torn{0};
    std::vector<BlockEvent> taken;
    std::thread console([&] {
        while (true) {
            const bool last = !blocking.load();
            for (BlockEvent& event : TakeBlockEvents()) {
                bool malwareUrl = event.url.starts_with("bad");
                bool adultUrl = event.url.starts_with("adult");
                if (!(malwareUrl && event.reason == "Site malveillant") &&
                    !(adultUrl && event.reason == "Site adulte")) {
                    torn.fetch_add(1);
                }
                taken.push_back(std::move(event));
            }
            if (last) {
                return;
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
    ASSERT_EQ(taken.size(), static_cast<size_t>(kThreads * kBlocksPerThread));
    std::map<std::string, int> nextOfHost;
    for (const BlockEvent& event : taken) {
        const size_t slash = event.url.find('/');
        const std::string host = event.url.substr(0, slash);
        EXPECT_EQ(event.url.substr(slash + 1), std::to_string(nextOfHost[host]++)) << host;
    }
}

}  // namespace
}  // namespace gx::test
