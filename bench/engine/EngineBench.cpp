// The engine's loads through the real interception library: wrk sends absolute-form requests to
// the explicit proxy on loopback (the proxy benchmark's wrk runner), the engine judges each one
// and the origin answers those that pass. Figures: requests per second with an empty malicious
// list, the shipped lists and a 1 000 000-entry malicious list (child protection on, so both
// lookups run for every request), and a load of only blocked addresses, which the engine
// answers itself.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "bench/engine/EngineBenchOrigin.h"
#include "bench/proxy/WrkRunner.h"
#include "engine/AccountPolicy.h"
#include "engine/ChildProtection.h"
#include "engine/GX_Main.h"
#include "engine/RequestVerdict.h"
#include "lists/GX_MalwareURL.h"
#include "lists/GX_PornURL.h"
#include "lists/ListFile.h"
#include "platform/interception/Interception.h"

namespace gx::bench {
namespace {

constexpr int kSeconds = 3;
constexpr int kRounds = 5;
constexpr size_t kLargeListEntries = 1'000'000;
const std::string kPassPath = "/1k";
const std::string kBlockPath = "/listed/1k";

struct LoadFigures {
    double requestsPerSecond = 0;
    double p99Ms = 0;
    std::string problem;  // empty when the load ran as meant
};

class Bench {
  public:
    Bench()
        : folder_(std::filesystem::temp_directory_path() /
                  ("gx-bench-engine-" + std::to_string(::getpid()))) {
        std::filesystem::create_directories(folder_);
        ::setenv(interception::kProxyAddressVariable, "127.0.0.1:0", 1);
    }
    ~Bench() {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    // The address the engine rebuilds for a path on the origin.
    std::string OriginAddress(const std::string& path) const {
        return "127.0.0.1:" + std::to_string(origin_.Port()) + path;
    }

    // A malicious list file: the given entries, then `generated` others of realistic length.
    std::string WriteMalwareList(const std::string& name, const std::vector<std::string>& entries,
                                 size_t generated) {
        std::string path = (folder_ / name).string();
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        for (const auto& entry : entries)
            file << ScrambleRecord(entry, kMalwareRecordSize);
        for (size_t i = 0; i < generated; ++i) {
            file << ScrambleRecord(
                "host" + std::to_string(i % 5000) + ".listed.example/path/" + std::to_string(i),
                kMalwareRecordSize);
        }
        return path;
    }

    // One wrk load through a freshly started engine.
    LoadFigures Load(const std::string& path, bool newConnectionPerRequest, bool expectBlocked,
                     int seconds = kSeconds) {
        if (!StartDriver())
            return {0, 0, "the engine did not start"};
        uint64_t listedBefore = origin_.AnsweredListed();
        uint64_t answeredBefore = origin_.Answered();
        WrkLoad load;
        load.path = path;
        load.seconds = seconds;
        load.newConnectionPerRequest = newConnectionPerRequest;
        WrkFigures wrk = RunWrk(load, origin_.Port(), interception::ExplicitProxyPort());
        StopDriver();

        LoadFigures figures{wrk.requestsPerSecond, wrk.p99Ms, wrk.error};
        if (origin_.AnsweredListed() != listedBefore) {
            figures.problem = "blocked requests reached the origin";
        } else if (!expectBlocked && origin_.Answered() == answeredBefore) {
            figures.problem = "nothing reached the origin";
        } else if (!expectBlocked && wrk.errors != 0) {
            figures.problem = std::to_string(wrk.errors) + " passed requests failed";
        }
        return figures;
    }

  private:
    EngineBenchOrigin origin_;
    std::filesystem::path folder_;
};

double MedianOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The median run of a load by requests per second, carrying any problem of any run.
LoadFigures Median(const std::vector<LoadFigures>& runs) {
    std::vector<LoadFigures> sorted = runs;
    std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
        return a.requestsPerSecond < b.requestsPerSecond;
    });
    LoadFigures median = sorted[sorted.size() / 2];
    for (const auto& run : runs) {
        if (!run.problem.empty())
            median.problem = run.problem;
    }
    return median;
}

void Print(const std::string& name, const LoadFigures& figures) {
    std::printf("  %-52s %9.0f req/s  p99 %6.2f ms%s%s\n", name.c_str(), figures.requestsPerSecond,
                figures.p99Ms,
                figures.problem.empty() ? "" : "  PROBLEM: ", figures.problem.c_str());
}

bool Verdict(const char* what, double ratio, double target) {
    bool met = ratio >= target;
    std::printf("  %-52s %9.3f      (target >= %.2f) %s\n", what, ratio, target,
                met ? "met" : "NOT MET");
    return met;
}

// The engine's own time for one passed request, measured in process on request objects of the
// library (no proxy, no sockets).
double NanosecondsPerRequest(const std::string& address) {
    size_t slash = address.find('/');
    std::string line = "GET " + address.substr(slash) + " HTTP/1.1\r\n";
    std::string header = "Host: " + address.substr(0, slash) + "\r\nAccept: */*\r\n\r\n";
    constexpr int kRequests = 200'000;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kRequests; ++i) {
        PFObject* object = PFObject_create(OT_HTTP_REQUEST, 3);
        PFStream_write(PFObject_getStream(object, 0), line.data(), line.size());
        PFStream_write(PFObject_getStream(object, 1), header.data(), header.size());
        dataPartAvailable(1, object);  // frees the object
    }
    std::chrono::duration<double, std::nano> spent = std::chrono::steady_clock::now() - start;
    return spent.count() / kRequests;
}

