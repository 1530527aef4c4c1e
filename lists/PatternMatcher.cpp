#include "lists/PatternMatcher.h"

#include <deque>

namespace gx {
namespace {
constexpr uint32_t kNone = 0xFFFFFFFFu;
}

uint32_t PatternMatcher::AddState() {
    next_.resize(next_.size() + classCount_, kNone);
    return static_cast<uint32_t>(next_.size() / classCount_ - 1);
}

PatternMatcher::PatternMatcher(const std::vector<std::string_view>& patterns) {
    for (const auto pattern : patterns) {
        for (const char c : pattern) {
            auto& cls = byteClass_[static_cast<unsigned char>(c)];
            if (cls == 0) {
                cls = static_cast<uint16_t>(classCount_++);
            }
        }
    }
    // The trie: state 0 is the root; ends[s] tells that a pattern ends at s.
    AddState();
    std::vector<bool> ends(1, false);
    for (const auto pattern : patterns) {
        if (pattern.empty()) {
            continue;
        }
        uint32_t state = 0;
        for (const char c : pattern) {
            uint32_t& target =
                next_[state * classCount_ + byteClass_[static_cast<unsigned char>(c)]];
            if (target == kNone) {
                const uint32_t added = AddState();
                ends.push_back(false);
                // AddState may have moved the table: look the slot up again.
                next_[state * classCount_ + byteClass_[static_cast<unsigned char>(c)]] = added;
                state = added;
            } else {
                state = target;
            }
        }
        ends[state] = true;
    }
    // Breadth-first: resolve each missing transition through the failure state, and let a state
    // accept when its failure state accepts (a shorter pattern ends inside a longer one).
    const uint32_t states = static_cast<uint32_t>(ends.size());
    std::vector<uint32_t> failure(states, 0);
    std::deque<uint32_t> queue;
    for (uint32_t cls = 0; cls < classCount_; ++cls) {
        uint32_t& target = next_[cls];
        if (target == kNone) {
            target = 0;
        } else {
            failure[target] = 0;
            queue.push_back(target);
        }
    }
    while (!queue.empty()) {
        const uint32_t state = queue.front();
        queue.pop_front();
        ends[state] = ends[state] || ends[failure[state]];
        for (uint32_t cls = 0; cls < classCount_; ++cls) {
            uint32_t& target = next_[state * classCount_ + cls];
            const uint32_t viaFailure = next_[failure[state] * classCount_ + cls];
            if (target == kNone) {
                target = viaFailure;
            } else {
                failure[target] = viaFailure;
                queue.push_back(target);
            }
        }
    }
    for (auto& target : next_) {
        if (ends[target]) {
            target |= kAccepting;
        }
    }
}

bool PatternMatcher::FoundIn(std::string_view text) const {
    if (next_.empty()) {
        return false;
    }
    uint32_t state = 0;
    for (const char c : text) {
        state = next_[state * classCount_ + byteClass_[static_cast<unsigned char>(c)]];
        if (state & kAccepting) {
            return true;
        }
        state &= ~kAccepting;
    }
    return false;
}

}  // namespace gx
