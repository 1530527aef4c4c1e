// Runs one wrk load against an origin, directly or through an HTTP proxy, and returns its
// figures. A load through a proxy sends absolute-form requests ("GET http://origin/path").
#pragma once

#include <cstdint>
#include <string>

namespace gx::bench {

struct WrkLoad {
    std::string path = "/1k";  // on the origin
    int connections = 50;
    int threads = 2;
    int seconds = 4;
    bool newConnectionPerRequest = false;  // "Connection: close" on every request
};

struct WrkFigures {
    bool ok = false;
    std::string error;
    double requests = 0;
    double requestsPerSecond = 0;
    double mibPerSecond = 0;
    double p99Ms = 0;
    double meanMs = 0;
    long errors = 0;  // socket errors and non-2xx answers
    // By kind, as wrk counts them: "connect 0, read 2, write 0, timeout 0, status 0".
    std::string errorKinds;
};

// proxyPort 0 = straight to the origin.
WrkFigures RunWrk(const WrkLoad& load, uint16_t originPort, uint16_t proxyPort);

}  // namespace gx::bench
