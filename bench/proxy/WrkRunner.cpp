#include "bench/proxy/WrkRunner.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace gx::bench {
namespace {

std::string LuaScript(const WrkLoad& load, uint16_t originPort, uint16_t proxyPort) {
    std::string authority = "127.0.0.1:" + std::to_string(originPort);
    std::string path = proxyPort ? "http://" + authority + load.path : load.path;
    std::ostringstream lua;
    lua << "wrk.method = \"GET\"\n"
        << "wrk.path = \"" << path << "\"\n"
        << "wrk.headers[\"Host\"] = \"" << authority << "\"\n";
    if (load.newConnectionPerRequest) {
        lua << "wrk.headers[\"Connection\"] = \"close\"\n";
    }
    lua << "done = function(summary, latency, requests)\n"
        << "  local e = summary.errors\n"
        << "  io.write(string.format(\"GXRESULT %d %d %d %d %d %d %d %d %d %d\\n\",\n"
        << "    summary.requests, summary.duration, summary.bytes, latency:percentile(99),\n"
        << "    latency.mean, e.connect, e.read, e.write, e.timeout, e.status))\n"
        << "end\n";
    return lua.str();
}

}  // namespace

WrkFigures RunWrk(const WrkLoad& load, uint16_t originPort, uint16_t proxyPort) {
    WrkFigures figures;
    char scriptPath[] = "/tmp/gx-bench-wrk-XXXXXX";
    int fd = ::mkstemp(scriptPath);
    if (fd < 0) {
        figures.error = "cannot write the wrk script";
        return figures;
    }
    ::close(fd);
    std::ofstream(scriptPath) << LuaScript(load, originPort, proxyPort);
    uint16_t port = proxyPort ? proxyPort : originPort;
    std::string command = "wrk --latency -t" + std::to_string(load.threads) + " -c" +
                          std::to_string(load.connections) + " -d" + std::to_string(load.seconds) +
                          "s --timeout 10s -s " + scriptPath +
                          " http://127.0.0.1:" + std::to_string(port) + "/ 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string output;
    if (pipe) {
        char chunk[4096];
        size_t n = 0;
        while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) {
            output.append(chunk, n);
        }
        ::pclose(pipe);
    }
    std::remove(scriptPath);
    size_t at = output.find("GXRESULT ");
    if (at == std::string::npos) {
        figures.error = "wrk gave no result: " + output;
        return figures;
    }
    double requests = 0, durationUs = 0, bytes = 0, p99Us = 0, meanUs = 0;
    long connect = 0, read = 0, write = 0, timeout = 0, status = 0;
    if (std::sscanf(output.c_str() + at, "GXRESULT %lf %lf %lf %lf %lf %ld %ld %ld %ld %ld",
                    &requests, &durationUs, &bytes, &p99Us, &meanUs, &connect, &read, &write,
                    &timeout, &status) != 10 ||
        durationUs <= 0) {
        figures.error = "unreadable wrk result: " + output.substr(at);
        return figures;
    }
    figures.ok = true;
    figures.requests = requests;
    figures.requestsPerSecond = requests / (durationUs / 1e6);
    figures.mibPerSecond = bytes / (1024.0 * 1024.0) / (durationUs / 1e6);
    figures.p99Ms = p99Us / 1000.0;
    figures.meanMs = meanUs / 1000.0;
    figures.errors = connect + read + write + timeout + status;
    figures.errorKinds = "connect " + std::to_string(connect) + ", read " + std::to_string(read) +
                         ", write " + std::to_string(write) + ", timeout " +
                         std::to_string(timeout) + ", status " + std::to_string(status);
    return figures;
}

}  // namespace gx::bench
