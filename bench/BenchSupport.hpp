#pragma once

#include <tbb/parallel_for.h>

#include <cstddef>
#include <cstring>

namespace velmora::bench {

// The reference every benchmark divides by: a parallel memcpy in fixed chunks.
inline void parallelCopy(void* dst, const void* src, size_t bytes) {
    constexpr size_t chunk = size_t(4) << 20;
    const size_t count = (bytes + chunk - 1) / chunk;
    tbb::parallel_for(size_t(0), count, [&](size_t i) {
        const size_t off = i * chunk;
        const size_t n = off + chunk > bytes ? bytes - off : chunk;
        std::memcpy(static_cast<char*>(dst) + off, static_cast<const char*>(src) + off, n);
    });
}

} // namespace velmora::bench
