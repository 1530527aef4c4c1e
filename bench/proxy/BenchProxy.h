// The interception library started in the benchmark's own process, as the program starts it:
// explicit proxy on a free loopback port, every outgoing connection filtered. With a root's
// subject, its root is made and trusted (the trust marker, as `gx-driver trust` writes it), so
// HTTPS is inspected.
#pragma once

#include <cstdint>

#include "api/interception/ProtocolFiltersAPI.h"

namespace gx::bench {

// The proxy's port, 0 when it did not start. `events` must outlive the library's run;
// rootSubject null: HTTPS is not inspected.
uint16_t StartBenchProxy(PFEvents& events, const char* rootSubject = nullptr);

}  // namespace gx::bench
