// The engine's loads through the real interception library: wrk sends absolute-form requests to
// the explicit proxy on loopback, the engine judges each one and the origin answers those that
// pass. Figures: requests per second with an empty malicious list, the shipped lists and a
// 1 000 000-entry malicious list (child protection on, so both lookups run for every request),
// and a load of only blocked addresses, which the engine answers itself.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "bench/engine/BenchOrigin.h"
#include "engine/GX_Main.h"
#include "engine/Inspection.h"
#include "engine/TPFObject.h"
#include "lists/GX_MalwareURL.h"
#include "lists/GX_PornURL.h"
#include "lists/ListFile.h"
#include "platform/interception/Interception.h"
#include "store/GX_ConfigReg.h"

extern char** environ;

namespace gx::bench {
namespace {

constexpr int kConnections = 50;
constexpr int kSeconds = 3;
constexpr int kRounds = 5;
constexpr size_t kLargeListEntries = 1'000'000;

struct LoadFigures {
    double requestsPerSecond = 0;
    double p99Milliseconds = 0;
    std::string problem;  // empty when the load ran as meant
};

std::string RunProgram(const std::vector<std::string>& command) {
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    std::vector<char*> argv;
    for (const auto& word : command)
        argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    std::string output;
    if (spawned == 0) {
        char buffer[4096];
        ssize_t got;
        while ((got = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0)
            output.append(buffer, got);
        int status;
        ::waitpid(pid, &status, 0);
    }
    ::close(pipeEnds[0]);
    return output;
}

// "Requests/sec:   1234.56" and the "99%" line of wrk's latency distribution.
LoadFigures ParseWrk(const std::string& output) {
    LoadFigures figures;
    if (size_t at = output.find("Requests/sec:"); at != std::string::npos) {
        figures.requestsPerSecond = std::atof(output.c_str() + at + 13);
    }
    if (size_t at = output.find(" 99%"); at != std::string::npos) {
        char* end = nullptr;
        double value = std::strtod(output.c_str() + at + 4, &end);
        std::string unit(end, end + 2);
        figures.p99Milliseconds = unit == "us"    ? value / 1000
                                  : unit == "s\n" ? value * 1000
                                                  : value;
    }
    if (figures.requestsPerSecond == 0)
        figures.problem = "wrk gave no figure";
    return figures;
}

class Bench {
  public:
    Bench()
        : folder_(std::filesystem::temp_directory_path() /
                  ("gx-bench-engine-" + std::to_string(::getpid()))) {
        std::filesystem::create_directories(folder_);
        ::setenv("GARDALIX_PROXY", "127.0.0.1:0", 1);
    }
    ~Bench() {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    std::string OriginAddress(const std::string& target) const {
        return "127.0.0.1:" + std::to_string(origin_.Port()) + target;
    }

    std::string WriteMalwareList(const std::string& name, const std::vector<std::string>& head,
                                 size_t generated) {
        std::string path = (folder_ / name).string();
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        for (const auto& entry : head)
            file << ScrambleRecord(entry, kMalwareRecordSize);
        for (size_t i = 0; i < generated; ++i) {
            file << ScrambleRecord(
                "host" + std::to_string(i % 5000) + ".listed.example/path/" + std::to_string(i),
                kMalwareRecordSize);
        }
        return path;
    }

    // One wrk load through the engine; `target` is requested on the origin.
    LoadFigures Load(const std::string& target, bool closeEach, bool expectBlocked,
                     int seconds = kSeconds) {
        if (!StartDriver())
            return {0, 0, "the engine did not start"};
        uint16_t proxyPort = interception::ExplicitProxyPort();
        std::string script = (folder_ / "load.lua").string();
        {
            std::ofstream lua(script, std::ios::trunc);
            lua << "wrk.method = \"GET\"\n"
                << "wrk.path = \"http://" << OriginAddress(target) << "\"\n"
                << "wrk.headers[\"Host\"] = \"" << OriginAddress("") << "\"\n";
            if (closeEach)
                lua << "wrk.headers[\"Connection\"] = \"close\"\n";
        }
        uint64_t listedBefore = origin_.AnsweredListed();
        uint64_t answeredBefore = origin_.Answered();
        std::string output =
            RunProgram({"wrk", "-t1", "-c" + std::to_string(kConnections),
                        "-d" + std::to_string(seconds) + "s", "--latency", "-s", script,
                        "http://127.0.0.1:" + std::to_string(proxyPort) + "/"});
        StopDriver();
        LoadFigures figures = ParseWrk(output);
        if (origin_.AnsweredListed() != listedBefore) {
            figures.problem = "blocked requests reached the origin";
        } else if (!expectBlocked && origin_.Answered() == answeredBefore) {
            figures.problem = "nothing reached the origin";
        } else if (!expectBlocked && output.find("Non-2xx") != std::string::npos) {
            figures.problem = "some passed requests got an error";
        }
        return figures;
    }

    BenchOrigin origin_;
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

void Print(const char* name, const LoadFigures& figures) {
    std::printf("  %-52s %9.0f req/s  p99 %6.2f ms%s%s\n", name, figures.requestsPerSecond,
                figures.p99Milliseconds,
                figures.problem.empty() ? "" : "  PROBLEM: ", figures.problem.c_str());
}

bool Verdict(const char* what, double ratio, double target) {
    bool met = ratio >= target;
    std::printf("  %-52s %9.3f      (target >= %.2f) %s\n", what, ratio, target,
                met ? "met" : "NOT MET");
    return met;
}

// The engine's own time for one passed request, lists of different sizes, measured in process
// on request objects of the library (no proxy, no sockets).
double NanosecondsPerRequest(const std::string& address) {
    size_t slash = address.find('/');
    std::string line = "GET " + address.substr(slash) + " HTTP/1.1\r\n";
    std::string header = "Host: " + address.substr(0, slash) + "\r\nAccept: */*\r\n\r\n";
    constexpr int kRounds = 200'000;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kRounds; ++i) {
        PFObject* object = PFObject_create(OT_HTTP_REQUEST, 3);
        PFStream_write(PFObject_getStream(object, 0), line.data(), line.size());
        PFStream_write(PFObject_getStream(object, 1), header.data(), header.size());
        dataPartAvailable(1, object);
    }
    std::chrono::duration<double, std::nano> spent = std::chrono::steady_clock::now() - start;
    return spent.count() / kRounds;
}

int Main() {
    Bench bench;
    const std::string programDir = GX_PROGRAM_DIR "/";
    const std::string passTarget = "/page.html";
    const std::string blockTarget = "/listed/page.html";
    const std::string blockedAddress = bench.OriginAddress(blockTarget);
    bool allMet = true;

    if (!LoadPornURLList(programDir + kPornListFileName)) {
        std::printf("  the shipped adult list is missing in %s\n", programDir.c_str());
        return 1;
    }
    PornFilterOn = true;
    std::string emptyList = bench.WriteMalwareList("empty.dat", {}, 0);
    std::string largeList =
        bench.WriteMalwareList("large.dat", {blockedAddress}, kLargeListEntries - 1);
    std::string shippedList = programDir + kMalwareListFileName;

    // Rounds of runs side by side, so that a change in the machine's load hits every list alike;
    // the ratios are taken within each round, then their median.
    LoadMalwareURLList(emptyList);
    double engineEmptyNs = NanosecondsPerRequest(bench.OriginAddress(passTarget));
    bench.Load(passTarget, false, false, 1);  // warm-up
    LoadMalwareURLList(largeList);
    double engineLargeNs = NanosecondsPerRequest(bench.OriginAddress(passTarget));
    size_t largeListBytes = MalwareURLMemoryBytes();
    LoadMalwareURLList(shippedList);
    size_t shippedEntries = MalwareURLCount();

    std::vector<LoadFigures> emptyRuns, shippedRuns, largeRuns;
    std::vector<double> largeRatios;
    for (int round = 0; round < kRounds; ++round) {
        LoadMalwareURLList(emptyList);
        emptyRuns.push_back(bench.Load(passTarget, false, false));
        LoadMalwareURLList(largeList);
        largeRuns.push_back(bench.Load(passTarget, false, false));
        LoadMalwareURLList(shippedList);
        shippedRuns.push_back(bench.Load(passTarget, false, false));
        largeRatios.push_back(largeRuns.back().requestsPerSecond /
                              std::max(1.0, emptyRuns.back().requestsPerSecond));
    }
    std::printf(
        "Engine through the explicit proxy, %d keep-alive connections, median of %d "
        "runs of %d s:\n",
        kConnections, kRounds, kSeconds);
    LoadFigures empty = Median(emptyRuns), shipped = Median(shippedRuns), large = Median(largeRuns);
    Print("empty malicious list", empty);
    Print(("shipped lists (" + std::to_string(shippedEntries) + " malicious entries)").c_str(),
          shipped);
    Print("1 000 000-entry malicious list", large);
    std::printf("  engine time per passed request: %.0f ns (empty list), %.0f ns (1 000 000)\n",
                engineEmptyNs, engineLargeNs);
    std::printf("  1 000 000-entry list in memory: %.1f MiB\n", largeListBytes / 1048576.0);
    allMet &= Verdict("1 000 000-entry list / empty list, req/s", MedianOf(largeRatios), 0.95);

    // Every block closes its connection, so blocked requests are compared with passed requests
    // that also take a new connection each.
    LoadMalwareURLList(largeList);
    std::vector<LoadFigures> passedRuns, blockedRuns;
    std::vector<double> blockedRatios;
    for (int round = 0; round < kRounds; ++round) {
        passedRuns.push_back(bench.Load(passTarget, true, false));
        blockedRuns.push_back(bench.Load(blockTarget, true, true));
        blockedRatios.push_back(blockedRuns.back().requestsPerSecond /
                                std::max(1.0, passedRuns.back().requestsPerSecond));
    }
    std::printf("New connection per request, 1 000 000-entry list, median of %d runs:\n", kRounds);
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
