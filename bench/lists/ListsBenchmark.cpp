// Block-list figures: loading a million-record malicious list against reading the same file,
// the memory it holds, and the speed of both lookups on one core; the same list with 200 000
// whole-host entries as a request asks it, the size of its signed bundle beside gzip of its
// source, and lookups while the lists in use are swapped again and again.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "lists/CanonicalAddress.h"
#include "lists/GX_MalwareURL.h"
#include "lists/GX_PornURL.h"
#include "lists/ListFile.h"
#include "lists/ListsInUse.h"
#include "update/BuildWriter.h"
#include "update/ListBundle.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsOf(const std::function<void()>& work, int rounds = 3) {
    double best = 1e9;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        work();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

// Addresses as requests rebuild them: host (a name or an address with a port), path, query;
// 40 to 120 bytes.
class AddressGenerator {
  public:
    explicit AddressGenerator(unsigned seed) : random_(seed) {}

    std::string Next() {
        std::uniform_int_distribution<int> wanted(40, 120);
        const size_t length = static_cast<size_t>(wanted(random_));
        std::string address = Host();
        while (address.size() < length) {
            address += (Pick(4) == 0 && address.find('?') == std::string::npos) ? "?id=" : "/";
            address += Word();
        }
        address.resize(length);
        return address;
    }

  private:
    size_t Pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random_); }
    std::string Word() {
        static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789-_";
        std::string word(3 + Pick(10), ' ');
        for (char& c : word) {
            c = letters[Pick(sizeof letters - 1)];
        }
        return word;
    }
    std::string Host() {
        static const char* tlds[] = {".com", ".net", ".org", ".ru", ".xyz", ".info", ".top"};
        if (Pick(3) == 0) {
            return std::to_string(1 + Pick(223)) + "." + std::to_string(Pick(256)) + "." +
                   std::to_string(Pick(256)) + "." + std::to_string(Pick(256)) + ":" +
                   std::to_string(1024 + Pick(60000));
        }
        return (Pick(2) ? "www." : "") + Word() + tlds[Pick(7)];
    }
    std::mt19937_64 random_;
};

std::string WriteList(const std::string& path, const std::vector<std::string>& entries,
                      size_t recordSize) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (const auto& entry : entries) {
        out << gx::ScrambleRecord(entry, recordSize);
    }
    return path;
}

void ReadSequentially(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    std::vector<char> buffer(1 << 20);
    while (::read(fd, buffer.data(), buffer.size()) > 0) {
        benchmark::DoNotOptimize(buffer.data());
    }
    ::close(fd);
}

double LookupsPerSecond(const std::vector<std::string>& addresses,
                        const std::function<bool(std::string_view)>& lookup) {
    size_t hits = 0;
    const double seconds = SecondsOf([&] {
        for (const auto& address : addresses) {
            hits += lookup(address);
        }
    });
    benchmark::DoNotOptimize(hits);
    return static_cast<double>(addresses.size()) / seconds;
}

void Report(const char* what, double value, const char* unit, const char* target, bool met) {
    std::printf("%-58s %10.2f %-14s (target %s) %s\n", what, value, unit, target,
                met ? "OK" : "MISSED");
}

// Lookups that hit a listed entry a tenth of the time, in another letter case half the time.
std::vector<std::string> Probes(const std::vector<std::string>& listed, size_t count) {
    AddressGenerator generator(7);
    std::mt19937 random(3);
    std::vector<std::string> probes;
    for (size_t i = 0; i < count; ++i) {
        if (i % 10 == 0) {
            std::string hit = listed[random() % listed.size()];
            if (i % 20 == 0) {
                for (char& c : hit) {
                    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
                }
            }
            probes.push_back(hit);
        } else {
            probes.push_back(generator.Next());
        }
    }
    return probes;
}

// The process's resident memory, from /proc/self/statm.
double ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    double pages = 0;
    double resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<double>(::sysconf(_SC_PAGESIZE));
}

// Hosts for whole-host entries: the host of a generated address, a quarter of them with their
// subdomains ("*.host/*").
std::vector<std::string> WholeHostEntries(size_t count) {
    AddressGenerator generator(99);
    std::vector<std::string> hosts;
    for (size_t i = 0; i < count; ++i) {
        std::string address = generator.Next();
        std::string host = "h" + std::to_string(i) + address.substr(0, address.find_first_of("/?"));
        hosts.push_back((i % 4 == 0 ? "*." : "") + host + "/*");
    }
    return hosts;
}

// A request's questions, asked of one taking of the lists in use as the engine does.
bool AsARequest(std::string_view address) {
    const auto lists = gx::ListsInUse();
    return lists->malware->Contains(address) || lists->malware->ContainsHost(address);
}

// Bytes that `gzip -9` makes of the text.
long GzipBytes(const std::filesystem::path& folder, const std::string& text) {
    const auto path = folder / "source.txt";
    std::ofstream(path, std::ios::binary) << text;
    FILE* pipe = ::popen(("gzip -9 -c " + path.string() + " | wc -c").c_str(), "r");
    long bytes = -1;
    if (pipe != nullptr) {
        if (std::fscanf(pipe, "%ld", &bytes) != 1) {
            bytes = -1;
        }
        ::pclose(pipe);
    }
    return bytes;
}

