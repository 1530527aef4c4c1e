// The list of adult-site patterns (gx_pu.dat): an address is adult when any pattern occurs in it
// as a contiguous run of identical bytes (letter case significant).
//
// Loaded on the main thread before the engine starts; a load publishes new lists in use
// (ListsInUse.h), so it may run while lookups run. PornURLs is the table of the last load, kept
// on the main thread; the lookups search the lists in use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace gx {

inline constexpr char kAdultListFileName[] = "gx_pu.dat";
inline constexpr int kAdultUrlSlots = 513;  // slot 0 unused: at most 512 patterns
inline constexpr size_t kAdultPatternMax = 128;

// One slot of the pattern table: a short string of up to 128 characters.
struct AdultPattern {
    uint8_t length = 0;
    char chars[kAdultPatternMax] = {};
    std::string_view view() const { return {chars, length}; }
};

// The loaded patterns occupy slots 1 to PornURLCount, in file order.
extern AdultPattern PornURLs[kAdultUrlSlots];
extern int PornURLCount;

// Loads ProgramDir() + "gx_pu.dat". True when the whole file was read. A file of more than 512
// records is refused (false, nothing loaded): the table has 512 slots.
bool LoadPornURLList();
bool LoadPornURLList(const std::string& path);

class AdultList;
// Fills the table with these patterns (at most 512, each cut to 128 characters) and returns the
// list built from it, for a refresh to publish. Main thread.
std::shared_ptr<const AdultList> SetAdultUrlTable(const std::vector<std::string>& patterns);

// True when a loaded pattern occurs in the address. Uses a multi-pattern automaton.
bool IsPornURL(std::string_view address);

// True when a loaded pattern, its escapes brought to canonical form (see CanonicalAddress.h),
// occurs in the canonical form of an address. `canonical` is CanonicalAddress(address); the
// patterns as written are searched only when it differs from the address (IsPornURL has
// searched them for that).
bool IsAdultCanonicalUrl(std::string_view address, std::string_view canonical);

// The same answer by a plain scan of the table, pattern by pattern (reference for tests).
bool IsAdultUrlByScan(std::string_view address);

}  // namespace gx
