#include "lists/AdultList.h"

#include <string>

#include "lists/CanonicalAddress.h"

namespace gx {

AdultList::AdultList(const std::vector<std::string_view>& patterns)
    : matcher_(patterns), count_(patterns.size()) {
    std::vector<std::string> canonical;
    for (const std::string_view pattern : patterns) {
        canonical.push_back(CanonicalEscapes(pattern));
        canonicalDiffers_ = canonicalDiffers_ || canonical.back() != pattern;
    }
    if (canonicalDiffers_) {
        canonicalMatcher_ =
            PatternMatcher(std::vector<std::string_view>(canonical.begin(), canonical.end()));
    }
}

bool AdultList::FoundInCanonical(std::string_view address, std::string_view canonical) const {
    if (canonicalDiffers_) {
        return canonicalMatcher_.FoundIn(canonical);
    }
    return canonical != address && matcher_.FoundIn(canonical);
}

}  // namespace gx
