// Connection admission: which connections get the filters, which programs are exempt, the two
// tables at their limits and under concurrent appends and scans.
#include <cstring>
#include <optional>
#include <thread>

#include "engine/Admission.h"
#include "tests/engine/FakeEngineFixture.h"

namespace gx::test {
namespace {

class EngineAdmissionTest : public EngineTest {
  protected:
    static NF_TCP_CONN_INFO Info(uint32_t pid, uint8_t direction = NF_D_OUT) {
        NF_TCP_CONN_INFO info{};
        info.processId = pid;
        info.direction = direction;
        return info;
    }

    void Connect(ENDPOINT_ID id, uint32_t pid, uint8_t direction = NF_D_OUT) {
        NF_TCP_CONN_INFO info = Info(pid, direction);
        tcpConnected(id, &info);
    }

    static bool IsExemptRuleFor(const fake::RecordedRule& recorded, uint32_t pid) {
        NF_RULE expected;
        std::memset(&expected, 0, sizeof expected);
        expected.processId = pid;
        return recorded.toHead == 1 && std::memcmp(&recorded.rule, &expected, sizeof expected) == 0;
    }
};

struct AdmissionCase {
    const char* what;
    uint8_t direction;
    std::optional<std::string> processName;  // nullopt: the library cannot report it
    bool filtered;
    bool exempted;
};

TEST_F(EngineAdmissionTest, DecidesFiltersByDirectionAndProgramName) {
    const AdmissionCase cases[] = {
        {"ordinary program", NF_D_OUT, "/usr/bin/curl", true, false},
        {"inbound connection", NF_D_IN, "/usr/bin/curl", false, false},
        {"exempt program", NF_D_OUT, "/usr/bin/filezilla", false, true},
        {"capitals in the file name", NF_D_OUT, "/opt/bin/FileZilla", false, true},
        {"capitals in the folder", NF_D_OUT, "/opt/GARDALIX/bin/helper", false, true},
        {"name inside a longer folder name", NF_D_OUT, "/tmp/my-keldoran-copy/curl", false, true},
        {"last exempt name", NF_D_OUT, "/usr/lib/kd/kd_scanint", false, true},
        {"a name that is only close", NF_D_OUT, "/usr/bin/gardali", true, false},
        // Left alone, a program that cannot be named would get past the lists; filtered, its
        // requests still pass unless listed.
        {"name lookup fails", NF_D_OUT, std::nullopt, true, false},
    };
    uint32_t pid = 100;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fake::Reset();
        ++pid;
        if (c.processName)
            fake::SetProcessName(pid, *c.processName);
        size_t processesBefore = ExemptProcessCount();

        Connect(pid * 10, pid, c.direction);

        auto filters = fake::Filters();
        if (c.filtered) {
            ASSERT_EQ(filters.size(), 3u);
            const std::pair<PF_FilterType, uint32_t> expected[] = {
                {FT_PROXY, 0}, {FT_SSL, 512}, {FT_HTTP, 1}};
            for (size_t i = 0; i < 3; ++i) {
                EXPECT_EQ(filters[i].id, pid * 10);
                EXPECT_EQ(filters[i].type, expected[i].first);
                EXPECT_EQ(filters[i].flags, expected[i].second);
                EXPECT_EQ(filters[i].position, 3);
                EXPECT_EQ(filters[i].relativeTo, 0);
            }
        } else {
            EXPECT_TRUE(filters.empty());
        }
        EXPECT_EQ(IsExemptConnection(pid * 10), c.exempted);
        EXPECT_EQ(IsExemptProcess(pid), c.exempted);
        EXPECT_EQ(ExemptProcessCount(), processesBefore + (c.exempted ? 1 : 0));
        auto rules = fake::Rules();
        if (c.exempted) {
            ASSERT_EQ(rules.size(), 1u);
            EXPECT_TRUE(IsExemptRuleFor(rules[0], pid)) << "cleared record, pid, flag 0, at head";
        } else {
            EXPECT_TRUE(rules.empty());
        }
        if (c.direction != NF_D_OUT) {
            EXPECT_EQ(fake::CallCount("nf_getProcessNameA"), 0);
        }
    }
}

TEST_F(EngineAdmissionTest, NameIsAskedIntoA257ByteBuffer) {
    fake::SetProcessName(5, "/usr/bin/curl");
    Connect(1, 5);
    EXPECT_EQ(fake::NameBufferLength(), 257u);
}

TEST_F(EngineAdmissionTest, ExemptConnectionsAndProcessesAreRecognisedWithoutNameLookup) {
    fake::SetProcessName(42, "/usr/bin/curl");  // would be filtered if its name were checked
    AddExemptConnection(7);
    Connect(7, 42);
    EXPECT_TRUE(fake::Filters().empty());

    // A process that receives the id of an exempted process that has ended is exempt too.
    AddExemptProcess(42);
    fake::Reset();
    fake::SetProcessName(42, "/usr/bin/curl");
    Connect(8, 42);
    EXPECT_TRUE(fake::Filters().empty());
    EXPECT_EQ(fake::CallCount("nf_getProcessNameA"), 0);
    EXPECT_FALSE(IsExemptConnection(8)) << "only the first connection of a process is recorded";
}

TEST_F(EngineAdmissionTest, FullConnectionTableLeavesConnectionsUnfilteredButUnrecorded) {
    for (ENDPOINT_ID id = 1; id <= kExemptConnectionsMax; ++id) {
        ASSERT_TRUE(AddExemptConnection(id));
    }
    EXPECT_FALSE(AddExemptConnection(kExemptConnectionsMax + 1));
    EXPECT_EQ(ExemptConnectionCount(), kExemptConnectionsMax);
    EXPECT_TRUE(IsExemptConnection(kExemptConnectionsMax));
    EXPECT_FALSE(IsExemptConnection(kExemptConnectionsMax + 1));

    fake::SetProcessName(9, "/usr/bin/filezilla");
    Connect(1ull << 40, 9);
    EXPECT_TRUE(fake::Filters().empty());
    EXPECT_FALSE(IsExemptConnection(1ull << 40));
    EXPECT_TRUE(IsExemptProcess(9)) << "the process table still has room";
}

TEST_F(EngineAdmissionTest, FullProcessTableAddsNeitherEntryNorRule) {
    for (uint32_t pid = 1; pid <= kExemptProcessesMax; ++pid)
        ASSERT_TRUE(AddExemptProcess(pid));
    EXPECT_EQ(fake::Rules().size(), kExemptProcessesMax);
    fake::Reset();

    const uint32_t lastPid = kExemptProcessesMax + 1;
    fake::SetProcessName(lastPid, "/usr/bin/tervane");
    Connect(1, lastPid);
    Connect(2, lastPid);
    EXPECT_TRUE(fake::Filters().empty()) << "still exempt by name";
    EXPECT_TRUE(fake::Rules().empty());
    EXPECT_FALSE(IsExemptProcess(lastPid));
    EXPECT_EQ(ExemptProcessCount(), kExemptProcessesMax);
    EXPECT_EQ(fake::CallCount("nf_getProcessNameA"), 2) << "recognised again by name each time";
}

TEST_F(EngineAdmissionTest, ClearingEmptiesBothTables) {
    AddExemptConnection(3);
    AddExemptProcess(4);
    ClearExemptionTables();
    EXPECT_FALSE(IsExemptConnection(3));
    EXPECT_FALSE(IsExemptProcess(4));
    EXPECT_EQ(ExemptConnectionCount(), 0u);
    EXPECT_EQ(ExemptProcessCount(), 0u);
}

// Several threads append while others scan. No thread ever adds 0 and the slots start as zero,
// so a scan that read a slot counted before its value was stored would report 0 as present.
TEST_F(EngineAdmissionTest, ConcurrentAppendsAndScansSeeOnlyStoredEntries) {
    constexpr int kWriters = 4;
    constexpr ENDPOINT_ID kPerWriter = kExemptConnectionsMax / kWriters;
    std::atomic<bool> writing{true};
    std::atomic<int> phantomHits{0};
    std::atomic<int> ownEntriesMissed{0};

    std::vector<std::thread> readers;
    for (int r = 0; r < 2; ++r) {
        readers.emplace_back([&] {
            while (writing.load()) {
                if (IsExemptConnection(0))
                    phantomHits.fetch_add(1);
                if (IsExemptProcess(0))
                    phantomHits.fetch_add(1);
            }
        });
    }
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            for (ENDPOINT_ID i = 1; i <= kPerWriter; ++i) {
                ENDPOINT_ID id = (static_cast<ENDPOINT_ID>(w) << 32) | i;
                AddExemptConnection(id);
                if (!IsExemptConnection(id))
                    ownEntriesMissed.fetch_add(1);
                if (i <= kExemptProcessesMax / kWriters) {
                    uint32_t pid = static_cast<uint32_t>(w * 100000 + i);
                    AddExemptProcess(pid);
                    if (!IsExemptProcess(pid))
                        ownEntriesMissed.fetch_add(1);
                }
            }
        });
    }
    for (auto& t : writers)
        t.join();
    writing = false;
    for (auto& t : readers)
        t.join();

    EXPECT_EQ(phantomHits.load(), 0);
    EXPECT_EQ(ownEntriesMissed.load(), 0);
    EXPECT_EQ(ExemptConnectionCount(), kExemptConnectionsMax);
    EXPECT_EQ(ExemptProcessCount(), kExemptProcessesMax);
    EXPECT_EQ(fake::Rules().size(), kExemptProcessesMax);
    EXPECT_FALSE(AddExemptConnection(1ull << 50)) << "full";
}

}  // namespace
}  // namespace gx::test
