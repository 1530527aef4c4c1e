// Engine start and stop against the recording fake: the call sequence, the two base rules byte
// for byte, the callback table, and failures of either layer.
#include <array>
#include <cstring>

#include "engine/Admission.h"
#include "engine/RequestVerdict.h"
#include "tests/engine/FakeEngineFixture.h"

namespace gx::test {
namespace {

using Bytes = std::array<uint8_t, 83>;

Bytes BytesOf(const NF_RULE& rule) {
    Bytes bytes;
    std::memcpy(bytes.data(), &rule, bytes.size());
    return bytes;
}

// A record with every byte zero except the given (offset, byte) pairs.
Bytes RuleBytes(std::initializer_list<std::pair<int, uint8_t>> set) {
    Bytes bytes{};
    for (auto [offset, value] : set)
        bytes[offset] = value;
    return bytes;
}

const std::vector<std::string> kStartCalls = {
    "pfc_init",  "pfc_setRootSSLCertSubject", "pfc_getNFEventHandler",
    "nf_init",   "nf_setTCPTimeout",          "nf_addRule",
    "nf_addRule"};

class EngineStartStopTest : public EngineTest {};

TEST_F(EngineStartStopTest, StartsBothLayersThenAppendsLoopbackAndOutboundTcpRules) {
    ASSERT_TRUE(StartDriver());
    EXPECT_EQ(fake::Calls(), kStartCalls);
    EXPECT_EQ(fake::DataFolder(), L"c:\\netfilter2");
    EXPECT_EQ(fake::DriverName(), "gardalix");
    EXPECT_EQ(fake::RootCertSubject(), "Gardalix Root CA");

    auto rules = fake::Rules();
    ASSERT_EQ(rules.size(), 2u);
    // Loopback: family 2 at 13, remote 127.0.0.1 at 47, mask 255.0.0.0 at 63, flag 0.
    EXPECT_EQ(BytesOf(rules[0].rule),
              RuleBytes({{13, 2}, {47, 127}, {48, 0}, {49, 0}, {50, 1}, {63, 255}}));
    EXPECT_EQ(rules[0].toHead, 0);
    // Outbound TCP: protocol 6 at 0, direction 2 at 8, flag 2 at 79.
    EXPECT_EQ(BytesOf(rules[1].rule), RuleBytes({{0, 6}, {8, 2}, {79, 2}}));
    EXPECT_EQ(rules[1].toHead, 0);
    StopDriver();
}

TEST_F(EngineStartStopTest, CallbackTableHoldsTheEngineCallbacksAndForwarders) {
    ASSERT_TRUE(StartDriver());
    PFEvents* events = fake::InstalledEvents();
    ASSERT_NE(events, nullptr);
    EXPECT_EQ(events->tcpConnected, &tcpConnected);
    EXPECT_EQ(events->tcpClosed, &tcpClosed);
    EXPECT_EQ(events->dataAvailable, &dataAvailable);
    EXPECT_EQ(events->dataPartAvailable, &dataPartAvailable);

    // The empty slots hold callable functions that do nothing.
    NF_TCP_CONN_INFO info{};
    events->threadStart();
    events->threadEnd();
    events->tcpConnectRequest(1, &info);
    events->udpCreated(1, nullptr);
    events->udpConnectRequest(1, nullptr);
    events->udpClosed(1, nullptr);

    // Slots 10 to 15 forward to the connection layer and hand its status back unchanged.
    fake::Reset();
    char data[1] = {};
    EXPECT_EQ(events->tcpPostSend(1, data, 1), 10);
    EXPECT_EQ(events->tcpPostReceive(1, data, 1), 11);
    EXPECT_EQ(events->tcpSetConnectionState(1, 1), 12);
    EXPECT_EQ(events->udpPostSend(1, nullptr, data, 1, nullptr), 13);
    EXPECT_EQ(events->udpPostReceive(1, nullptr, data, 1, nullptr), 14);
    EXPECT_EQ(events->udpSetConnectionState(1, 0), 15);
    EXPECT_EQ(fake::Calls(),
              (std::vector<std::string>{"nf_tcpPostSend", "nf_tcpPostReceive",
                                        "nf_tcpSetConnectionState", "nf_udpPostSend",
                                        "nf_udpPostReceive", "nf_udpSetConnectionState"}));
}

TEST_F(EngineStartStopTest, ProtocolLayerFailingLeavesNothingStarted) {
    fake::SetPfcInitResult(0);
    EXPECT_FALSE(StartDriver());
    EXPECT_EQ(fake::Calls(), std::vector<std::string>{"pfc_init"});
}

TEST_F(EngineStartStopTest, ConnectionLayerFailingReleasesProtocolLayerOnceAndNextStartRepeatsAll) {
    fake::SetNfInitResult(NF_STATUS_FAIL);
    EXPECT_FALSE(StartDriver());
    EXPECT_EQ(fake::Calls(),
              (std::vector<std::string>{"pfc_init", "pfc_setRootSSLCertSubject",
                                        "pfc_getNFEventHandler", "nf_init", "pfc_free"}));
    EXPECT_TRUE(fake::Rules().empty());

    fake::Reset();
    ASSERT_TRUE(StartDriver());
    EXPECT_EQ(fake::Calls(), kStartCalls);
}

TEST_F(EngineStartStopTest, StopReleasesBothLayersWhateverTheirState) {
    StopDriver();  // never started
    ASSERT_TRUE(StartDriver());
    fake::Reset();
    StopDriver();
    StopDriver();
    EXPECT_EQ(fake::Calls(),
              (std::vector<std::string>{"nf_free", "pfc_free", "nf_free", "pfc_free"}));
}

TEST_F(EngineStartStopTest, RestartSetsOnlyTheBaseRulesAndKeepsExemptions) {
    ASSERT_TRUE(StartDriver());
    fake::SetProcessName(700, "/usr/bin/filezilla");
    NF_TCP_CONN_INFO info{};
    info.processId = 700;
    info.direction = NF_D_OUT;
    tcpConnected(1, &info);
    ASSERT_EQ(fake::Rules().size(), 3u);

    StopDriver();
    fake::Reset();
    ASSERT_TRUE(StartDriver());
    EXPECT_EQ(fake::Rules().size(), 2u) << "the exemption rule is not added again";

    // The process is still known: no name lookup, no filters.
    tcpConnected(2, &info);
    EXPECT_EQ(fake::CallCount("nf_getProcessNameA"), 0);
    EXPECT_TRUE(fake::Filters().empty());
    StopDriver();
}

}  // namespace
}  // namespace gx::test
