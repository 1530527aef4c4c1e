#include "platform/interception/ProtocolObjects.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform/interception/HttpText.h"

namespace gx::interception {

PFObject* NewRequestObject(std::string_view lineWithCrLf, std::string_view headerBlock,
                           std::string_view body) {
    PFObject* object = PFObject_create(OT_HTTP_REQUEST, 3);
    object->streams[HS_STATUS].data.assign(lineWithCrLf);
    object->streams[HS_HEADER].data.assign(headerBlock);
    object->streams[HS_CONTENT].data.assign(body);
    return object;
}

std::string SerializeHttpObject(const PFObject& object) {
    std::string wire;
    if (object.streams.size() > HS_STATUS) {
        wire += object.streams[HS_STATUS].data;
    }
    if (object.streams.size() > HS_HEADER) {
        const std::string& header = object.streams[HS_HEADER].data;
        wire += header;
        if (header.empty() || !EndsWith(header, "\r\n\r\n")) {
            if (!header.empty() && !EndsWith(header, "\r\n")) {
                wire += "\r\n";
            }
            wire += "\r\n";
        }
    } else {
        wire += "\r\n";
    }
    if (object.streams.size() > HS_CONTENT) {
        wire += object.streams[HS_CONTENT].data;
    }
    return wire;
}

}  // namespace gx::interception

namespace gx::interception {
namespace {

std::atomic<ObjectObserver*> gObserver{nullptr};

}  // namespace

void SetObjectObserver(ObjectObserver* observer) {
    gObserver.store(observer);
}

}  // namespace gx::interception

using gx::interception::EqualsNoCase;
using gx::interception::gObserver;

extern "C" {

PFObject* PFObject_create(PF_ObjectType type, int streamCount) {
    auto* object = new PFObject;
    object->type = type;
    object->streams.resize(static_cast<size_t>(std::clamp(streamCount, 0, 64)));
    if (auto* observer = gObserver.load()) {
        observer->Created(object);
    }
    return object;
}

void PFObject_free(PFObject* object) {
    if (auto* observer = gObserver.load(); observer && !observer->Freeing(object)) {
        return;
    }
    delete object;
}

PF_ObjectType PFObject_getType(PFObject* object) {
    return object ? object->type : OT_NULL;
}

int PFObject_isReadOnly(PFObject* object) {
    return object && object->readOnly ? 1 : 0;
}

int PFObject_getStreamCount(PFObject* object) {
    return object ? static_cast<int>(object->streams.size()) : 0;
}

PFStream* PFObject_getStream(PFObject* object, int index) {
    if (!object || index < 0 || static_cast<size_t>(index) >= object->streams.size()) {
        return nullptr;
    }
    return &object->streams[static_cast<size_t>(index)];
}

PFHeader* PFHeader_create(void) {
    return new PFHeader;
}

void PFHeader_free(PFHeader* header) {
    delete header;
}

PFHeaderField* PFHeader_addField(PFHeader* header, const char* name, const char* value, int index) {
    if (!header || !name) {
        return nullptr;
    }
    auto field = std::make_unique<PFHeaderField>();
    field->name = name;
    field->value = value ? value : "";
    PFHeaderField* added = field.get();
    if (index < 0 || static_cast<size_t>(index) >= header->fields.size()) {
        header->fields.push_back(std::move(field));
    } else {
        header->fields.insert(header->fields.begin() + index, std::move(field));
    }
    return added;
}

PFHeaderField* PFHeader_findFirstField(PFHeader* header, const char* name) {
    if (!header || !name) {
        return nullptr;
    }
    for (auto& field : header->fields) {
        if (EqualsNoCase(field->name, name)) {
            return field.get();
        }
    }
    return nullptr;
}

const char* PFHeaderField_getValue(PFHeaderField* field) {
    return field ? field->value.c_str() : "";
}

uint64_t PFStream_seek(PFStream* stream, int64_t offset, int origin) {
    if (!stream) {
        return 0;
    }
    int64_t base = 0;
    if (origin == 1) {
        base = static_cast<int64_t>(stream->position);
    } else if (origin == 2) {
        base = static_cast<int64_t>(stream->data.size());
    }
    int64_t target =
        std::clamp<int64_t>(base + offset, 0, static_cast<int64_t>(stream->data.size()));
    stream->position = static_cast<uint64_t>(target);
    return stream->position;
}

uint32_t PFStream_read(PFStream* stream, void* buffer, uint32_t length) {
    if (!stream || !buffer || stream->position >= stream->data.size()) {
        return 0;
    }
    size_t count = std::min<size_t>(length, stream->data.size() - stream->position);
    std::memcpy(buffer, stream->data.data() + stream->position, count);
    stream->position += count;
    return static_cast<uint32_t>(count);
}

uint32_t PFStream_write(PFStream* stream, const void* buffer, uint32_t length) {
    if (!stream || (!buffer && length > 0)) {
        return 0;
    }
    size_t end = stream->position + length;
    if (end > stream->data.size()) {
        stream->data.resize(end);
    }
    std::memcpy(stream->data.data() + stream->position, buffer, length);
    stream->position = end;
    return length;
}

uint64_t PFStream_size(PFStream* stream) {
    return stream ? stream->data.size() : 0;
}

int PFStream_reset(PFStream* stream) {
    if (!stream) {
        return 0;
    }
    stream->data.clear();
    stream->position = 0;
    return 1;
}

// Reads "Name: value" lines up to the first empty line. A line without a colon makes the whole
// block unreadable, so the program never acts on half a header.
int pfc_readHeader(PFStream* stream, PFHeader* header) {
    if (!stream || !header) {
        return 0;
    }
    if (auto* observer = gObserver.load(); observer && !observer->HeaderReadable()) {
        return 0;
    }
    std::string_view rest(stream->data);
    std::vector<std::unique_ptr<PFHeaderField>> parsed;
    while (!rest.empty()) {
        size_t eol = rest.find('\n');
        std::string_view line = rest.substr(0, eol);
        rest = eol == std::string_view::npos ? std::string_view() : rest.substr(eol + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty()) {
            break;
        }
        size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) {
            return 0;
        }
        auto field = std::make_unique<PFHeaderField>();
        field->name.assign(gx::ascii::Trim(line.substr(0, colon)));
        field->value.assign(gx::ascii::Trim(line.substr(colon + 1)));
        parsed.push_back(std::move(field));
    }
    for (auto& field : parsed) {
        header->fields.push_back(std::move(field));
    }
    return 1;
}

int pfc_writeHeader(PFStream* stream, PFHeader* header) {
    if (!stream || !header) {
        return 0;
    }
    std::string block;
    for (const auto& field : header->fields) {
        block += field->name;
        block += ": ";
        block += field->value;
        block += "\r\n";
    }
    block += "\r\n";
    stream->data = std::move(block);
    stream->position = stream->data.size();
    return 1;
}

}  // extern "C"
