// Whole-host entries of the malicious list: "host/*" (every address on that host) and
// "*.host/*" (on the host and all its subdomains), a port only where the entry names one.
//
// They are written into gx_mu.dat as their literal text, which the exact lookup never matches
// (no request target is "*"), so older readers stay correct. At load they also go into this
// set; a request is malicious when its exact address is listed or its host is. Hosts are
// compared lower-cased and without a trailing dot; IP addresses are hosts like any other.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace gx {

struct WholeHostEntry {
    std::string host;  // lower case, no trailing dot, ":port" kept when the entry names one
    bool subdomains = false;
};

// The entry's host, when the entry is a whole-host one; nullopt for any other entry.
std::optional<WholeHostEntry> ParseWholeHostEntry(std::string_view entry);

// The host of an address as the engine rebuilds it ("host[:port]/path", or with a leading
// "http://" or "https://"), lower-cased, its trailing dot removed, port kept.
std::string AddressHost(std::string_view address);

class WholeHostSet {
  public:
    WholeHostSet() = default;
    // Not copied: the set points into its own strings and into its list's.
    WholeHostSet(const WholeHostSet&) = delete;
    WholeHostSet& operator=(const WholeHostSet&) = delete;

    void Clear();
    // Adds the entry's host, copied.
    void Add(const WholeHostEntry& entry);
    // The same, where `written` is the entry's text as a list holds it and outlives the set:
    // when the host appears in it as it is (the usual case), the set only points at it.
    void Add(const WholeHostEntry& entry, std::string_view written);
    // Is the address on a listed host (or a subdomain of a "*." entry)?
    bool Matches(std::string_view address) const;
    size_t size() const { return hosts_.set.size() + domains_.set.size(); }

  private:
    // Looked up by string_view, without making a string of it.
    // A polynomial of the bytes, summed from the right: one pass over a host yields the value
    // of every suffix, so each label costs no hashing of its own (Mixed for the final value).
    static constexpr uint64_t kBase = 0x100000001B3ULL;
    static uint64_t Mixed(uint64_t sum) {
        sum ^= sum >> 33;
        sum *= 0xFF51AFD7ED558CCDULL;
        return sum ^ (sum >> 33);
    }
    struct NameHash {
        size_t operator()(std::string_view name) const;
    };
    // The names of one kind of entry, with a bit filter in front of them: most requests are on
    // no listed host, and a bit in a small table answers that for most names without touching
    // the set (a cache miss or two for each of the host's labels otherwise).
    struct Names {
        std::unordered_set<std::string_view, NameHash> set;
        std::vector<uint64_t> filter;  // two bits of one word set for each name (BitsOf)
        bool hasPorts = false;         // some name is "host:port"
        void Insert(std::string_view name);
        // `sum` is the polynomial of the name (NameHash before mixing).
        bool Contains(std::string_view name, uint64_t sum) const;
    };

    // `key` is "name" or "name:port"; the name is its first nameLength characters, nameSum its
    // polynomial; portSum and portScale those of ":port" (portScale = kBase^length).
    static bool Holds(const Names& names, std::string_view key, size_t nameLength, uint64_t nameSum,
                      uint64_t portSum, uint64_t portScale);

    Names hosts_;
    Names domains_;
    std::deque<std::string> owned_;  // hosts that no list text holds as they are
};

}  // namespace gx
