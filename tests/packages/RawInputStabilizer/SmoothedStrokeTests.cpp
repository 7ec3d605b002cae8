#include "RawInputStabilizer/SmoothedStroke.hpp"
#include "ReferenceStabilizer.hpp"

#include <bit>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <random>

using namespace velmora;

namespace {

bool sameBits(const std::vector<RawPoint>& a, const std::vector<RawPoint>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::bit_cast<uint64_t>(a[i].position.x) != std::bit_cast<uint64_t>(b[i].position.x) ||
            std::bit_cast<uint64_t>(a[i].position.y) != std::bit_cast<uint64_t>(b[i].position.y) ||
            std::bit_cast<uint64_t>(a[i].pressure) != std::bit_cast<uint64_t>(b[i].pressure)) {
            return false;
        }
    }
    return true;
}

// A wandering pen path: smooth turns, varying speed and pressure, and now and
// then a sample repeated exactly, as slow devices report.
std::vector<RawPoint> randomStroke(std::mt19937_64& rng, size_t count) {
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<RawPoint> points;
    double x = unit(rng) * 500, y = unit(rng) * 500, angle = unit(rng) * 6.28, pressure = 0.3;
    for (size_t i = 0; i < count; ++i) {
        if (!points.empty() && unit(rng) < 0.05) {
            points.push_back(points.back());
            continue;
        }
        angle += (unit(rng) - 0.5) * 0.6;
        const double speed = 1 + unit(rng) * 12;
        x += std::cos(angle) * speed;
        y += std::sin(angle) * speed;
        pressure = std::clamp(pressure + (unit(rng) - 0.5) * 0.1, 0.0, 1.0);
        points.push_back({{x, y}, pressure});
    }
    return points;
}

} // namespace

TEST(SmoothedStroke, HandsBackTheSameBitsAsAFullRecomputation) {
    std::mt19937_64 rng(20240601);
    const size_t smoothings[] = {0, 1, 2, 3, 5, 8, 20, 50};
    const size_t lengths[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 13, 16, 17, 18, 19, 20, 31, 47, 90, 260};
    for (size_t smoothing : smoothings) {
        SmoothedStroke stroke(smoothing);
        // One object over many strokes, as the stroke queue uses it.
        for (size_t length : lengths) {
            reference::Stabilizer expected{long(smoothing)};
            const std::vector<RawPoint> input = randomStroke(rng, length);
            for (size_t i = 0; i < input.size(); ++i) {
                ASSERT_TRUE(sameBits(stroke.append(input[i]), expected.append(input[i])))
                    << "smoothing " << smoothing << " length " << length << " sample " << i;
            }
            ASSERT_TRUE(sameBits(stroke.finish(), expected.finish()))
                << "smoothing " << smoothing << " length " << length << " at the close";
        }
    }
}

TEST(SmoothedStroke, NonFiniteSamplesStopTheOutputAsAFullRecomputationDoes) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    std::mt19937_64 rng(99);
    for (size_t smoothing : {size_t(0), size_t(1), size_t(4), size_t(20)}) {
        for (size_t at : {size_t(0), size_t(1), size_t(5), size_t(30)}) {
            for (RawPoint bad :
                 {RawPoint{{nan, 1}, 0.5}, RawPoint{{1, 1}, nan}, RawPoint{{inf, 1}, 0.5}}) {
                SmoothedStroke stroke(smoothing);
                reference::Stabilizer expected{long(smoothing)};
                std::vector<RawPoint> input = randomStroke(rng, 60);
                input[at] = bad;
                for (const RawPoint& p : input) {
                    ASSERT_TRUE(sameBits(stroke.append(p), expected.append(p)))
                        << smoothing << " " << at;
                }
                ASSERT_TRUE(sameBits(stroke.finish(), expected.finish())) << smoothing << " " << at;
            }
        }
    }
}

TEST(SmoothedStroke, SmoothingZeroIsTheIdentity) {
    SmoothedStroke stroke(0);
    const RawPoint points[] = {{{1, 2}, 0.1}, {{3, 5}, 0.7}, {{-4, 0.5}, 1}};
    for (const RawPoint& p : points) {
        EXPECT_EQ(stroke.append(p), std::vector<RawPoint>{p});
    }
    EXPECT_TRUE(stroke.finish().empty());
}

TEST(SmoothedStroke, TwoSamplesGrowThroughThreePasses) {
    // Seven densified points become 27, 47 and then 67, from the first sample
    // to the last.
    for (size_t smoothing : {size_t(1), size_t(7), size_t(50)}) {
        SmoothedStroke stroke(smoothing);
        const RawPoint first{{0, 0}, 0.2}, last{{30, 10}, 0.8};
        EXPECT_EQ(stroke.append(first), std::vector<RawPoint>{first});
        EXPECT_EQ(stroke.append(last).size(), 1u);
        const std::vector<RawPoint> rest = stroke.finish();
        EXPECT_EQ(rest.size(), 65u);
        EXPECT_EQ(rest.back(), last);
    }
}

TEST(SmoothedStroke, EmptyCloseAndRestart) {
    SmoothedStroke stroke(3);
    EXPECT_TRUE(stroke.finish().empty());
    EXPECT_EQ(stroke.append({{5, 5}, 1}), (std::vector<RawPoint>{{{5, 5}, 1}}))
        << "a stroke's first sample is handed back at once";
    EXPECT_TRUE(stroke.finish().empty());
    EXPECT_EQ(stroke.append({{0, 0}, 0}).size(), 1u);
    EXPECT_EQ(stroke.append({{9, 0}, 1}).size(), 1u) << "the next stroke starts from index 0";
}

TEST(SmoothedStroke, CatmullRomPassesThroughItsSegment) {
    std::vector<RawPoint> out;
    const RawPoint a{{0, 0}, 0}, b{{1, 0}, 0.25}, c{{2, 0}, 0.5}, d{{3, 0}, 0.75};
    SmoothedStroke::catmullRomPoints(3, a, b, c, d, out);
    ASSERT_EQ(out.size(), 3u);
    for (size_t j = 0; j < 3; ++j) {
        const double t = double(j + 1) / 4;
        EXPECT_DOUBLE_EQ(out[j].position.x, 1 + t);
        EXPECT_DOUBLE_EQ(out[j].position.y, 0);
        EXPECT_DOUBLE_EQ(out[j].pressure, 0.25 + 0.25 * t);
    }
    out.clear();
    SmoothedStroke::catmullRomPoints(0, a, b, c, d, out);
    SmoothedStroke::catmullRomPoints(-2, a, b, c, d, out);
    EXPECT_TRUE(out.empty());
}
