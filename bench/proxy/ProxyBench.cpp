// Throughput and latency of the interception proxy, each as a ratio to the same wrk load sent
// straight to the origin in the same run. The origin is nginx (a real web server: a slow origin
// would flatter every proxy's ratio), or the built-in origin where nginx cannot start. The proxy
// runs with a program that attaches the filters to every connection and passes every request (slot
// 9 is called for each one).
//
// Environment: GX_BENCH_SECONDS (per wrk run, default 4); GX_BENCH_SCENARIOS, a comma list of
// keep-alive, new-connection, large (default all).
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "api/interception/NetFilter2API.h"
#include "api/interception/ProtocolFiltersAPI.h"
#include "bench/proxy/BenchOrigin.h"
#include "bench/proxy/BenchProxy.h"
#include "bench/proxy/NginxOrigin.h"
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
    return StartBenchProxy(gPassEverything);
}

void StopProxy() {
    nf_free();
    pfc_free();
}

// CPU time of this process (the proxy's workers; the built-in origin too when it serves), in
// microseconds.
double ProcessCpuMicroseconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    auto micros = [](const timeval& t) { return t.tv_sec * 1e6 + t.tv_usec; };
    return micros(usage.ru_utime) + micros(usage.ru_stime);
}

struct Scenario {
    const char* name = "";
    WrkLoad load;
    bool throughput = false;  // MiB/s rather than requests/s
    double target = 0;        // proxied / direct
    double p99Target = -1;    // added p99 in ms; < 0 = none
    bool cpuPerRequest = false;
    WrkFigures directAtStart;
    WrkFigures directAtEnd;
    WrkFigures proxied;
    double cpuMicroseconds = 0;
};

double Figure(const WrkFigures& figures, bool throughput) {
    return throughput ? figures.mibPerSecond : figures.requestsPerSecond;
}

bool Report(const Scenario& scenario, bool originInProcess) {
    const WrkFigures* runs[] = {&scenario.directAtStart, &scenario.proxied, &scenario.directAtEnd};
    for (const WrkFigures* run : runs) {
        if (!run->ok) {
            std::printf("%s: FAILED: %s\n", scenario.name, run->error.c_str());
            return false;
        }
    }
    bool t = scenario.throughput;
    const char* unit = t ? "MiB/s" : "req/s";
    // The direct figure is the mean of the run's start and end, so that a change in the
    // machine's load during the run shows and counts half.
    double direct = (Figure(scenario.directAtStart, t) + Figure(scenario.directAtEnd, t)) / 2;
    double proxied = Figure(scenario.proxied, t);
    double ratio = direct > 0 ? proxied / direct : 0;
    std::printf("%s\n", scenario.name);
    std::printf("    direct %.0f %s (start %.0f, end %.0f)  proxy %.0f %s\n", direct, unit,
                Figure(scenario.directAtStart, t), Figure(scenario.directAtEnd, t), proxied, unit);
    std::printf("    ratio %.2fx (target >= %.2fx) %s\n", ratio, scenario.target,
                ratio >= scenario.target ? "ok" : "BELOW TARGET");
    double directP99 = std::max(scenario.directAtStart.p99Ms, scenario.directAtEnd.p99Ms);
    double added = scenario.proxied.p99Ms - directP99;
    std::printf("    p99 direct %.2f ms, proxy %.2f ms, added %.2f ms", directP99,
                scenario.proxied.p99Ms, added);
    if (scenario.p99Target >= 0) {
        std::printf(" (target < %.1f ms) %s", scenario.p99Target,
                    added < scenario.p99Target ? "ok" : "BELOW TARGET");
    }
    std::printf("\n");
    if (scenario.cpuPerRequest && scenario.proxied.requests > 0) {
        double perRequest = scenario.cpuMicroseconds / scenario.proxied.requests;
        std::printf("    proxy CPU per request %.1f us (target <= 10.0 us) %s%s\n", perRequest,
                    perRequest <= 10.0 ? "ok" : "BELOW TARGET",
                    originInProcess ? " (includes the built-in origin)" : "");
    }
    // Every run's errors, by kind; errors through the proxy fail the line.
    std::printf("    errors: direct at start (%s), at end (%s), proxy (%s)%s\n",
                scenario.directAtStart.errorKinds.c_str(), scenario.directAtEnd.errorKinds.c_str(),
                scenario.proxied.errorKinds.c_str(),
                scenario.proxied.errors > 0 ? " ERRORS THROUGH THE PROXY" : "");
    std::fflush(stdout);
    return scenario.proxied.errors == 0;
}

