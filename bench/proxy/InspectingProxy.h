// The interception library started in the benchmark's own process, as the program starts it:
// explicit proxy on a free loopback port, every outgoing connection filtered, its root made and
// trusted (the trust marker, as `gx-driver trust` writes it), so HTTPS is inspected.
#pragma once

#include <cstdint>

#include "api/interception/ProtocolFiltersAPI.h"

namespace gx::bench {

// The proxy's port, 0 when it did not start. `events` must outlive the library's run.
uint16_t StartInspectingProxy(PFEvents& events, const char* rootSubject);

}  // namespace gx::bench