int Main() {
    Bench bench;
    const std::string programDir = GX_PROGRAM_DIR "/";
    if (!LoadPornURLList(programDir + kAdultListFileName)) {
        std::printf("  the shipped adult list is missing in %s\n", programDir.c_str());
        return 1;
    }
    PornFilterOn = true;
    const std::string emptyList = bench.WriteMalwareList("empty.dat", {}, 0);
    const std::string largeList = bench.WriteMalwareList(
        "large.dat", {bench.OriginAddress(kBlockPath)}, kLargeListEntries - 1);
    const std::string shippedList = programDir + kMalwareListFileName;
    bool allMet = true;

    LoadMalwareURLList(emptyList);
    double engineEmptyNs = NanosecondsPerRequest(bench.OriginAddress(kPassPath));
    bench.Load(kPassPath, false, false, 1);  // warm-up
    LoadMalwareURLList(largeList);
    double engineLargeNs = NanosecondsPerRequest(bench.OriginAddress(kPassPath));
    size_t largeListBytes = MalwareURLMemoryBytes();
    LoadMalwareURLList(shippedList);
    size_t shippedEntries = MalwareURLCount();

    // Rounds of runs side by side, so that a change in the machine's load hits every list alike;
    // the ratio is taken within each round, then the median of the rounds.
    std::vector<LoadFigures> emptyRuns, shippedRuns, largeRuns, servicedRuns;
    std::vector<double> largeRatios, servicedRatios;
    for (int round = 0; round < kRounds; ++round) {
        LoadMalwareURLList(emptyList);
        emptyRuns.push_back(bench.Load(kPassPath, false, false));
        LoadMalwareURLList(largeList);
        largeRuns.push_back(bench.Load(kPassPath, false, false));
        LoadMalwareURLList(shippedList);
        shippedRuns.push_back(bench.Load(kPassPath, false, false));
        // As the system service judges: each connection's account looked up, its policy read.
        PublishAccountPolicies({{static_cast<uint32_t>(::geteuid()), {true, true}}});
        servicedRuns.push_back(bench.Load(kPassPath, false, false));
        WithdrawAccountPolicies();
        largeRatios.push_back(largeRuns.back().requestsPerSecond /
                              std::max(1.0, emptyRuns.back().requestsPerSecond));
        servicedRatios.push_back(servicedRuns.back().requestsPerSecond /
                                 std::max(1.0, shippedRuns.back().requestsPerSecond));
    }
    std::printf(
        "Engine through the explicit proxy, 50 keep-alive connections, 1 KiB page, "
        "median of %d runs of %d s:\n",
        kRounds, kSeconds);
    LoadFigures empty = Median(emptyRuns), shipped = Median(shippedRuns), large = Median(largeRuns);
    Print("empty malicious list", empty);
    Print("shipped lists (" + std::to_string(shippedEntries) + " malicious entries)", shipped);
    Print("1 000 000-entry malicious list", large);
    Print("shipped lists, judged per account (service mode)", Median(servicedRuns));
    std::printf("  engine time per passed request: %.0f ns (empty list), %.0f ns (1 000 000)\n",
                engineEmptyNs, engineLargeNs);
    std::printf("  1 000 000-entry list in memory: %.1f MiB\n", largeListBytes / 1048576.0);
    allMet &= Verdict("1 000 000-entry list / empty list, req/s", MedianOf(largeRatios), 0.95);
    allMet &= Verdict("service mode / per-user mode, req/s", MedianOf(servicedRatios), 0.95);

    // Every block closes its connection, so blocked requests are compared with passed requests
    // that also take a new connection each.
    LoadMalwareURLList(largeList);
    std::vector<LoadFigures> passedRuns, blockedRuns;
    std::vector<double> blockedRatios;
    for (int round = 0; round < kRounds; ++round) {
        passedRuns.push_back(bench.Load(kPassPath, true, false));
        blockedRuns.push_back(bench.Load(kBlockPath, true, true));
        blockedRatios.push_back(blockedRuns.back().requestsPerSecond /
                                std::max(1.0, passedRuns.back().requestsPerSecond));
    }
    std::printf("New connection per request, 1 000 000-entry list, median of %d runs of %d s:\n",
                kRounds, kSeconds);
    LoadFigures passed = Median(passedRuns), blocked = Median(blockedRuns);
    Print("passed, relayed to the origin", passed);
    Print("blocked, answered by the engine", blocked);
    allMet &= Verdict("blocked / passed, req/s", MedianOf(blockedRatios), 1.0);

    for (const auto* figures : {&empty, &shipped, &large, &passed, &blocked}) {
        if (!figures->problem.empty())
            allMet = false;
    }
    return allMet ? 0 : 1;
}

}  // namespace
}  // namespace gx::bench

int main() {
    return gx::bench::Main();
}
