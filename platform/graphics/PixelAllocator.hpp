#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <sys/mman.h>

namespace velmora {

// Allocates large pixel buffers (a stroke's snapshots, a canvas) on huge-page
// boundaries and asks for huge pages, so they are faulted in 2 MiB at a time, not
// page by page; small ones come from the ordinary allocator.
template <class T> struct PixelAllocator {
    using value_type = T;
    static constexpr size_t hugePage = size_t(2) << 20;

    PixelAllocator() = default;
    template <class U> PixelAllocator(const PixelAllocator<U>&) {}

    T* allocate(size_t n) {
        const size_t bytes = n * sizeof(T);
        if (bytes < hugePage) {
            return std::allocator<T>().allocate(n);
        }
        const size_t rounded = (bytes + hugePage - 1) / hugePage * hugePage;
        void* p = std::aligned_alloc(hugePage, rounded);
        if (p == nullptr) {
            throw std::bad_alloc();
        }
#ifdef MADV_HUGEPAGE
        madvise(p, rounded, MADV_HUGEPAGE); // a hint only
#endif
        return static_cast<T*>(p);
    }

    void deallocate(T* p, size_t n) {
        if (n * sizeof(T) < hugePage) {
            std::allocator<T>().deallocate(p, n);
        } else {
            std::free(p);
        }
    }

    template <class U> bool operator==(const PixelAllocator<U>&) const {
        return true;
    }
};

} // namespace velmora
