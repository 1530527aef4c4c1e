#include "support/InterceptionFake.h"

#include "platform/interception/ProtocolObjects.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>

namespace gx::fake {
namespace {

struct State {
    std::mutex mutex;
    std::vector<std::string> calls;
    std::vector<RecordedRule> rules;
    std::vector<RecordedFilter> filters;
    std::vector<PostedObject> posted;
    std::map<uint32_t, std::string> processNames;
    std::map<ENDPOINT_ID, uint32_t> accounts;
    std::set<PFObject*> liveObjects;
    int badFrees = 0;
    int pfcInitResult = 1;
    NF_STATUS nfInitResult = NF_STATUS_SUCCESS;
    bool readHeaderFails = false;
    bool readHeaderThrows = false;
    PFEvents* events = nullptr;
    std::wstring dataFolder;
    std::string driverName;
    std::string rootCertSubject;
    uint32_t nameBufferLength = 0;
};

State& TheState() {
    static State state;
    return state;
}

void Record(const char* call) {
    State& s = TheState();
    std::lock_guard lock(s.mutex);
    s.calls.emplace_back(call);
}

NF_EventHandler* TheHandler() {
    static char handler;
    return reinterpret_cast<NF_EventHandler*>(&handler);
}

// Counts the objects alive and the frees of objects that are not, and makes header parsing fail
// on demand.
class Observer : public gx::interception::ObjectObserver {
  public:
    void Created(PFObject* object) override {
        std::lock_guard lock(TheState().mutex);
        TheState().liveObjects.insert(object);
    }
    bool Freeing(PFObject* object) override {
        std::lock_guard lock(TheState().mutex);
        if (TheState().liveObjects.erase(object) == 0) {
            ++TheState().badFrees;
            return false;
        }
        return true;
    }
    bool HeaderReadable() override {
        std::lock_guard lock(TheState().mutex);
        if (TheState().readHeaderThrows) {
            throw std::bad_alloc();
        }
        return !TheState().readHeaderFails;
    }
};

// Installed before any test creates an object.
const bool kObserverInstalled = [] {
    static Observer observer;
    gx::interception::SetObjectObserver(&observer);
    return true;
}();

}  // namespace

void Reset() {
    State& s = TheState();
    std::lock_guard lock(s.mutex);
    s.calls.clear();
    s.rules.clear();
    s.filters.clear();
    s.posted.clear();
    s.processNames.clear();
    s.accounts.clear();
    s.badFrees = 0;
    s.pfcInitResult = 1;
    s.nfInitResult = NF_STATUS_SUCCESS;
    s.readHeaderFails = false;
    s.readHeaderThrows = false;
    s.events = nullptr;
    s.dataFolder.clear();
    s.driverName.clear();
    s.rootCertSubject.clear();
    s.nameBufferLength = 0;
}

void SetPfcInitResult(int result) {
    std::lock_guard lock(TheState().mutex);
    TheState().pfcInitResult = result;
}

void SetNfInitResult(NF_STATUS result) {
    std::lock_guard lock(TheState().mutex);
    TheState().nfInitResult = result;
}

void SetReadHeaderFails(bool fails) {
    std::lock_guard lock(TheState().mutex);
    TheState().readHeaderFails = fails;
}

void SetReadHeaderThrows(bool throws) {
    std::lock_guard lock(TheState().mutex);
    TheState().readHeaderThrows = throws;
}

void SetProcessName(uint32_t pid, const std::string& name) {
    std::lock_guard lock(TheState().mutex);
    TheState().processNames[pid] = name;
}

void SetConnectionAccount(ENDPOINT_ID id, uint32_t account) {
    std::lock_guard lock(TheState().mutex);
    TheState().accounts[id] = account;
}

std::vector<std::string> Calls() {
    std::lock_guard lock(TheState().mutex);
    return TheState().calls;
}

int CallCount(const std::string& name) {
    std::lock_guard lock(TheState().mutex);
    const auto& calls = TheState().calls;
    return static_cast<int>(std::count(calls.begin(), calls.end(), name));
}

std::vector<RecordedRule> Rules() {
    std::lock_guard lock(TheState().mutex);
    return TheState().rules;
}

std::vector<RecordedFilter> Filters() {
    std::lock_guard lock(TheState().mutex);
    return TheState().filters;
}

std::vector<PostedObject> Posted() {
    std::lock_guard lock(TheState().mutex);
    return TheState().posted;
}

PFEvents* InstalledEvents() {
    std::lock_guard lock(TheState().mutex);
    return TheState().events;
}

std::wstring DataFolder() {
    std::lock_guard lock(TheState().mutex);
    return TheState().dataFolder;
}

std::string DriverName() {
    std::lock_guard lock(TheState().mutex);
    return TheState().driverName;
}

std::string RootCertSubject() {
    std::lock_guard lock(TheState().mutex);
    return TheState().rootCertSubject;
}

uint32_t NameBufferLength() {
    std::lock_guard lock(TheState().mutex);
    return TheState().nameBufferLength;
}

PFObject* MakeObject(PF_ObjectType type, const std::vector<std::string>& streams, bool readOnly) {
    PFObject* object = PFObject_create(type, static_cast<int>(streams.size()));
    object->readOnly = readOnly;
    for (size_t i = 0; i < streams.size(); ++i)
        object->streams[i].data = streams[i];
    return object;
}

PFObject* MakeRequest(const std::string& firstLine, const std::string& headerBlock,
                      const std::string& body) {
    return MakeObject(OT_HTTP_REQUEST, {firstLine, headerBlock, body});
}

int LiveObjects() {
    std::lock_guard lock(TheState().mutex);
    return static_cast<int>(TheState().liveObjects.size());
}

int BadFrees() {
    std::lock_guard lock(TheState().mutex);
    return TheState().badFrees;
}

}  // namespace gx::fake

