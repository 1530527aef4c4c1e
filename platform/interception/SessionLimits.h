// Bounds that a client session keeps, whatever the client sends.
#pragma once

#include <cstddef>

namespace gx::interception {

inline constexpr size_t kMaxOriginsPerClient = 32;
inline constexpr size_t kMaxOwedResponses = 64;  // pipelined requests read ahead of their responses

}  // namespace gx::interception
