// Block-list figures: loading a million-record malicious list against reading the same file,
// the memory it holds, and the speed of both lookups on one core.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "lists/CanonicalAddress.h"
#include "lists/GX_MalwareURL.h"
#include "lists/GX_PornURL.h"
#include "lists/ListFile.h"

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
    gx::LoadPornURLList(WriteList((folder / "adult.dat").string(), patterns, gx::kPornRecordSize));
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
           LookupsPerSecond(fewer, gx::IsPornURLByScan) / 1e6, "M/s", "none", true);

    std::filesystem::remove_all(folder);
    return 0;
}