using gx::fake::Record;
using gx::fake::TheState;

extern "C" {

NF_STATUS nf_init(const char* driverName, NF_EventHandler* handler) {
    Record("nf_init");
    auto& s = TheState();
    std::lock_guard lock(s.mutex);
    s.driverName = driverName ? driverName : "";
    if (handler != gx::fake::TheHandler())
        return NF_STATUS_FAIL;
    return s.nfInitResult;
}

void nf_free(void) {
    Record("nf_free");
}

void nf_setTCPTimeout(uint32_t timeout) {
    Record("nf_setTCPTimeout");
}

NF_STATUS nf_addRule(PNF_RULE rule, int toHead) {
    Record("nf_addRule");
    auto& s = TheState();
    std::lock_guard lock(s.mutex);
    s.rules.push_back({*rule, toHead});
    return NF_STATUS_SUCCESS;
}

NF_STATUS nf_getConnectionAccount(ENDPOINT_ID id, uint32_t* account) {
    Record("nf_getConnectionAccount");
    auto& s = TheState();
    std::lock_guard lock(s.mutex);
    auto found = s.accounts.find(id);
    if (found == s.accounts.end())
        return NF_STATUS_FAIL;
    *account = found->second;
    return NF_STATUS_SUCCESS;
}

int nf_getProcessNameA(uint32_t processId, char* buf, uint32_t len) {
    Record("nf_getProcessNameA");
    auto& s = TheState();
    std::lock_guard lock(s.mutex);
    s.nameBufferLength = len;
    auto found = s.processNames.find(processId);
    if (found == s.processNames.end() || found->second.size() + 1 > len)
        return 0;
    std::memcpy(buf, found->second.c_str(), found->second.size() + 1);
    return 1;
}

NF_STATUS nf_tcpPostSend(ENDPOINT_ID id, const char* buf, int len) {
    Record("nf_tcpPostSend");
    return 10;
}
NF_STATUS nf_tcpPostReceive(ENDPOINT_ID id, const char* buf, int len) {
    Record("nf_tcpPostReceive");
    return 11;
}
NF_STATUS nf_tcpSetConnectionState(ENDPOINT_ID id, int suspended) {
    Record("nf_tcpSetConnectionState");
    return 12;
}
NF_STATUS nf_udpPostSend(ENDPOINT_ID id, const unsigned char* remoteAddress, const char* buf,
                         int len, PNF_UDP_OPTIONS options) {
    Record("nf_udpPostSend");
    return 13;
}
NF_STATUS nf_udpPostReceive(ENDPOINT_ID id, const unsigned char* remoteAddress, const char* buf,
                            int len, PNF_UDP_OPTIONS options) {
    Record("nf_udpPostReceive");
    return 14;
}
NF_STATUS nf_udpSetConnectionState(ENDPOINT_ID id, int suspended) {
    Record("nf_udpSetConnectionState");
    return 15;
}

int pfc_init(PFEvents* events, const wchar_t* dataFolder) {
    Record("pfc_init");
    auto& s = TheState();
    std::lock_guard lock(s.mutex);
    s.events = events;
    s.dataFolder = dataFolder ? dataFolder : L"";
    return s.pfcInitResult;
}

void pfc_free(void) {
    Record("pfc_free");
}

int pfc_setRootSSLCertSubject(const char* subject) {
    Record("pfc_setRootSSLCertSubject");
    std::lock_guard lock(TheState().mutex);
    TheState().rootCertSubject = subject ? subject : "";
    return 1;
}

NF_EventHandler* pfc_getNFEventHandler(void) {
    Record("pfc_getNFEventHandler");
    return gx::fake::TheHandler();
}

int pfc_addFilter(ENDPOINT_ID id, PF_FilterType type, uint32_t flags, int32_t position,
                  PF_FilterType relativeTo) {
    Record("pfc_addFilter");
    std::lock_guard lock(TheState().mutex);
    TheState().filters.push_back({id, type, flags, position, relativeTo});
    return 1;
}

int pfc_postObject(ENDPOINT_ID id, PFObject* object) {
    Record("pfc_postObject");
    gx::fake::PostedObject posted{id, object->type, {}};
    for (const auto& stream : object->streams)
        posted.streams.push_back(stream.data);
    std::lock_guard lock(TheState().mutex);
    TheState().posted.push_back(std::move(posted));
    return 1;
}

}  // extern "C"
