// Throughput and latency of the interception proxy, each as a ratio to the same wrk load sent
// straight to the origin in the same run. The proxy runs with a program that attaches the
// filters to every connection and passes every request (slot 9 is called for each one).
//
// Environment: GX_BENCH_SECONDS (per wrk run, default 4); GX_BENCH_SCENARIOS, a comma list of
// keep-alive, new-connection, large (default all).
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "api/interception/NetFilter2API.h"
#include "api/interception/ProtocolFiltersAPI.h"
#include "bench/proxy/BenchOrigin.h"
#include "bench/proxy/PassEverything.h"
#include "bench/proxy/WrkRunner.h"
#include "platform/interception/Interception.h"

namespace gx::bench {
namespace {

void PostWhole(ENDPOINT_ID id, PFObject* object) {
    pfc_postObject(id, object);
    PFObject_free(object);
}

PFEvents gPassEverything{};

// Starts the library with a pass-everything program; the proxy's port, 0 on failure.
uint16_t StartPassEverythingProxy() {
    gPassEverything.tcpConnected = AttachFilters;
    gPassEverything.dataPartAvailable = PassRequest;
    gPassEverything.dataAvailable = PostWhole;
    ::setenv(interception::kProxyAddressVariable, "127.0.0.1:0", 1);
    if (!pfc_init(&gPassEverything, L"c:\\netfilter2")) {
        return 0;
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
    return interception::ExplicitProxyPort();
}

void StopProxy() {
    nf_free();
    pfc_free();
}

struct Comparison {
    WrkFigures direct;
    WrkFigures proxied;
};

// One wrk load straight to the origin, then through the proxy. The engine's benchmark can call
// this with a proxy it started itself.
Comparison CompareWithDirect(const WrkLoad& load, uint16_t originPort, uint16_t proxyPort) {
    return {RunWrk(load, originPort, 0), RunWrk(load, originPort, proxyPort)};
}

bool Report(const char* name, const Comparison& result, bool throughput, double target,
            double p99Target = -1) {
    if (!result.direct.ok || !result.proxied.ok) {
        std::printf("%s: FAILED: %s%s\n", name, result.direct.error.c_str(),
                    result.proxied.error.c_str());
        return false;
    }
    double direct = throughput ? result.direct.mibPerSecond : result.direct.requestsPerSecond;
    double proxied = throughput ? result.proxied.mibPerSecond : result.proxied.requestsPerSecond;
    const char* unit = throughput ? "MiB/s" : "req/s";
    double ratio = direct > 0 ? proxied / direct : 0;
    std::printf("%-34s direct %10.0f %s  proxy %10.0f %s  ratio %.2fx (target >= %.2fx) %s\n", name,
                direct, unit, proxied, unit, ratio, target,
                ratio >= target ? "ok" : "BELOW TARGET");
    double added = result.proxied.p99Ms - result.direct.p99Ms;
    std::printf("%-34s p99 direct %.2f ms, proxy %.2f ms, added %.2f ms", "", result.direct.p99Ms,
                result.proxied.p99Ms, added);
    if (p99Target >= 0) {
        std::printf(" (target < %.1f ms) %s", p99Target, added < p99Target ? "ok" : "BELOW TARGET");
    }
    std::printf("\n");
    if (result.proxied.errors > 0 || result.direct.errors > 0) {
        std::printf("%-34s errors: direct %ld, proxy %ld\n", "", result.direct.errors,
                    result.proxied.errors);
    }
    std::fflush(stdout);
    return true;
}

}  // namespace
}  // namespace gx::bench

int main() {
    using namespace gx::bench;
    int seconds = 4;
    if (const char* configured = std::getenv("GX_BENCH_SECONDS")) {
        seconds = std::max(1, std::atoi(configured));
    }
    BenchOrigin origin;
    uint16_t proxyPort = StartPassEverythingProxy();
    if (proxyPort == 0) {
        std::printf("proxy: FAILED: the interception library did not start\n");
        return 1;
    }
    std::string scenarios = "keep-alive,new-connection,large";
    if (const char* configured = std::getenv("GX_BENCH_SCENARIOS")) {
        scenarios = configured;
    }
    auto wanted = [&](const char* name) { return scenarios.find(name) != std::string::npos; };
    std::printf("interception proxy against a loopback origin, wrk %d s per run\n", seconds);
    bool ok = true;

    WrkLoad keepAlive;
    keepAlive.seconds = seconds;
    if (wanted("keep-alive")) {
        ok &= Report("1 KiB, 50 keep-alive connections",
                     CompareWithDirect(keepAlive, origin.Port(), proxyPort), false, 0.5, 2.0);
    }

    WrkLoad perRequest = keepAlive;
    perRequest.newConnectionPerRequest = true;
    if (wanted("new-connection")) {
        ok &= Report("1 KiB, new connection per request",
                     CompareWithDirect(perRequest, origin.Port(), proxyPort), false, 0.3);
    }

    WrkLoad large = keepAlive;
    large.path = "/1m";
    large.connections = 10;
    if (wanted("large")) {
        ok &= Report("1 MiB file, 10 connections",
                     CompareWithDirect(large, origin.Port(), proxyPort), true, 0.8);
    }

    StopProxy();
    return ok ? 0 : 1;
}
