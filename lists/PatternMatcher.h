// Finds whether any of a set of byte patterns occurs in a text, in one pass over the text.
//
// A deterministic automaton over the patterns (Aho-Corasick with every transition resolved in
// advance): each text byte costs one table read, whatever the number of patterns. Bytes that
// occur in no pattern share one column of the table, which keeps it small. Empty patterns never
// match. Immutable once built, so any number of threads may search at once.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace gx {

class PatternMatcher {
  public:
    PatternMatcher() = default;
    explicit PatternMatcher(const std::vector<std::string_view>& patterns);

    bool FoundIn(std::string_view text) const;

  private:
    static constexpr uint32_t kAccepting = 0x80000000u;

    uint32_t AddState();

    std::array<uint16_t, 256> byteClass_{};  // 0 = a byte that occurs in no pattern
    uint32_t classCount_ = 1;
    // next_[state * classCount_ + class]: the next state, kAccepting set when a pattern ends there.
    std::vector<uint32_t> next_;
};

}  // namespace gx
