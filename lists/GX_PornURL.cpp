#include "lists/GX_PornURL.h"

#include <cstring>
#include <vector>

#include "lists/ListFile.h"
#include "lists/ListsInUse.h"
#include "platform/program/GX_COM.h"

namespace gx {

AdultPattern PornURLs[kAdultUrlSlots];
int PornURLCount = 0;

namespace {

void StorePattern(std::string_view entry) {
    ++PornURLCount;
    AdultPattern& slot = PornURLs[PornURLCount];
    slot.length =
        static_cast<uint8_t>(entry.size() < kAdultPatternMax ? entry.size() : kAdultPatternMax);
    std::memcpy(slot.chars, entry.data(), slot.length);
}

std::shared_ptr<const AdultList> ListOfTable() {
    std::vector<std::string_view> patterns;
    for (int i = 1; i <= PornURLCount; ++i) {
        patterns.push_back(PornURLs[i].view());
    }
    return std::make_shared<const AdultList>(patterns);
}

}  // namespace

bool LoadPornURLList(const std::string& path) {
    PornURLCount = 0;
    bool fits = true;
    const bool whole = ReadListRecords(
        path, kAdultRecordSize,
        [&fits](size_t records) { fits = records < static_cast<size_t>(kAdultUrlSlots); },
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
    BlockLists lists;
    lists.adult = ListOfTable();
    lists.origin = ListsInUse()->origin;
    PublishLists(std::move(lists));
    return whole && fits;
}

bool LoadPornURLList() {
    return LoadPornURLList(ProgramDir() + kAdultListFileName);
}

std::shared_ptr<const AdultList> SetAdultUrlTable(const std::vector<std::string>& patterns) {
    PornURLCount = 0;
    for (const std::string& pattern : patterns) {
        if (PornURLCount + 1 >= kAdultUrlSlots) {
            break;
        }
        StorePattern(pattern);
    }
    return ListOfTable();
}

bool IsPornURL(std::string_view address) {
    return ListsInUse()->adult->FoundIn(address);
}

bool IsAdultCanonicalUrl(std::string_view address, std::string_view canonical) {
    return ListsInUse()->adult->FoundInCanonical(address, canonical);
}

bool IsAdultUrlByScan(std::string_view address) {
    for (int i = 1; i <= PornURLCount; ++i) {
        const std::string_view pattern = PornURLs[i].view();
        if (!pattern.empty() && address.find(pattern) != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

}  // namespace gx