std::vector<Scenario> Scenarios(int seconds) {
    WrkLoad keepAlive;
    keepAlive.seconds = seconds;
    WrkLoad perRequest = keepAlive;
    perRequest.newConnectionPerRequest = true;
    WrkLoad large = keepAlive;
    large.path = "/1m";
    large.connections = 10;
    auto scenario = [](const char* name, const WrkLoad& load, bool throughput, double target) {
        Scenario made;
        made.name = name;
        made.load = load;
        made.throughput = throughput;
        made.target = target;
        return made;
    };
    std::vector<Scenario> scenarios;
    scenarios.push_back(
        scenario("keep-alive: 1 KiB, 50 kept-alive connections", keepAlive, false, 0.45));
    scenarios.back().p99Target = 1.5;
    scenarios.back().cpuPerRequest = true;
    scenarios.push_back(
        scenario("new-connection: 1 KiB, a new connection per request", perRequest, false, 0.35));
    scenarios.push_back(
        scenario("large: 1 MiB file, 10 kept-alive connections", large, true, 0.85));
    return scenarios;
}

}  // namespace
}  // namespace gx::bench

int main() {
    using namespace gx::bench;
    int seconds = 4;
    if (const char* configured = std::getenv("GX_BENCH_SECONDS")) {
        seconds = std::max(1, std::atoi(configured));
    }
    std::string wantedNames = "keep-alive,new-connection,large";
    if (const char* configured = std::getenv("GX_BENCH_SCENARIOS")) {
        wantedNames = configured;
    }
    std::vector<Scenario> scenarios;
    for (Scenario& scenario : Scenarios(seconds)) {
        std::string key(scenario.name, std::strchr(scenario.name, ':'));
        if (wantedNames.find(key) != std::string::npos) {
            scenarios.push_back(scenario);
        }
    }
    NginxOrigin nginx;
    std::unique_ptr<BenchOrigin> builtIn;
    uint16_t originPort = nginx.Port();
    if (nginx.Running()) {
        std::printf("origin: nginx on 127.0.0.1:%u\n", originPort);
    } else {
        builtIn = std::make_unique<BenchOrigin>();
        originPort = builtIn->Port();
        std::printf("origin: the built-in origin (nginx: %s); its ratios flatter the proxy\n",
                    nginx.Problem().c_str());
    }
    uint16_t proxyPort = StartPassEverythingProxy();
    if (proxyPort == 0) {
        std::printf("proxy: FAILED: the interception library did not start\n");
        return 1;
    }
    std::printf(
        "interception proxy against that origin reached directly, wrk %d s per run; "
        "direct runs at the start and at the end\n",
        seconds);
    std::fflush(stdout);
    for (Scenario& scenario : scenarios) {
        scenario.directAtStart = RunWrk(scenario.load, originPort, 0);
    }
    for (Scenario& scenario : scenarios) {
        double cpuBefore = ProcessCpuMicroseconds();
        scenario.proxied = RunWrk(scenario.load, originPort, proxyPort);
        scenario.cpuMicroseconds = ProcessCpuMicroseconds() - cpuBefore;
    }
    for (Scenario& scenario : scenarios) {
        scenario.directAtEnd = RunWrk(scenario.load, originPort, 0);
    }
    bool ok = true;
    for (const Scenario& scenario : scenarios) {
        ok &= Report(scenario, builtIn != nullptr);
    }
    StopProxy();
    return ok ? 0 : 1;
}
