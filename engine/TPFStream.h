// Thin wrappers around the protocol layer's handles: an object with its numbered streams
// (TPFObject), one stream (TPFStream) and a header (TPFHeader).
#pragma once

#include <cstdint>
#include <string_view>

#include "api/interception/ProtocolFiltersAPI.h"

namespace gx {

// Borrows a stream handle of an object; never frees it. A default one holds no stream.
class TPFStream {
  public:
    TPFStream() = default;
    explicit TPFStream(PFStream* handle) : handle_(handle) {}

    explicit operator bool() const { return handle_ != nullptr; }
    PFStream* Handle() const { return handle_; }

    // Offset from the start of the stream.
    uint64_t Seek(int64_t offset) { return PFStream_seek(handle_, offset, 0); }
    uint32_t Read(void* buffer, uint32_t length) { return PFStream_read(handle_, buffer, length); }
    uint32_t Write(const void* buffer, uint32_t length) {
        return PFStream_write(handle_, buffer, length);
    }
    uint32_t Write(std::string_view bytes) {
        return Write(bytes.data(), static_cast<uint32_t>(bytes.size()));
    }
    uint64_t Size() { return PFStream_size(handle_); }
    // Empties the stream: it then holds only what is written next.
    void Reset() { PFStream_reset(handle_); }

  private:
    PFStream* handle_ = nullptr;
};

}  // namespace gx
