#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <functional>
#include <tbb/parallel_for.h>
#include <vector>

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

// The shortest of `repeats` runs of `work`, in seconds.
inline double bestSeconds(const std::function<void()>& work, int repeats) {
    double best = 1e30;
    for (int i = 0; i < repeats; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        work();
        const auto t1 = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
    }
    return best;
}

// Bytes read plus written per second of a parallel memcpy of `bytes` (at most
// 1 GiB), measured now, so that a case called right after sees the same load.
inline double copyBandwidth(size_t bytes = size_t(1) << 30, int repeats = 5) {
    static std::vector<char> src(size_t(1) << 30, 1), dst(size_t(1) << 30, 0);
    bytes = std::min(bytes, src.size());
    const double t = bestSeconds([&] { parallelCopy(dst.data(), src.data(), bytes); }, repeats);
    return 2.0 * double(bytes) / t;
}

} // namespace velmora::bench
