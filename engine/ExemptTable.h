// A fixed-size, append-only table of identifiers that several threads append to and scan at
// once without a lock. An append reserves a slot by an atomic count, stores the value, then
// marks the slot filled (release); a scan reads the reserved count and looks only at filled
// slots (acquire), so it never sees a value that is counted but not yet stored.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>

namespace gx {

template <typename Value, size_t Capacity>
class ExemptTable {
  public:
    // False when the table is full: nothing is stored.
    bool Add(Value value) {
        size_t slot = reserved_.load(std::memory_order_relaxed);
        do {
            if (slot >= Capacity)
                return false;
        } while (!reserved_.compare_exchange_weak(slot, slot + 1, std::memory_order_relaxed));
        values_[slot].store(value, std::memory_order_relaxed);
        filled_[slot].store(true, std::memory_order_release);
        return true;
    }

    // Linear scan from the first entry, the whole value compared.
    bool Contains(Value value) const {
        size_t count = std::min(reserved_.load(std::memory_order_acquire), Capacity);
        for (size_t slot = 0; slot < count; ++slot) {
            if (filled_[slot].load(std::memory_order_acquire) &&
                values_[slot].load(std::memory_order_relaxed) == value) {
                return true;
            }
        }
        return false;
    }

    // Slots reserved so far (their values may still be on their way).
    size_t Count() const { return std::min(reserved_.load(std::memory_order_acquire), Capacity); }

    // Only while no other thread uses the table (before the engine starts).
    void Clear() {
        for (auto& filled : filled_)
            filled.store(false, std::memory_order_relaxed);
        reserved_.store(0, std::memory_order_release);
    }

  private:
    std::atomic<size_t> reserved_{0};
    std::atomic<Value> values_[Capacity] = {};
    std::atomic<bool> filled_[Capacity] = {};
};

}  // namespace gx
