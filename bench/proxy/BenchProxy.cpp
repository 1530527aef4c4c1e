#include "bench/proxy/BenchProxy.h"

#include <cstdlib>

#include "api/interception/NetFilter2API.h"
#include "platform/interception/Interception.h"
#include "platform/tls/RootAuthority.h"
#include "platform/tls/TrustMarker.h"

namespace gx::bench {

uint16_t StartBenchProxy(PFEvents& events, const char* rootSubject) {
    ::setenv(interception::kProxyAddressVariable, "127.0.0.1:0", 1);
    if (!pfc_init(&events, L"c:\\netfilter2")) {
        return 0;
    }
    if (rootSubject) {
        pfc_setRootSSLCertSubject(rootSubject);
    }
    if (nf_init("gardalix", pfc_getNFEventHandler()) != 0) {
        pfc_free();
        return 0;
    }
    NF_RULE outbound{};
    outbound.protocol = NF_IPPROTO_TCP;
    outbound.direction = NF_D_OUT;
    outbound.filteringFlag = NF_FILTER;
    nf_addRule(&outbound, 0);
    if (rootSubject) {
        auto root = tls::LoadRoot(interception::DataFolder(), rootSubject);
        if (!root || !tls::WriteTrustMarker(interception::DataFolder(), root->fingerprint)) {
            return 0;
        }
    }
    return interception::ExplicitProxyPort();
}

}  // namespace gx::bench
