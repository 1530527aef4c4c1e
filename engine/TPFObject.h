// A protocol object (an HTTP request or response with its numbered streams). Destroying the
// wrapper frees the object, also one that a callback handed in: the library expects the program
// to release every object it receives once it is done with it.
#pragma once

#include "engine/TPFStream.h"

namespace gx {

class TPFObject {
  public:
    explicit TPFObject(PFObject* handle) : handle_(handle) {}
    // A new object of that type with that many empty streams.
    TPFObject(PF_ObjectType type, int streamCount) : handle_(PFObject_create(type, streamCount)) {}
    ~TPFObject() {
        if (handle_)
            PFObject_free(handle_);
    }
    TPFObject(const TPFObject&) = delete;
    TPFObject& operator=(const TPFObject&) = delete;

    PFObject* Handle() const { return handle_; }
    PF_ObjectType GetType() const { return PFObject_getType(handle_); }
    bool IsReadOnly() const { return PFObject_isReadOnly(handle_) != 0; }
    // Stream by index from 0; an empty TPFStream when the object has no such stream.
    TPFStream GetStream(int index) const;
    // Sends the object on along the connection.
    void Post(ENDPOINT_ID id) const { pfc_postObject(id, handle_); }

  private:
    PFObject* handle_;
};

}  // namespace gx
