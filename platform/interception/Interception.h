// The interception library's own C++ surface beside its C interface: limits and time-outs,
// where it listens, where it keeps its data. Used by the library's tests and tools.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace gx::interception {

struct Limits {
    std::chrono::milliseconds headerTimeout{30'000};     // a request head must be complete by then
    std::chrono::milliseconds idleTimeout{120'000};      // quiet client between requests, slow body
    std::chrono::milliseconds connectTimeout{30'000};    // name lookup and connection to a server
    std::chrono::milliseconds responseTimeout{120'000};  // a server that stays silent
    std::chrono::milliseconds tunnelIdleTimeout{3'600'000};  // CONNECT and upgraded connections
    // A redirected connection whose client says nothing for this long is taken for a protocol
    // where the server speaks first, and relayed.
    std::chrono::milliseconds firstBytesTimeout{500};
    size_t maxHeadBytes = 64 * 1024;
    size_t maxCollectedBody = 16 * 1024 * 1024;  // a request collected for the object callback
    size_t maxBuffered = 256 * 1024;             // bytes held per direction before reading pauses
    bool http2 = true;  // clients of inspected HTTPS that offer HTTP/2 get it
};

// Limits for proxies started from now on (nf_init).
void SetLimits(const Limits& limits);
Limits GetLimits();

// The explicit proxy listens on 127.0.0.1:3129, or on HOST:PORT from this environment variable.
inline constexpr const char* kProxyAddressVariable = "GARDALIX_PROXY";

// The port the running explicit proxy listens on (useful when started on port 0); 0 = stopped.
uint16_t ExplicitProxyPort();
// Whether the running proxy serves connections redirected by the driver.
bool TransparentModeOn();

// How the running proxy's leaf certificates were had: issued, or taken from the cache.
struct LeafCacheFigures {
    uint64_t hits = 0;
    uint64_t misses = 0;
};
LeafCacheFigures LeafCacheStats();

// The folder given to pfc_init, mapped to a folder of ours; empty before pfc_init.
std::string DataFolder();

}  // namespace gx::interception
