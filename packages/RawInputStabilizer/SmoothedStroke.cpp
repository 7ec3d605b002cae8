#include "RawInputStabilizer/SmoothedStroke.hpp"

#include "foundation/FatalError.hpp"

#include <algorithm>

namespace velmora {

namespace {

// Points added at each end of a smoothing pass.
constexpr int kEndPoints = 10;

// Points inserted between raw samples i-2 and i-1 of n: dense near both ends
// of the stroke, none in its middle.
int insertedPoints(std::ptrdiff_t i, std::ptrdiff_t n) {
    const std::ptrdiff_t fromStart = 5 - (i - 2) / 3;
    const std::ptrdiff_t fromEnd = 5 - (n - 1 - i) / 3; // truncates toward zero
    return int(std::max<std::ptrdiff_t>({fromStart, fromEnd, 0}));
}

} // namespace

SmoothedStroke::SmoothedStroke(size_t smoothing) : smoothing_(smoothing) {
    precondition(smoothing <= maximumSmoothing, "Smoothing out of range");
}

void SmoothedStroke::catmullRomPoints(int count, const RawPoint& p0, const RawPoint& p1,
                                      const RawPoint& p2, const RawPoint& p3,
                                      std::vector<RawPoint>& out) {
    if (count < 1) {
        return;
    }
    const auto coefficients = [](double v0, double v1, double v2, double v3) {
        struct {
            double a1, a2, a3;
        } c{0.5 * (v2 - v0), v0 - 2.5 * v1 + 2 * v2 - 0.5 * v3,
            -0.5 * v0 + 1.5 * v1 - 1.5 * v2 + 0.5 * v3};
        return c;
    };
    const auto x = coefficients(p0.position.x, p1.position.x, p2.position.x, p3.position.x);
    const auto y = coefficients(p0.position.y, p1.position.y, p2.position.y, p3.position.y);
    const auto p = coefficients(p0.pressure, p1.pressure, p2.pressure, p3.pressure);
    for (int j = 1; j <= count; ++j) {
        const double t = double(j) / double(count + 1);
        const double t2 = t * t, t3 = t * t * t;
        out.push_back({{p1.position.x + x.a1 * t + x.a2 * t2 + x.a3 * t3,
                        p1.position.y + y.a1 * t + y.a2 * t2 + y.a3 * t3},
                       p1.pressure + p.a1 * t + p.a2 * t2 + p.a3 * t3});
    }
}

std::vector<RawPoint> SmoothedStroke::append(const RawPoint& point) {
    raw_.push_back(point);
    recomputeOutput();
    return takeReadyPoints();
}

std::vector<RawPoint> SmoothedStroke::finish() {
    recomputeOutput();
    outputIndex_ = std::ptrdiff_t(outputCount_) - 1;
    std::vector<RawPoint> ready = takeReadyPoints();
    reset();
    return ready;
}

void SmoothedStroke::reset() {
    outputIndex_ = 0;
    readIndex_ = -1;
    raw_.clear();
    dense_.clear();
    segmentStart_.clear();
    segmentInserts_.clear();
    denseRawCount_ = 0;
    for (Pass& pass : passes_) {
        pass.points.clear();
        pass.inputCount = 0;
    }
    outputCount_ = 0;
}

std::vector<RawPoint> SmoothedStroke::takeReadyPoints() {
    const std::vector<RawPoint>& output = smoothing_ == 0 ? raw_ : passes_.back().points;
    const std::ptrdiff_t first = readIndex_ + 1;
    const std::ptrdiff_t last = std::min(outputIndex_, std::ptrdiff_t(outputCount_) - 1);
    // Only what was really handed back counts as read; marking the index past
    // the end read would drop the first point of every smoothed stroke.
    readIndex_ = std::max(readIndex_, last);
    if (last < first) {
        return {};
    }
    return {output.begin() + first, output.begin() + last + 1};
}

void SmoothedStroke::recomputeOutput() {
    if (raw_.empty()) {
        return;
    }
    if (smoothing_ == 0) {
        // The previous output is the raw prefix itself, so comparing it with the
        // new one only finds points that are not equal to themselves (NaN).
        std::ptrdiff_t k = outputIndex_;
        while (k < std::ptrdiff_t(outputCount_) && raw_[k] == raw_[k]) {
            ++outputIndex_;
            ++k;
        }
        outputCount_ = raw_.size();
        return;
    }
    size_t changed = updateDense();
    const std::vector<RawPoint>* input = &dense_;
    for (size_t level = 0; level < passes_.size(); ++level) {
        Pass& pass = passes_[level];
        const size_t start = updatePass(*input, changed, pass, tail_);
        if (level + 1 == passes_.size()) {
            walkOutputIndex(pass.points.size(), start);
        }
        pass.points.resize(start);
        pass.points.insert(pass.points.end(), tail_.begin(), tail_.end());
        changed = start;
        input = &pass.points;
    }
    outputCount_ = passes_.back().points.size();
}

void SmoothedStroke::walkOutputIndex(size_t oldCount, size_t unchanged) {
    const std::vector<RawPoint>& old = passes_.back().points;
    const size_t newCount = unchanged + tail_.size();
    for (size_t k = size_t(outputIndex_); k < oldCount && k < newCount; ++k) {
        const RawPoint& now = k < unchanged ? old[k] : tail_[k - unchanged];
        if (!(old[k] == now)) {
            break;
        }
        ++outputIndex_;
    }
}

size_t SmoothedStroke::updateDense() {
    const std::ptrdiff_t n = std::ptrdiff_t(raw_.size());
    const std::ptrdiff_t previous = std::ptrdiff_t(denseRawCount_);
    if (n == previous) {
        return dense_.size();
    }
    // The last segment gains a real following sample; besides it only the
    // segments near the end can change their number of inserted points.
    std::ptrdiff_t first = std::max<std::ptrdiff_t>(previous, 2);
    for (std::ptrdiff_t i = std::max<std::ptrdiff_t>(2, previous - 20); i < previous; ++i) {
        if (segmentInserts_[i - 2] != insertedPoints(i, n)) {
            first = i;
            break;
        }
    }
    if (size_t(first - 2) < segmentStart_.size()) {
        dense_.resize(segmentStart_[first - 2]);
        segmentStart_.resize(first - 2);
        segmentInserts_.resize(first - 2);
    }
    // The stroke begins at its first sample, however few follow it.
    if (previous == 0) {
        dense_.push_back(raw_[0]);
    }
    const size_t changed = previous == 0 ? 0 : dense_.size();
    for (std::ptrdiff_t i = first; i <= n; ++i) {
        const int k = insertedPoints(i, n);
        segmentStart_.push_back(dense_.size());
        segmentInserts_.push_back(k);
        const RawPoint& p0 = raw_[i - 3 < 0 ? i - 2 : i - 3];
        const RawPoint& p3 = raw_[i == n ? i - 1 : i];
        catmullRomPoints(k, p0, raw_[i - 2], raw_[i - 1], p3, dense_);
        dense_.push_back(raw_[i - 1]);
    }
    denseRawCount_ = size_t(n);
    return changed;
}

size_t SmoothedStroke::updatePass(const std::vector<RawPoint>& input, size_t changed, Pass& pass,
                                  std::vector<RawPoint>& out) const {
    const size_t count = input.size();
    const size_t r = smoothing_;
    const size_t previousCount = pass.inputCount;
    out.clear();
    pass.inputCount = count;
    if (count < 3) {
        out = input;
        return 0;
    }
    const auto clampIndex = [count](std::ptrdiff_t j) {
        return size_t(std::clamp<std::ptrdiff_t>(j, 0, std::ptrdiff_t(count) - 1));
    };
    const double w = 1 / double(2 * r + 1);
    // R[j]: the input's two ends as they are, the average around input j between them.
    const auto smoothed = [&](size_t j) -> RawPoint {
        if (j == 0 || j == count - 1) {
            return input[j];
        }
        double x = 0, y = 0, p = 0;
        if (j >= r && j + r < count) {
            for (const RawPoint *q = &input[j - r], *end = &input[j + r] + 1; q != end; ++q) {
                x += q->position.x;
                y += q->position.y;
                p += q->pressure;
            }
        } else {
            for (std::ptrdiff_t k = std::ptrdiff_t(j - r); k <= std::ptrdiff_t(j + r); ++k) {
                const RawPoint& q = input[clampIndex(k)];
                x += q.position.x;
                y += q.position.y;
                p += q.pressure;
            }
        }
        return {{x * w, y * w}, p * w};
    };
    // The averages below input index `changed` - r saw only unchanged inputs;
    // the points after the first depend on the first three.
    size_t first = changed > r ? changed - r : 0;
    if (first < 3 || previousCount < 3) {
        first = 0;
    }
    const size_t start = first == 0 ? 0 : kEndPoints + first;
    if (first == 0) {
        const RawPoint r0 = input[0], r1 = smoothed(1), r2 = smoothed(2);
        out.push_back(r0);
        catmullRomPoints(kEndPoints, r0, r0, r1, r2, out);
        first = 1;
    }
    for (size_t j = first; j + 1 < count; ++j) {
        out.push_back(smoothed(j));
    }
    const RawPoint last = input[count - 1];
    catmullRomPoints(kEndPoints, smoothed(count - 3), smoothed(count - 2), last, last, out);
    out.push_back(last);
    return start;
}

} // namespace velmora
