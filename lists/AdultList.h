// One loaded list of adult-site patterns, ready for the lookups: the automaton over the patterns
// and, when bringing their escapes to canonical form changes one of them, a second automaton
// over those forms. Built once, then never changed (see MalwareList.h for why).
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "lists/PatternMatcher.h"

namespace gx {

class AdultList {
  public:
    explicit AdultList(const std::vector<std::string_view>& patterns);

    // A pattern occurs in the address.
    bool FoundIn(std::string_view address) const { return matcher_.FoundIn(address); }
    // A pattern in canonical form occurs in the canonical address (see GX_PornURL.h).
    bool FoundInCanonical(std::string_view address, std::string_view canonical) const;
    size_t PatternCount() const { return count_; }

  private:
    PatternMatcher matcher_;
    PatternMatcher canonicalMatcher_;
    bool canonicalDiffers_ = false;
    size_t count_ = 0;
};

}  // namespace gx
