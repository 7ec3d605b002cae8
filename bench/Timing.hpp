#pragma once

// Latency figures shared by the benchmarks that time samples one by one.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <vector>

namespace velmora::bench {

inline double ms(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// The nearest-rank percentile (p in [0, 1]); 0 for no values.
inline double percentile(std::vector<double> v, double p) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    return v[std::size_t(std::min(double(v.size() - 1), std::ceil(p * double(v.size())) - 1))];
}

} // namespace velmora::bench
