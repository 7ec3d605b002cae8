#pragma once

#include "imaging/ImagingGeometry.hpp"

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

namespace velmora::imaging {

// Premultiplied float pixels of one rectangle, as four planes (R, G, B, A)
// of width × height floats without row padding, so kernels run over a
// plane as one contiguous array.
struct TileBuffer {
    float* planes[4] = {};
    int64_t width = 0;
    int64_t height = 0;

    size_t count() const { return size_t(width) * size_t(height); }
    float* row(int c, int64_t y) const { return planes[c] + size_t(y) * size_t(width); }
};

// Bump allocator for the scratch tiles of one evaluation task; released in
// stack order with marks.
class ScratchArena {
public:
    TileBuffer allocate(int64_t width, int64_t height);
    size_t mark() const { return used_; }
    void release(size_t mark) { used_ = mark; }

private:
    float* take(size_t floats);

    struct Free {
        void operator()(float* p) const;
    };
    struct Block {
        std::unique_ptr<float, Free> data;
        size_t size = 0;
    };
    std::vector<Block> blocks_;
    size_t used_ = 0; // (block index << 40) | offset in floats
};

// Arenas kept between renders; one is lent to each task. Shared by a context
// and the renders it has started, which may outlive it.
class ScratchPool {
public:
    std::unique_ptr<ScratchArena> acquire();
    void giveBack(std::unique_ptr<ScratchArena> arena);
    void clear();
    size_t idleCount() const;

private:
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<ScratchArena>> idle_;
};

// Scoped use of an arena: everything allocated inside is released at exit.
class ScratchScope {
public:
    explicit ScratchScope(ScratchArena& arena) : arena_(arena), mark_(arena.mark()) {}
    ~ScratchScope() { arena_.release(mark_); }
    ScratchScope(const ScratchScope&) = delete;
    ScratchScope& operator=(const ScratchScope&) = delete;

private:
    ScratchArena& arena_;
    size_t mark_;
};

} // namespace velmora::imaging
