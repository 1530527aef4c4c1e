// The protocol objects handed to the program: typed objects made of numbered byte streams, and
// parsed header blocks. The object, stream and header functions of ProtocolFiltersAPI.h operate
// on these; one implementation, linked by the interception library and by the tests' fake.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "api/interception/ProtocolFiltersAPI.h"

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

// Watches the life of protocol objects; for tests that check every object is freed once, and
// that make header parsing fail. Its calls come from any thread.
class ObjectObserver {
  public:
    virtual ~ObjectObserver() = default;
    virtual void Created(PFObject* object) = 0;
    // False: the object is not one that lives (a second free); it is left alone.
    virtual bool Freeing(PFObject* object) = 0;
    // False: pfc_readHeader fails, as for an unreadable block.
    virtual bool HeaderReadable() = 0;
};

// Installs the observer (nullptr: none). It must outlive every object created meanwhile.
void SetObjectObserver(ObjectObserver* observer);

// A request object of three streams: the request line with CR LF, the header block, the body.
PFObject* NewRequestObject(std::string_view lineWithCrLf, std::string_view headerBlock,
                           std::string_view body);

// The wire form of a posted HTTP object: first line, header block (its closing empty line added
// when missing) and body.
std::string SerializeHttpObject(const PFObject& object);

}  // namespace gx::interception
