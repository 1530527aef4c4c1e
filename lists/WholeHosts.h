// Whole-host entries of the malicious list: "host/*" (every address on that host) and
// "*.host/*" (on the host and all its subdomains), a port only where the entry names one.
//
// They are written into gx_mu.dat as their literal text, which the exact lookup never matches
// (no request target is "*"), so older readers stay correct. At load they also go into this
// set; a request is malicious when its exact address is listed or its host is. Hosts are
// compared lower-cased and without a trailing dot; IP addresses are hosts like any other.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

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
    void Clear();
    void Add(const WholeHostEntry& entry);
    // Is the address on a listed host (or a subdomain of a "*." entry)?
    bool Matches(std::string_view address) const;
    size_t size() const { return hosts_.size() + domains_.size(); }

  private:
    bool Holds(const std::unordered_set<std::string>& set, std::string_view name,
               std::string_view port) const;

    std::unordered_set<std::string> hosts_;
    std::unordered_set<std::string> domains_;
};

}  // namespace gx
