// Connection-level interception interface, as the engine imports it.
//
// The interception library (platform/interception) implements these functions; the engine's unit
// tests link a recording fake in its place (tests/support/). Every function uses the C calling
// convention and every per-connection call carries the 64-bit connection identifier.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

typedef uint64_t ENDPOINT_ID;
typedef int NF_STATUS;  // 0 = success

enum : NF_STATUS { NF_STATUS_SUCCESS = 0, NF_STATUS_FAIL = -1, NF_STATUS_INVALID_ENDPOINT_ID = -2 };

enum : int32_t { NF_IPPROTO_TCP = 6 };
enum : uint8_t { NF_D_IN = 1, NF_D_OUT = 2 };
enum : uint16_t { NF_AF_INET = 2 };
enum : uint32_t { NF_ALLOW = 0, NF_FILTER = 2 };  // filtering flag of a rule

#pragma pack(push, 1)
// A rule: every field left zero does not restrict it. 83 bytes, little-endian.
typedef struct NF_RULE {
    int32_t protocol;  // 6 = TCP
    uint32_t processId;
    uint8_t direction;    // 2 = outbound
    uint16_t localPort;   // network byte order
    uint16_t remotePort;  // network byte order
    uint16_t ip_family;   // 2 = IPv4
    uint8_t localIpAddress[16];
    uint8_t localIpAddressMask[16];
    uint8_t remoteIpAddress[16];      // IPv4 in the first 4 bytes, network order
    uint8_t remoteIpAddressMask[16];  // same form
    uint32_t filteringFlag;           // 0 = pass unfiltered, 2 = filter
} NF_RULE, *PNF_RULE;

// Connection information handed to the TCP callbacks. The engine reads processId (offset 4) and
// direction (offset 8).
typedef struct NF_TCP_CONN_INFO {
    uint32_t filteringFlag;
    uint32_t processId;
    uint8_t direction;
    uint16_t ip_family;
    uint8_t localAddress[28];   // a sockaddr_in or sockaddr_in6
    uint8_t remoteAddress[28];  // for transparent connections, the original destination
} NF_TCP_CONN_INFO, *PNF_TCP_CONN_INFO;

typedef struct NF_UDP_CONN_INFO {
    uint32_t processId;
    uint16_t ip_family;
    uint8_t localAddress[28];
} NF_UDP_CONN_INFO, *PNF_UDP_CONN_INFO;

typedef struct NF_UDP_CONN_REQUEST {
    uint32_t filteringFlag;
    uint32_t processId;
    uint16_t ip_family;
    uint8_t localAddress[28];
    uint8_t remoteAddress[28];
} NF_UDP_CONN_REQUEST, *PNF_UDP_CONN_REQUEST;

typedef struct NF_UDP_OPTIONS {
    uint32_t flags;
    int32_t optionsLength;
    uint8_t options[1];
} NF_UDP_OPTIONS, *PNF_UDP_OPTIONS;
#pragma pack(pop)

static_assert(sizeof(NF_RULE) == 83, "the rule record is 83 packed bytes");
static_assert(offsetof(NF_RULE, remoteIpAddress) == 47, "remote address at offset 47");
static_assert(offsetof(NF_RULE, filteringFlag) == 79, "filtering flag at offset 79");
static_assert(offsetof(NF_TCP_CONN_INFO, processId) == 4, "process id at offset 4");
static_assert(offsetof(NF_TCP_CONN_INFO, direction) == 8, "direction at offset 8");

// The connection-level event handler that the protocol layer gives to nf_init. Opaque here.
typedef struct NF_EventHandler NF_EventHandler;

// Starts interception under the given driver name, reporting to the handler. 0 = started.
NF_STATUS nf_init(const char* driverName, NF_EventHandler* handler);
// Ends interception; harmless when it was not started.
void nf_free(void);
void nf_setTCPTimeout(uint32_t timeout);
// Adds a rule: toHead 0 appends it, 1 inserts it at the head of the list.
NF_STATUS nf_addRule(PNF_RULE rule, int toHead);
// Writes the NUL-terminated name of the process into buf; non-zero on success.
int nf_getProcessNameA(uint32_t processId, char* buf, uint32_t len);
// Gardalix's own addition: the account (uid) that owns the program's end of a connection, as
// the kernel knows it (also when the process itself cannot be seen). NF_STATUS_FAIL when it is
// not known, NF_STATUS_INVALID_ENDPOINT_ID for a connection that is not open.
NF_STATUS nf_getConnectionAccount(ENDPOINT_ID id, uint32_t* account);

NF_STATUS nf_tcpPostSend(ENDPOINT_ID id, const char* buf, int len);
NF_STATUS nf_tcpPostReceive(ENDPOINT_ID id, const char* buf, int len);
NF_STATUS nf_tcpSetConnectionState(ENDPOINT_ID id, int suspended);
NF_STATUS nf_udpPostSend(ENDPOINT_ID id, const unsigned char* remoteAddress, const char* buf,
                         int len, PNF_UDP_OPTIONS options);
NF_STATUS nf_udpPostReceive(ENDPOINT_ID id, const unsigned char* remoteAddress, const char* buf,
                            int len, PNF_UDP_OPTIONS options);
NF_STATUS nf_udpSetConnectionState(ENDPOINT_ID id, int suspended);

}  // extern "C"
