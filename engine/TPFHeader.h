// An HTTP header of the protocol layer, created with the wrapper and released with it.
#pragma once

#include <string>

#include "engine/TPFStream.h"

namespace gx {

class TPFHeader {
  public:
    TPFHeader() : handle_(PFHeader_create()) {}
    ~TPFHeader() { PFHeader_free(handle_); }
    TPFHeader(const TPFHeader&) = delete;
    TPFHeader& operator=(const TPFHeader&) = delete;

    // Parses the stream's "Name: value" lines. False when the stream holds no readable header.
    bool ReadFromStream(TPFStream stream);
    bool WriteToStream(TPFStream stream);
    // Appends a field after the others.
    void AddField(const char* name, const char* value);
    // The value of the first field of that name; empty when there is none.
    std::string GetFieldValue(const char* name);

  private:
    PFHeader* handle_;
};

}  // namespace gx
