// The engine's callback table handed to the protocol layer at each start, in slot order:
// empty functions for the thread, connect-request and UDP events, tcpConnected (slot 3),
// tcpClosed (4), dataAvailable (8), dataPartAvailable (9) and the six forwarders to the connection
// layer (10 to 15). It lives as long as the process, so the layer may keep its address.
#pragma once

#include "api/interception/ProtocolFiltersAPI.h"

namespace gx {

extern PFEvents EngineEvents;

}  // namespace gx
