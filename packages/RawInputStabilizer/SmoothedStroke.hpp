#pragma once

#include "RawInputStabilizer/RawPoint.hpp"

#include <array>
#include <cstddef>
#include <vector>

namespace velmora {

// The stroke state of the input stabiliser: every raw sample, the densified and
// three times smoothed sequence computed from them, and how much of it is final.
// The sequence runs from the first sample to the last however few there are
// (a press and one far move): smoothing shapes the way between them only.
//
// The sequence is defined as if recomputed from the whole stroke on every sample,
// but only the tail that a new sample can reach is recomputed: each element is
// evaluated by the same expression in the same order as a full recomputation,
// so the results are bit for bit the same while the cost per sample stays bounded.
class SmoothedStroke {
public:
    static constexpr size_t maximumSmoothing = 50;

    explicit SmoothedStroke(size_t smoothing);

    size_t smoothing() const { return smoothing_; }

    // Adds a sample and returns the points that became ready (possibly none).
    std::vector<RawPoint> append(const RawPoint& point);
    // Returns every point not yet handed back and starts the next stroke.
    std::vector<RawPoint> finish();

    // The points uncovered by a Catmull-Rom spline between p1 and p2, `count`
    // of them, strictly inside; appended to `out`.
    static void catmullRomPoints(int count, const RawPoint& p0, const RawPoint& p1,
                                 const RawPoint& p2, const RawPoint& p3,
                                 std::vector<RawPoint>& out);

private:
    // One smoothing pass kept with the size of the input it was computed from.
    struct Pass {
        std::vector<RawPoint> points;
        size_t inputCount = 0;
    };

    void recomputeOutput();
    std::vector<RawPoint> takeReadyPoints();
    void reset();

    // Brings `dense_` up to the current raw samples; returns the first index
    // of it that may differ from before.
    size_t updateDense();
    // Recomputes the pass over `input`, of which only indices from `changed` on
    // may differ from the last call, into `out` from the returned index on.
    size_t updatePass(const std::vector<RawPoint>& input, size_t changed, Pass& pass,
                      std::vector<RawPoint>& out) const;
    void walkOutputIndex(size_t oldCount, size_t unchanged);

    size_t smoothing_;
    std::ptrdiff_t outputIndex_ = 0;
    std::ptrdiff_t readIndex_ = -1;
    std::vector<RawPoint> raw_;

    // Densified sequence, per segment start offset and inserted point count.
    std::vector<RawPoint> dense_;
    std::vector<size_t> segmentStart_;
    std::vector<int> segmentInserts_;
    size_t denseRawCount_ = 0;

    std::array<Pass, 3> passes_;
    std::vector<RawPoint> tail_; // scratch for the last pass's recomputed tail
    size_t outputCount_ = 0;     // size of the output sequence after the last recomputation
};

} // namespace velmora