void WholeHostFigures(const std::filesystem::path& folder, const std::vector<std::string>& entries,
                      size_t entryBytes) {
    const std::vector<std::string> hosts = WholeHostEntries(200000);
    std::vector<std::string> all = entries;
    all.insert(all.end(), hosts.begin(), hosts.end());
    size_t allBytes = entryBytes;
    for (const auto& host : hosts) {
        allBytes += host.size();
    }
    gx::LoadMalwareURLList((folder / "absent.dat").string());
    const double before = ResidentBytes();
    gx::LoadMalwareURLList(WriteList((folder / "hosts.dat").string(), all, gx::kMalwareRecordSize));
    const double held = ResidentBytes() - before;
    std::printf(
        "1 000 000 addresses + 200 000 whole hosts: %.1f MB resident for %.1f MB of "
        "entries (%zu hosts in the host set)\n",
        held / 1e6, allBytes / 1e6, gx::MalwareHostCount());
    const double perEntry = (held - static_cast<double>(allBytes)) / all.size();
    Report("  memory beyond the entries' bytes, per entry (resident)", perEntry, "bytes",
           "<= 24 bytes (exact list alone)", perEntry <= 24);

    // A tenth of the probes are other paths on listed hosts or on their subdomains.
    std::vector<std::string> probes = Probes(entries, 2000000);
    for (size_t i = 5; i < probes.size(); i += 10) {
        const std::string& host = hosts[i % hosts.size()];
        const std::string name = host.substr(host.starts_with("*.") ? 2 : 0,
                                             host.size() - 2 - (host.starts_with("*.") ? 2 : 0));
        probes[i] = (host.starts_with("*.") ? "cdn." : "") + name + "/payload/" +
                    std::to_string(i) + ".exe";
    }
    const double rate = LookupsPerSecond(probes, AsARequest) / 1e6;
    Report("Exact + whole host, lists taken per lookup (lookups/s)", rate, "M/s", ">= 3 M/s",
           rate >= 3);

    // What a refresh costs the network.
    std::string source;
    for (const auto& entry : all) {
        source += entry + "\n";
    }
    gx::ListBundleContent content;
    content.serial = 1;
    content.malware = all;
    const auto keys = gx::GenerateKeyPair();
    const auto bundle = gx::WriteListBundle(content, keys->privatePem);
    const long gzipBytes = GzipBytes(folder, source);
    std::printf(
        "Signed bundle of these 1 200 000 entries: %.2f MB; gzip -9 of the source text "
        "(%.1f MB): %.2f MB\n",
        bundle ? bundle->size() / 1e6 : -1.0, source.size() / 1e6, gzipBytes / 1e6);
    Report("  bundle / gzip -9 of the source", bundle ? double(bundle->size()) / gzipBytes : 0, "x",
           "about 1x", bundle && bundle->size() < 1.1 * gzipBytes);
}

// Lookups on one thread while the main thread publishes a new million-entry list again and
// again (each built afresh, the old one freed once no lookup holds it): the throughput beside a
// run without swaps, every lookup answered, and the peak memory beside the steady state.
void SwapUnderLoad(const std::vector<std::string>& entries) {
    const std::vector<std::string> probes = Probes(entries, 1000000);
    gx::LoadMalwareURLList("/nonexistent/gx_mu.dat");  // frees the lists loaded before
    const double baseline = ResidentBytes();
    gx::BlockLists lists;
    lists.malware = gx::MalwareList::FromEntries(entries);
    gx::PublishLists(lists);
    lists = {};
    const double steady = ResidentBytes() - baseline;
    auto run = [&](bool swap, double& peak) {
        std::atomic<bool> done{false};
        std::atomic<long> lookups{0};
        std::atomic<long> unanswered{0};
        std::thread worker([&] {
            size_t at = 0;
            while (!done.load(std::memory_order_relaxed)) {
                const bool hit = AsARequest(probes[at]);
                unanswered += (at % 10 == 0 && !hit) ? 1 : 0;  // every tenth probe is listed
                at = (at + 1) % probes.size();
                ++lookups;
            }
        });
        const auto start = Clock::now();
        peak = ResidentBytes();
        int swaps = 0;
        while (Clock::now() - start < std::chrono::seconds(swap ? 6 : 3)) {
            if (swap) {
                gx::BlockLists next;
                next.malware = gx::MalwareList::FromEntries(entries);
                peak = std::max(peak, ResidentBytes());
                gx::PublishLists(std::move(next));
                ++swaps;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            peak = std::max(peak, ResidentBytes());
        }
        done = true;
        worker.join();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf(
            "  %s: %.2f M lookups/s on the lookup thread, %d swaps, %ld listed probes "
            "not blocked\n",
            swap ? "with swaps" : "without swaps", lookups / seconds / 1e6, swaps,
            unanswered.load());
        return lookups / seconds;
    };
    double quietPeak = 0;
    double swapPeak = 0;
    const double quiet = run(false, quietPeak);
    const double busy = run(true, swapPeak);
    std::printf(
        "Swapping a 1 000 000-entry list under lookups (2 cores: builds and lookups "
        "share them)\n");
    Report("  lookup throughput with swaps / without", busy / quiet, "x", ">= 0.95",
           busy / quiet >= 0.95);
    const double peakRatio = (swapPeak - baseline) / steady;
    std::printf("  lists in memory: %.1f MB steady, %.1f MB at the peak of the swaps\n",
                steady / 1e6, (swapPeak - baseline) / 1e6);
    Report("  peak memory of the lists during swaps / steady state", peakRatio, "x", "<= about 2x",
           peakRatio <= 2.2);
}

}  // namespace

