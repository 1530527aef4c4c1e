// A recording stand-in for the interception library, linked in its place in the engine's unit
// tests. It implements every function of NetFilter2API.h and ProtocolFiltersAPI.h: calls are
// recorded in order, results can be set beforehand, and protocol objects, streams and headers
// live in memory. Thread-safe: the engine calls it from several threads at once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "api/interception/NetFilter2API.h"
#include "api/interception/ProtocolFiltersAPI.h"

namespace gx::fake {

struct RecordedRule {
    NF_RULE rule;
    int toHead;
};

struct RecordedFilter {
    ENDPOINT_ID id;
    PF_FilterType type;
    uint32_t flags;
    int32_t position;
    PF_FilterType relativeTo;
};

// A posted object as it was at the moment of the post: its type and the bytes of each stream.
struct PostedObject {
    ENDPOINT_ID id;
    PF_ObjectType type;
    std::vector<std::string> streams;
};

// Forgets every record and restores the default results (everything succeeds, no process name
// known). Objects still alive are kept and still counted.
void Reset();

// Results of the next calls.
void SetPfcInitResult(int result);
void SetNfInitResult(NF_STATUS result);
void SetReadHeaderFails(bool fails);
// pfc_readHeader raises std::bad_alloc, as an allocation that fails would.
void SetReadHeaderThrows(bool throws);
// The name that nf_getProcessNameA reports for a process; unknown processes make it fail.
void SetProcessName(uint32_t pid, const std::string& name);
// The account nf_getConnectionAccount gives for a connection (none: unknown).
void SetConnectionAccount(ENDPOINT_ID id, uint32_t account);

// The C functions called, by name, in call order ("nf_init", "pfc_free", ...). Object, stream
// and header functions are not listed.
std::vector<std::string> Calls();
int CallCount(const std::string& name);
std::vector<RecordedRule> Rules();
std::vector<RecordedFilter> Filters();
std::vector<PostedObject> Posted();
// The arguments of the last start.
PFEvents* InstalledEvents();
std::wstring DataFolder();
std::string DriverName();
std::string RootCertSubject();
uint32_t NameBufferLength();  // length argument of the last nf_getProcessNameA

// A request object as the HTTP filter hands it in: stream 0 the request line (as given, the
// caller adds CR LF), stream 1 the header block, stream 2 the body.
PFObject* MakeObject(PF_ObjectType type, const std::vector<std::string>& streams,
                     bool readOnly = false);
PFObject* MakeRequest(const std::string& firstLine, const std::string& headerBlock,
                      const std::string& body = "");

// Objects created and not yet freed; PFObject_free of an object that is not alive is counted as
// a bad free.
int LiveObjects();
int BadFrees();

}  // namespace gx::fake
