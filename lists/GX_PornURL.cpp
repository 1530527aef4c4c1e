#include "lists/GX_PornURL.h"

#include <cstring>
#include <vector>

#include "lists/CanonicalAddress.h"
#include "lists/ListFile.h"
#include "lists/PatternMatcher.h"
#include "platform/program/GX_COM.h"

namespace gx {

PornPattern PornURLs[kPornURLSlots];
int PornURLCount = 0;

namespace {

// Built from the table after each load; what the lookups search.
PatternMatcher PornMatcher;
// The patterns with their escapes in canonical form, built only when that changes one of them;
// otherwise canonical addresses are searched in PornMatcher.
PatternMatcher PornCanonicalMatcher;
bool PornCanonicalDiffers = false;

void StorePattern(std::string_view entry) {
    ++PornURLCount;
    PornPattern& slot = PornURLs[PornURLCount];
    slot.length =
        static_cast<uint8_t>(entry.size() < kPornPatternMax ? entry.size() : kPornPatternMax);
    std::memcpy(slot.chars, entry.data(), slot.length);
}

void BuildMatchers() {
    std::vector<std::string_view> patterns;
    std::vector<std::string> canonical;
    bool differs = false;
    for (int i = 1; i <= PornURLCount; ++i) {
        patterns.push_back(PornURLs[i].view());
        canonical.push_back(CanonicalEscapes(patterns.back()));
        differs = differs || canonical.back() != patterns.back();
    }
    PornMatcher = PatternMatcher(patterns);
    PornCanonicalDiffers = differs;
    PornCanonicalMatcher =
        differs ? PatternMatcher(std::vector<std::string_view>(canonical.begin(), canonical.end()))
                : PatternMatcher();
}

}  // namespace

bool LoadPornURLList(const std::string& path) {
    PornURLCount = 0;
    bool fits = true;
    const bool whole = ReadListRecords(
        path, kPornRecordSize,
        [&fits](size_t records) { fits = records < static_cast<size_t>(kPornURLSlots); },
        [&fits](std::string_view entry) {
            // A list longer than the table is refused whole rather than cut short: a silently
            // dropped pattern would let its sites through.
            if (fits) {
                StorePattern(entry);
            }
        });
    if (!fits) {
        PornURLCount = 0;
    }
    BuildMatchers();
    return whole && fits;
}

bool LoadPornURLList() {
    return LoadPornURLList(ProgramDir() + kPornListFileName);
}

bool IsPornURL(std::string_view address) {
    return PornMatcher.FoundIn(address);
}

bool IsPornCanonicalURL(std::string_view address, std::string_view canonical) {
    if (PornCanonicalDiffers) {
        return PornCanonicalMatcher.FoundIn(canonical);
    }
    return canonical != address && PornMatcher.FoundIn(canonical);
}

bool IsPornURLByScan(std::string_view address) {
    for (int i = 1; i <= PornURLCount; ++i) {
        const std::string_view pattern = PornURLs[i].view();
        if (!pattern.empty() && address.find(pattern) != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

}  // namespace gx
