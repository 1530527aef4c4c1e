#include "fuzz/FuzzTargets.h"

namespace gx::fuzz {

const std::vector<Target>& Targets() {
    static const std::vector<Target> targets = {
        {"request_head", FuzzRequestHead},   {"response_head", FuzzResponseHead},
        {"client_hello", FuzzClientHello},   {"list_files", FuzzListFiles},
        {"list_sources", FuzzListSources},   {"address", FuzzAddress},
        {"http_response", FuzzHttpResponse}, {"update_description", FuzzUpdateDescription},
        {"build_file", FuzzBuildFile},       {"list_bundle", FuzzListBundle},
        {"http2_frames", FuzzHttp2Frames},   {"control_request", FuzzControlRequest},
    };
    return targets;
}

}  // namespace gx::fuzz
