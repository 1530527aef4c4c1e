// Engine start and stop: both interception layers, the callback table and the two base rules.
#include "engine/GX_Main.h"

#include <arpa/inet.h>

#include <cstring>

#include "engine/Admission.h"
#include "engine/ConnectionPrograms.h"
#include "engine/EngineEvents.h"
#include "engine/RequestVerdict.h"

namespace gx {

namespace {

// The layer maps this Windows folder to a data folder of its own on other systems.
constexpr wchar_t kDataFolder[] = L"c:\\netfilter2";
constexpr char kDriverName[] = "gardalix";

void OnThreadStart() {}
void OnThreadEnd() {}
void OnTcpConnectRequest(ENDPOINT_ID, PNF_TCP_CONN_INFO) {}
void OnUdpCreated(ENDPOINT_ID, PNF_UDP_CONN_INFO) {}
void OnUdpConnectRequest(ENDPOINT_ID, PNF_UDP_CONN_REQUEST) {}
void OnUdpClosed(ENDPOINT_ID, PNF_UDP_CONN_INFO) {}

// Writes a dotted IPv4 address into the first four bytes of a rule address, in network order.
void SetIPv4(uint8_t (&field)[16], const char* dotted) {
    in_addr address{};
    inet_pton(AF_INET, dotted, &address);
    std::memcpy(field, &address.s_addr, 4);
}

// Traffic to any 127.x.x.x address passes unfiltered, whatever its protocol, direction and process.
NF_RULE LoopbackRule() {
    NF_RULE rule;
    std::memset(&rule, 0, sizeof rule);
    rule.ip_family = NF_AF_INET;
    SetIPv4(rule.remoteIpAddress, "127.0.0.1");
    SetIPv4(rule.remoteIpAddressMask, "255.0.0.0");
    rule.filteringFlag = NF_ALLOW;
    return rule;
}

// Every other outbound TCP connection goes to the engine.
NF_RULE OutboundTcpRule() {
    NF_RULE rule;
    std::memset(&rule, 0, sizeof rule);
    rule.protocol = NF_IPPROTO_TCP;
    rule.direction = NF_D_OUT;
    rule.filteringFlag = NF_FILTER;
    return rule;
}

}  // namespace

// Filled when the program is loaded and never written again: a start while the layers' threads
// still run (the console may start twice) must not rewrite slots that those threads read.
PFEvents EngineEvents = {
    .threadStart = OnThreadStart,
    .threadEnd = OnThreadEnd,
    .tcpConnectRequest = OnTcpConnectRequest,
    .tcpConnected = tcpConnected,
    .tcpClosed = tcpClosed,
    .udpCreated = OnUdpCreated,
    .udpConnectRequest = OnUdpConnectRequest,
    .udpClosed = OnUdpClosed,
    .dataAvailable = dataAvailable,
    .dataPartAvailable = dataPartAvailable,
    .tcpPostSend = nf_tcpPostSend,
    .tcpPostReceive = nf_tcpPostReceive,
    .tcpSetConnectionState = nf_tcpSetConnectionState,
    .udpPostSend = nf_udpPostSend,
    .udpPostReceive = nf_udpPostReceive,
    .udpSetConnectionState = nf_udpSetConnectionState,
};

// The C++ runtime's allocator is always thread-safe, so nothing needs switching on before the
// callbacks start allocating on the layers' threads.
bool StartDriver() {
    if (pfc_init(&EngineEvents, kDataFolder) == 0)
        return false;
    pfc_setRootSSLCertSubject(kRootCertSubject);
    if (nf_init(kDriverName, pfc_getNFEventHandler()) != NF_STATUS_SUCCESS) {
        pfc_free();
        return false;
    }
    nf_setTCPTimeout(0);
    NF_RULE loopback = LoopbackRule();
    nf_addRule(&loopback, 0);
    NF_RULE outboundTcp = OutboundTcpRule();
    nf_addRule(&outboundTcp, 0);
    return true;
}

void StopDriver() {
    nf_free();
    pfc_free();
    ForgetAllConnectionPrograms();
}

}  // namespace gx
