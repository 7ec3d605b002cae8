#pragma once

// A direct reading of the stabiliser's definition: every sample recomputes the
// whole stroke. The incremental implementation must hand back the very same bits.
// Like it, this reads only up to what was handed back, and every smoothing pass
// keeps both ends of its input, so the stroke runs from its first sample to its last.

#include "RawInputStabilizer/RawPoint.hpp"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace velmora::reference {

inline std::vector<RawPoint> catmullRom(long k, RawPoint p0, RawPoint p1, RawPoint p2,
                                        RawPoint p3) {
    std::vector<RawPoint> out;
    const auto eval = [](double v0, double v1, double v2, double v3, double t) {
        const double a1 = 0.5 * (v2 - v0);
        const double a2 = v0 - 2.5 * v1 + 2 * v2 - 0.5 * v3;
        const double a3 = -0.5 * v0 + 1.5 * v1 - 1.5 * v2 + 0.5 * v3;
        return v1 + a1 * t + a2 * (t * t) + a3 * (t * t * t);
    };
    for (long j = 1; j <= k; ++j) {
        const double t = double(j) / double(k + 1);
        out.push_back({{eval(p0.position.x, p1.position.x, p2.position.x, p3.position.x, t),
                        eval(p0.position.y, p1.position.y, p2.position.y, p3.position.y, t)},
                       eval(p0.pressure, p1.pressure, p2.pressure, p3.pressure, t)});
    }
    return out;
}

inline std::vector<RawPoint> smoothingPass(const std::vector<RawPoint>& list, long r) {
    const long n = long(list.size());
    if (r < 1 || n < 3) {
        return list;
    }
    const double w = 1.0 / double(2 * r + 1);
    std::vector<RawPoint> averaged{list.front()};
    for (long i = 1; i <= n - 2; ++i) {
        double x = 0, y = 0, p = 0;
        for (long j = i - r; j <= i + r; ++j) {
            const RawPoint& q = list[size_t(std::clamp(j, 0L, n - 1))];
            x += q.position.x;
            y += q.position.y;
            p += q.pressure;
        }
        averaged.push_back({{x * w, y * w}, p * w});
    }
    averaged.push_back(list.back());
    const size_t m = averaged.size();
    std::vector<RawPoint> result{averaged[0]};
    const std::vector<RawPoint> front =
        catmullRom(10, averaged[0], averaged[0], averaged[1], averaged[2]);
    result.insert(result.end(), front.begin(), front.end());
    result.insert(result.end(), averaged.begin() + 1, averaged.end() - 1);
    const std::vector<RawPoint> end =
        catmullRom(10, averaged[m - 3], averaged[m - 2], averaged[m - 1], averaged[m - 1]);
    result.insert(result.end(), end.begin(), end.end());
    result.push_back(averaged[m - 1]);
    return result;
}

class Stabilizer {
public:
    explicit Stabilizer(long smoothing) : smoothing_(smoothing) {}

    std::vector<RawPoint> append(RawPoint p) {
        raw_.push_back(p);
        recompute();
        return take();
    }

    std::vector<RawPoint> finish() {
        recompute();
        outputIndex_ = long(output_.size()) - 1;
        std::vector<RawPoint> result = take();
        outputIndex_ = 0;
        readIndex_ = -1;
        raw_.clear();
        output_.clear();
        return result;
    }

private:
    std::vector<RawPoint> take() {
        const long first = readIndex_ + 1;
        const long last = std::min(outputIndex_, long(output_.size()) - 1);
        readIndex_ = std::max(readIndex_, last);
        if (last < first) {
            return {};
        }
        return {output_.begin() + first, output_.begin() + last + 1};
    }

    void recompute() {
        const long n = long(raw_.size());
        if (n == 0) {
            return;
        }
        if (smoothing_ == 0) {
            for (long k = outputIndex_; k < long(output_.size()) && output_[k] == raw_[k]; ++k) {
                ++outputIndex_;
            }
            output_ = raw_;
            return;
        }
        std::vector<RawPoint> dense{raw_[0]};
        for (long i = 2; i <= n; ++i) {
            const RawPoint p0 = raw_[size_t(i - 3 < 0 ? i - 2 : i - 3)];
            const RawPoint p1 = raw_[size_t(i - 2)];
            const RawPoint p2 = raw_[size_t(i - 1)];
            const RawPoint p3 = raw_[size_t(i == n ? i - 1 : i)];
            const long k = std::max(5 - (i - 2) / 3, 5 - (n - 1 - i) / 3);
            if (k > 0) {
                const std::vector<RawPoint> inserted = catmullRom(k, p0, p1, p2, p3);
                dense.insert(dense.end(), inserted.begin(), inserted.end());
            }
            dense.push_back(p2);
        }
        std::vector<RawPoint> s = dense;
        for (int pass = 0; pass < 3; ++pass) {
            s = smoothingPass(s, smoothing_);
        }
        for (long k = outputIndex_;
             k < long(output_.size()) && k < long(s.size()) && output_[k] == s[k]; ++k) {
            ++outputIndex_;
        }
        output_ = s;
    }

    long smoothing_;
    long outputIndex_ = 0;
    long readIndex_ = -1;
    std::vector<RawPoint> raw_;
    std::vector<RawPoint> output_;
};

} // namespace velmora::reference