int main() {
    const auto folder =
        std::filesystem::temp_directory_path() / ("gx-bench-lists-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);

    AddressGenerator generator(42);
    std::vector<std::string> entries;
    for (int i = 0; i < 1000000; ++i) {
        entries.push_back(generator.Next());
    }
    size_t entryBytes = 0;
    for (const auto& entry : entries) {
        entryBytes += entry.size();
    }

    // 10 000 entries: lookups.
    const std::vector<std::string> small(entries.begin(), entries.begin() + 10000);
    gx::LoadMalwareURLList(
        WriteList((folder / "small.dat").string(), small, gx::kMalwareRecordSize));
    Report("IsMalwareURL, 10 000 entries (lookups/s, one core)",
           LookupsPerSecond(Probes(small, 1000000), gx::IsMalwareURL) / 1e6, "M/s", ">= 3 M/s",
           true);

    // 1 000 000 entries: load against a sequential read, memory, lookups.
    const std::string big =
        WriteList((folder / "big.dat").string(), entries, gx::kMalwareRecordSize);
    const double readSeconds = SecondsOf([&] { ReadSequentially(big); });
    double loadSeconds = 1e9;
    for (int round = 0; round < 3; ++round) {
        gx::LoadMalwareURLList((folder / "absent.dat").string());  // release the previous load
        loadSeconds = std::min(loadSeconds, SecondsOf([&] { gx::LoadMalwareURLList(big); }, 1));
    }
    const double ratio = loadSeconds / readSeconds;
    std::printf("LoadMalwareURLList, 1 000 000 records (%.0f MB): %.3f s; sequential read %.3f s\n",
                std::filesystem::file_size(big) / 1e6, loadSeconds, readSeconds);
    Report("LoadMalwareURLList / sequential read of the same file", ratio, "x", "<= 4x",
           ratio <= 4.0);

    const double perEntry =
        (static_cast<double>(gx::MalwareURLMemoryBytes()) - entryBytes) / entries.size();
    std::printf("Malicious list in memory: %.1f MB for %.1f MB of entries\n",
                gx::MalwareURLMemoryBytes() / 1e6, entryBytes / 1e6);
    Report("Memory beyond the entries' bytes, per entry", perEntry, "bytes", "<= 24 bytes",
           perEntry <= 24);

    const auto probes = Probes(entries, 2000000);
    const double malwareRate = LookupsPerSecond(probes, gx::IsMalwareURL) / 1e6;
    Report("IsMalwareURL, 1 000 000 entries (lookups/s, one core)", malwareRate, "M/s", ">= 3 M/s",
           malwareRate >= 3);
    // What the engine asks for each request: the address as sent, then its canonical form.
    const double bothRate =
        LookupsPerSecond(probes,
                         [](std::string_view address) {
                             thread_local std::string canonical;
                             gx::WriteCanonicalAddress(address, canonical);
                             return gx::IsMalwareURL(address) ||
                                    gx::IsMalwareCanonicalURL(address, canonical);
                         }) /
        1e6;
    Report("  the same with the canonical form too (lookups/s)", bothRate, "M/s", ">= 3 M/s",
           bothRate >= 3);

    // 512 adult patterns over typical 80-byte addresses.
    std::vector<std::string> patterns;
    for (int i = 0; i < 512; ++i) {
        std::string pattern = generator.Next().substr(0, 5 + i % 10);
        patterns.push_back(pattern);
    }
    gx::LoadPornURLList(WriteList((folder / "adult.dat").string(), patterns, gx::kAdultRecordSize));
    std::vector<std::string> addresses;
    AddressGenerator other(11);
    while (addresses.size() < 500000) {
        std::string address = other.Next();
        if (address.size() >= 80) {
            addresses.push_back(address.substr(0, 80));
        }
    }
    const double adultRate = LookupsPerSecond(addresses, gx::IsPornURL) / 1e6;
    Report("IsPornURL, 512 patterns, 80-byte addresses (lookups/s)", adultRate, "M/s", ">= 2 M/s",
           adultRate >= 2);
    const std::vector<std::string> fewer(addresses.begin(), addresses.begin() + 20000);
    Report("  for scale: the plain scan, pattern by pattern",
           LookupsPerSecond(fewer, gx::IsAdultUrlByScan) / 1e6, "M/s", "none", true);

    WholeHostFigures(folder, entries, entryBytes);
    SwapUnderLoad(entries);

    std::filesystem::remove_all(folder);
    return 0;
}
