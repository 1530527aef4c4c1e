// The protocol objects handed to the program: typed objects made of numbered byte streams, and
// parsed header blocks. The C functions of ProtocolFiltersAPI.h operate on these.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ProtocolFiltersAPI.h"

// A byte stream with a read/write position, like a small in-memory file.
struct PFStream {
    std::string data;
    uint64_t position = 0;
};

struct PFObject {
    PF_ObjectType type = OT_NULL;
    bool readOnly = false;
    // Never resized after creation, so stream handles stay valid for the object's life.
    std::vector<PFStream> streams;
};

struct PFHeaderField {
    std::string name;
    std::string value;
};

struct PFHeader {
    std::vector<std::unique_ptr<PFHeaderField>> fields;
};

namespace gx::interception {

// A request object of three streams: the request line with CR LF, the header block, the body.
PFObject* NewRequestObject(std::string_view lineWithCrLf, std::string_view headerBlock,
                           std::string_view body);

// The wire form of a posted HTTP object: first line, header block (its closing empty line added
// when missing) and body.
std::string SerializeHttpObject(const PFObject& object);

}  // namespace gx::interception
