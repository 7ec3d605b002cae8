#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <sys/mman.h>

namespace velmora {

// Zeroed pixel buffers. Large ones (a stroke's snapshots, a canvas) are mappings
// of their own on huge-page boundaries that ask for huge pages, so they are
// faulted in 2 MiB at a time, and come zeroed by the system: elements are not
// written again when the vector is made.
template <class T> struct PixelAllocator {
    using value_type = T;
    static constexpr size_t hugePage = size_t(2) << 20;

    PixelAllocator() = default;
    template <class U> PixelAllocator(const PixelAllocator<U>&) {}

    static size_t mapped(size_t bytes) { return (bytes + hugePage - 1) / hugePage * hugePage; }

    T* allocate(size_t n) {
        const size_t bytes = n * sizeof(T);
        if (bytes < hugePage) {
            void* p = std::calloc(n, sizeof(T));
            if (p == nullptr) {
                throw std::bad_alloc();
            }
            return static_cast<T*>(p);
        }
        const size_t length = mapped(bytes);
        void* p = mmap(nullptr, length + hugePage, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (p == MAP_FAILED) {
            throw std::bad_alloc();
        }
        auto* base = static_cast<uint8_t*>(p);
        auto* aligned = reinterpret_cast<uint8_t*>(
            (reinterpret_cast<uintptr_t>(base) + hugePage - 1) / hugePage * hugePage);
        if (aligned > base) {
            munmap(base, size_t(aligned - base));
        }
        if (const size_t tail = hugePage - size_t(aligned - base); tail > 0) {
            munmap(aligned + length, tail);
        }
#ifdef MADV_HUGEPAGE
        madvise(aligned, length, MADV_HUGEPAGE); // a hint only
#endif
        return reinterpret_cast<T*>(aligned);
    }

    void deallocate(T* p, size_t n) {
        const size_t bytes = n * sizeof(T);
        if (bytes < hugePage) {
            std::free(p);
        } else {
            munmap(p, mapped(bytes));
        }
    }

    // Value-initialised elements are zero already.
    template <class U> void construct(U*) {}
    template <class U, class... Args> void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(static_cast<Args&&>(args)...);
    }

    template <class U> bool operator==(const PixelAllocator<U>&) const {
        return true;
    }
};

} // namespace velmora
