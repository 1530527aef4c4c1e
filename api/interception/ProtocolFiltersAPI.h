// Protocol-level filtering interface, as the engine imports it.
//
// The protocol layer sits on the connection-level interface (NetFilter2API.h) and hands the
// program whole protocol objects: an object has a type and numbered streams; an HTTP request
// carries its request line (stream 0), its header block (stream 1) and its body (stream 2).
#pragma once

#include <cstdint>
#include <cwchar>

#include "api/interception/NetFilter2API.h"

extern "C" {

typedef struct PFObject PFObject;
typedef struct PFStream PFStream;
typedef struct PFHeader PFHeader;
typedef struct PFHeaderField PFHeaderField;

enum PF_ObjectType : int32_t {
    OT_NULL = 0,
    OT_HTTP_REQUEST = 200,
    OT_HTTP_RESPONSE = 201,
};

enum PF_HttpStream : int32_t { HS_STATUS = 0, HS_HEADER = 1, HS_CONTENT = 2 };

enum PF_FilterType : int32_t { FT_NONE = 0, FT_SSL = 100, FT_HTTP = 200, FT_PROXY = 500 };

enum : uint32_t { FF_DEFAULT = 0, FF_READ_ONLY_IN = 1, FF_SSL_VERIFY = 512 };

// Results of the object-part callback.
enum PF_DATA_PART_CHECK_RESULT : int32_t {
    DPCR_FILTER = 0,  // collect the whole object and hand it to the object callback
    DPCR_BYPASS = 1,  // the request passed: send it on, stream its body after it
    DPCR_UPDATE_AND_BYPASS = 2,
    DPCR_FILTER_READ_ONLY = 3,  // not an object the program inspects
    DPCR_BLOCK = 4,             // the program answered: discard the request and its body
};

// The 16-slot event table, in slot order.
typedef struct PFEvents {
    void (*threadStart)(void);                                                         // 0
    void (*threadEnd)(void);                                                           // 1
    void (*tcpConnectRequest)(ENDPOINT_ID id, PNF_TCP_CONN_INFO info);                 // 2
    void (*tcpConnected)(ENDPOINT_ID id, PNF_TCP_CONN_INFO info);                      // 3
    void (*tcpClosed)(ENDPOINT_ID id, PNF_TCP_CONN_INFO info);                         // 4
    void (*udpCreated)(ENDPOINT_ID id, PNF_UDP_CONN_INFO info);                        // 5
    void (*udpConnectRequest)(ENDPOINT_ID id, PNF_UDP_CONN_REQUEST req);               // 6
    void (*udpClosed)(ENDPOINT_ID id, PNF_UDP_CONN_INFO info);                         // 7
    void (*dataAvailable)(ENDPOINT_ID id, PFObject* object);                           // 8
    PF_DATA_PART_CHECK_RESULT (*dataPartAvailable)(ENDPOINT_ID id, PFObject* object);  // 9
    NF_STATUS (*tcpPostSend)(ENDPOINT_ID id, const char* buf, int len);                // 10
    NF_STATUS (*tcpPostReceive)(ENDPOINT_ID id, const char* buf, int len);             // 11
    NF_STATUS (*tcpSetConnectionState)(ENDPOINT_ID id, int suspended);                 // 12
    NF_STATUS(*udpPostSend)
    (ENDPOINT_ID id, const unsigned char* remoteAddress, const char* buf, int len,
     PNF_UDP_OPTIONS options);  // 13
    NF_STATUS(*udpPostReceive)
    (ENDPOINT_ID id, const unsigned char* remoteAddress, const char* buf, int len,
     PNF_UDP_OPTIONS options);                                          // 14
    NF_STATUS (*udpSetConnectionState)(ENDPOINT_ID id, int suspended);  // 15
} PFEvents;

static_assert(sizeof(PFEvents) == 16 * sizeof(void*), "the event table has 16 slots");

// Starts the protocol layer with the event table and its data folder. Non-zero = started.
int pfc_init(PFEvents* events, const wchar_t* dataFolder);
// Releases the protocol layer; harmless when it was not started.
void pfc_free(void);
int pfc_setRootSSLCertSubject(const char* subject);
// The connection-level handler to give to nf_init.
NF_EventHandler* pfc_getNFEventHandler(void);
// Attaches a filter to a connection; called from the TCP-connected callback.
int pfc_addFilter(ENDPOINT_ID id, PF_FilterType type, uint32_t flags, int32_t position,
                  PF_FilterType relativeTo);
// Sends an object on along its connection: a request to the server, a response to the client.
int pfc_postObject(ENDPOINT_ID id, PFObject* object);
// Parses the "Name: value" lines of a stream into a header. Non-zero = parsed.
int pfc_readHeader(PFStream* stream, PFHeader* header);
// Writes a header's fields into a stream as "Name: value" lines ending in an empty line.
int pfc_writeHeader(PFStream* stream, PFHeader* header);

PFObject* PFObject_create(PF_ObjectType type, int streamCount);
void PFObject_free(PFObject* object);
PF_ObjectType PFObject_getType(PFObject* object);
int PFObject_isReadOnly(PFObject* object);
int PFObject_getStreamCount(PFObject* object);
PFStream* PFObject_getStream(PFObject* object, int index);

PFHeader* PFHeader_create(void);
void PFHeader_free(PFHeader* header);
// Appends a field (index -1) or inserts it before the given position.
PFHeaderField* PFHeader_addField(PFHeader* header, const char* name, const char* value, int index);
// First field of that name, compared without regard to letter case; null when absent.
PFHeaderField* PFHeader_findFirstField(PFHeader* header, const char* name);
const char* PFHeaderField_getValue(PFHeaderField* field);

// origin 0 = from the start. Returns the new position.
uint64_t PFStream_seek(PFStream* stream, int64_t offset, int origin);
uint32_t PFStream_read(PFStream* stream, void* buffer, uint32_t length);
uint32_t PFStream_write(PFStream* stream, const void* buffer, uint32_t length);
uint64_t PFStream_size(PFStream* stream);
// Empties the stream: it then holds only what is written next.
int PFStream_reset(PFStream* stream);

}  // extern "C"
