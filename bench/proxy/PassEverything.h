// The program the proxy benchmarks run: it attaches the engine's three filters to every
// connection and lets every request pass, so the proxy does all its work but blocks nothing.
#pragma once

#include "api/interception/NetFilter2API.h"
#include "api/interception/ProtocolFiltersAPI.h"

namespace gx::bench {

inline void AttachFilters(ENDPOINT_ID id, PNF_TCP_CONN_INFO) {
    pfc_addFilter(id, FT_PROXY, FF_DEFAULT, 3, FT_NONE);
    pfc_addFilter(id, FT_SSL, FF_SSL_VERIFY, 3, FT_NONE);
    pfc_addFilter(id, FT_HTTP, FF_READ_ONLY_IN, 3, FT_NONE);
}

inline PF_DATA_PART_CHECK_RESULT PassRequest(ENDPOINT_ID, PFObject* object) {
    PFObject_free(object);
    return DPCR_BYPASS;
}

}  // namespace gx::bench
