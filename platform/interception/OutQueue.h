// Bytes waiting to be written to one socket. Appends go to `pending` while `inflight` is being
// written; the two swap roles, so their capacity is reused instead of allocated per chunk.
#pragma once

#include <cstddef>
#include <vector>

namespace gx::interception {

struct OutQueue {
    std::vector<char> pending;
    std::vector<char> inflight;
    bool writing = false;

    void Append(const char* data, size_t n) { pending.insert(pending.end(), data, data + n); }
    size_t Size() const { return pending.size() + inflight.size(); }
    bool Empty() const { return pending.empty() && inflight.empty(); }
};

}  // namespace gx::interception
