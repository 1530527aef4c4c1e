#include "support/InterceptionFake.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>

struct PFStream {
    std::string data;
    size_t position = 0;
};

struct PFObject {
    PF_ObjectType type = OT_NULL;
    bool readOnly = false;
    std::vector<std::unique_ptr<PFStream>> streams;
};

struct PFHeaderField {
    std::string name;
    std::string value;
};

struct PFHeader {
    std::deque<PFHeaderField> fields;  // stable addresses for the field handles
};

namespace gx::fake {
namespace {

struct State {
    std::mutex mutex;
    std::vector<std::string> calls;
    std::vector<RecordedRule> rules;
    std::vector<RecordedFilter> filters;
    std::vector<PostedObject> posted;
    std::map<uint32_t, std::string> processNames;
    std::set<PFObject*> liveObjects;
    int badFrees = 0;
    int pfcInitResult = 1;
    NF_STATUS nfInitResult = NF_STATUS_SUCCESS;
    bool readHeaderFails = false;
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

std::string_view TrimSpaces(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// "Name: value" lines ending in CR LF (or LF); parsing stops at the empty line. False when a
// line has no colon.
bool ParseHeaderBlock(std::string_view block, PFHeader& header) {
    while (!block.empty()) {
        size_t end = block.find('\n');
        std::string_view line = block.substr(0, end);
        block = end == std::string_view::npos ? std::string_view() : block.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty())
            break;
        size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            return false;
        header.fields.push_back({std::string(TrimSpaces(line.substr(0, colon))),
                                 std::string(TrimSpaces(line.substr(colon + 1)))});
    }
    return true;
}

bool SameNameNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

void Reset() {
    State& s = TheState();
    std::lock_guard lock(s.mutex);
    s.calls.clear();
    s.rules.clear();
    s.filters.clear();
    s.posted.clear();
    s.processNames.clear();
    s.badFrees = 0;
    s.pfcInitResult = 1;
    s.nfInitResult = NF_STATUS_SUCCESS;
    s.readHeaderFails = false;
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

void SetProcessName(uint32_t pid, const std::string& name) {
    std::lock_guard lock(TheState().mutex);
    TheState().processNames[pid] = name;
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
        object->streams[i]->data = streams[i];
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
        posted.streams.push_back(stream->data);
    std::lock_guard lock(TheState().mutex);
    TheState().posted.push_back(std::move(posted));
    return 1;
}

int pfc_readHeader(PFStream* stream, PFHeader* header) {
    {
        std::lock_guard lock(TheState().mutex);
        if (TheState().readHeaderFails)
            return 0;
    }
    if (!stream || !header)
        return 0;
    return gx::fake::ParseHeaderBlock(stream->data, *header) ? 1 : 0;
}

int pfc_writeHeader(PFStream* stream, PFHeader* header) {
    if (!stream || !header)
        return 0;
    std::string block;
    for (const auto& field : header->fields)
        block += field.name + ": " + field.value + "\r\n";
    block += "\r\n";
    stream->data = block;
    stream->position = block.size();
    return 1;
}

PFObject* PFObject_create(PF_ObjectType type, int streamCount) {
    auto* object = new PFObject;
    object->type = type;
    for (int i = 0; i < streamCount; ++i)
        object->streams.push_back(std::make_unique<PFStream>());
    std::lock_guard lock(TheState().mutex);
    TheState().liveObjects.insert(object);
    return object;
}

void PFObject_free(PFObject* object) {
    {
        std::lock_guard lock(TheState().mutex);
        if (TheState().liveObjects.erase(object) == 0) {
            ++TheState().badFrees;
            return;
        }
    }
    delete object;
}

PF_ObjectType PFObject_getType(PFObject* object) {
    return object->type;
}
int PFObject_isReadOnly(PFObject* object) {
    return object->readOnly ? 1 : 0;
}
int PFObject_getStreamCount(PFObject* object) {
    return static_cast<int>(object->streams.size());
}

PFStream* PFObject_getStream(PFObject* object, int index) {
    if (index < 0 || index >= static_cast<int>(object->streams.size()))
        return nullptr;
    return object->streams[index].get();
}

PFHeader* PFHeader_create(void) {
    return new PFHeader;
}
void PFHeader_free(PFHeader* header) {
    delete header;
}

PFHeaderField* PFHeader_addField(PFHeader* header, const char* name, const char* value, int index) {
    if (index < 0 || index >= static_cast<int>(header->fields.size())) {
        header->fields.push_back({name, value});
        return &header->fields.back();
    }
    return &*header->fields.insert(header->fields.begin() + index, PFHeaderField{name, value});
}

PFHeaderField* PFHeader_findFirstField(PFHeader* header, const char* name) {
    for (auto& field : header->fields) {
        if (gx::fake::SameNameNoCase(field.name, name))
            return &field;
    }
    return nullptr;
}

const char* PFHeaderField_getValue(PFHeaderField* field) {
    return field->value.c_str();
}

uint64_t PFStream_seek(PFStream* stream, int64_t offset, int origin) {
    int64_t base = origin == 0   ? 0
                   : origin == 1 ? static_cast<int64_t>(stream->position)
                                 : static_cast<int64_t>(stream->data.size());
    stream->position = static_cast<size_t>(
        std::clamp<int64_t>(base + offset, 0, static_cast<int64_t>(stream->data.size())));
    return stream->position;
}

uint32_t PFStream_read(PFStream* stream, void* buffer, uint32_t length) {
    size_t available = stream->data.size() - stream->position;
    size_t count = std::min<size_t>(length, available);
    std::memcpy(buffer, stream->data.data() + stream->position, count);
    stream->position += count;
    return static_cast<uint32_t>(count);
}

uint32_t PFStream_write(PFStream* stream, const void* buffer, uint32_t length) {
    if (stream->position + length > stream->data.size()) {
        stream->data.resize(stream->position + length);
    }
    std::memcpy(stream->data.data() + stream->position, buffer, length);
    stream->position += length;
    return length;
}

uint64_t PFStream_size(PFStream* stream) {
    return stream->data.size();
}

int PFStream_reset(PFStream* stream) {
    stream->data.clear();
    stream->position = 0;
    return 1;
}

}  // extern "C"
