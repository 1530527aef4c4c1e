// A fixed-capacity array in its own anonymous memory mapping. Only the pages that are written
// are backed by memory, so a generous capacity costs nothing until used, and the unused tail
// can be given back. Large buffers ask for huge pages, which makes filling them cheaper.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <new>
#include <utility>

namespace gx {

template <typename T>
class PageBuffer {
  public:
    PageBuffer() = default;
    ~PageBuffer() { Release(); }
    PageBuffer(const PageBuffer&) = delete;
    PageBuffer& operator=(const PageBuffer&) = delete;

    // Replaces the buffer by a zero-filled one of `count` elements.
    void Allocate(size_t count) {
        Release();
        if (count == 0) {
            return;
        }
        bytes_ = count * sizeof(T);
        void* area = ::mmap(nullptr, bytes_, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (area == MAP_FAILED) {
            bytes_ = 0;
            throw std::bad_alloc();
        }
        ::madvise(area, bytes_, MADV_HUGEPAGE);
        data_ = static_cast<T*>(area);
        count_ = count;
    }

    // Keeps the first `count` elements (rounded up to whole pages) and unmaps the rest.
    void Shrink(size_t count) {
        constexpr size_t kPage = 4096;
        const size_t kept = (count * sizeof(T) + kPage - 1) / kPage * kPage;
        if (kept == 0) {
            Release();
        } else if (kept < bytes_) {
            ::munmap(reinterpret_cast<char*>(data_) + kept, bytes_ - kept);
            bytes_ = kept;
            count_ = kept / sizeof(T);
        }
    }

    void Release() {
        if (data_ != nullptr) {
            ::munmap(data_, bytes_);
        }
        data_ = nullptr;
        bytes_ = 0;
        count_ = 0;
    }

    T* data() { return data_; }
    const T* data() const { return data_; }
    T& operator[](size_t i) { return data_[i]; }
    const T& operator[](size_t i) const { return data_[i]; }
    size_t size() const { return count_; }

  private:
    T* data_ = nullptr;
    size_t bytes_ = 0;
    size_t count_ = 0;
};

}  // namespace gx
