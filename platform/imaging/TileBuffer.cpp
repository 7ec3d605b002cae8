#include "imaging/TileBuffer.hpp"

#include "foundation/FatalError.hpp"

#include <cstdlib>
#include <new>

namespace velmora::imaging {

namespace {
constexpr size_t alignFloats = 16; // 64 bytes
constexpr size_t minimumBlock = size_t(1) << 20;
constexpr unsigned offsetBits = 40;

size_t roundUp(size_t n) {
    return (n + alignFloats - 1) / alignFloats * alignFloats;
}
} // namespace

void ScratchArena::Free::operator()(float* p) const {
    std::free(p);
}

float* ScratchArena::take(size_t floats) {
    floats = roundUp(floats == 0 ? 1 : floats);
    size_t block = used_ >> offsetBits;
    size_t offset = used_ & ((size_t(1) << offsetBits) - 1);
    if (block < blocks_.size() && offset + floats <= blocks_[block].size) {
        used_ = (block << offsetBits) | (offset + floats);
        return blocks_[block].data.get() + offset;
    }
    // Move on to the next block; anything past the current one is free, so a
    // block too small to serve can be replaced.
    if (offset != 0) {
        ++block;
    }
    if (block >= blocks_.size()) {
        blocks_.resize(block + 1);
    }
    Block& b = blocks_[block];
    if (b.size < floats) {
        const size_t size = std::max(floats, minimumBlock);
        void* p = std::aligned_alloc(alignFloats * sizeof(float), size * sizeof(float));
        if (p == nullptr) {
            throw std::bad_alloc();
        }
        b.data.reset(static_cast<float*>(p));
        b.size = size;
    }
    used_ = (block << offsetBits) | floats;
    return b.data.get();
}

TileBuffer ScratchArena::allocate(int64_t width, int64_t height) {
    precondition(width >= 0 && height >= 0, "Negative tile size");
    TileBuffer t;
    t.width = width;
    t.height = height;
    const size_t plane = roundUp(size_t(width) * size_t(height));
    float* base = take(plane * 4);
    for (int c = 0; c < 4; ++c) {
        t.planes[c] = base + plane * size_t(c);
    }
    return t;
}

std::unique_ptr<ScratchArena> ScratchPool::acquire() {
    {
        std::lock_guard lock(mutex_);
        if (!idle_.empty()) {
            auto a = std::move(idle_.back());
            idle_.pop_back();
            return a;
        }
    }
    return std::make_unique<ScratchArena>();
}

void ScratchPool::giveBack(std::unique_ptr<ScratchArena> arena) {
    arena->release(0);
    std::lock_guard lock(mutex_);
    idle_.push_back(std::move(arena));
}

void ScratchPool::clear() {
    std::vector<std::unique_ptr<ScratchArena>> dropped;
    std::lock_guard lock(mutex_);
    dropped.swap(idle_);
}

size_t ScratchPool::idleCount() const {
    std::lock_guard lock(mutex_);
    return idle_.size();
}

} // namespace velmora::imaging
