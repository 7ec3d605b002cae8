#include "StrokeProcessors/AggregatedStrokeProcessor.hpp"
#include "StrokeProcessors/BezierInterpStrokeProcessor.hpp"
#include "StrokeProcessors/LinearInterpStrokeProcessor.hpp"
#include "StrokeProcessors/SanityStrokeProcessor.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <string>

using namespace velmora;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

StrokeDot dotAt(double x, double y, double spacing = 1, double radius = 5) {
    return {{x, y}, spacing, radius, 1, 1};
}

} // namespace

TEST(StrokeDot, EqualityToleratesOnlyTinyPositionDifferences) {
    const StrokeDot base{{10, 20}, 2, 3, 0.5, 0.25};
    struct Case {
        StrokeDot other;
        bool equal;
    };
    const Case cases[] = {
        {base, true},
        {{{10 + 1e-7, 20}, 2, 3, 0.5, 0.25}, true},
        {{{10, 20 - 1e-7}, 2, 3, 0.5, 0.25}, true},
        {{{10 + 1e-5, 20}, 2, 3, 0.5, 0.25}, false},
        {{{10, 20}, 2.0000001, 3, 0.5, 0.25}, false},
        {{{10, 20}, 2, 3.0000001, 0.5, 0.25}, false},
        {{{10, 20}, 2, 3, 0.5000001, 0.25}, false},
        {{{10, 20}, 2, 3, 0.5, 0.2500001}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(base == c.other, c.equal) << c.other.position.x << " " << c.other.spacing;
    }
}

TEST(SanityStrokeProcessor, ClampsEveryValueIncludingNaN) {
    struct Case {
        StrokeDot in;
        StrokeDot out;
    };
    const Case cases[] = {
        {{{1, 2}, 0, 0, -0.2, 1.5}, {{1, 2}, 1, 0.5, 0, 1}},
        {{{1, 2}, 3.5, 800, 0.3, 0.7}, {{1, 2}, 3.5, 500, 0.3, 0.7}},
        {{{1, 2}, kNaN, kNaN, kNaN, kNaN}, {{1, 2}, 1, 0.5, 0, 0}},
        {{{1, 2}, -kInf, kInf, kInf, -kInf}, {{1, 2}, 1, 500, 1, 0}},
        {{{-7, 9}, 1, 0.5, 0, 0}, {{-7, 9}, 1, 0.5, 0, 0}},
    };
    SanityStrokeProcessor sanity;
    for (const Case& c : cases) {
        const std::vector<StrokeDot> out = sanity.process(c.in);
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0], c.out) << out[0].spacing << " " << out[0].radius << " " << out[0].hardness
                                 << " " << out[0].opacity;
    }
    EXPECT_TRUE(sanity.flush().empty());
}

TEST(BezierInterpStrokeProcessor, FirstDotPassesAndTheFlushReleasesTheLastSegment) {
    BezierInterpStrokeProcessor bezier;
    const StrokeDot d0 = dotAt(0, 0), d1 = dotAt(10, 0), d2 = dotAt(20, 5);
    EXPECT_EQ(bezier.process(d0), std::vector<StrokeDot>{d0});
    EXPECT_TRUE(bezier.process(d1).empty()) << "two dots: only the first is drawn";
    const std::vector<StrokeDot> segment = bezier.process(d2);
    ASSERT_FALSE(segment.empty()) << "the third dot releases the curve from d0 to d1";
    EXPECT_NEAR(segment.back().position.x, 10, 1.0);
    EXPECT_LE(segment.back().position.x, 10 + 1e-9);
    for (const StrokeDot& d : segment) {
        EXPECT_GT(d.position.x, 0);
    }
    const std::vector<StrokeDot> last = bezier.flush();
    ASSERT_FALSE(last.empty()) << "the segment to the last dot ends the stroke";
    EXPECT_GT(last.front().position.x, segment.back().position.x);
    EXPECT_LT(std::hypot(last.back().position.x - 20, last.back().position.y - 5), 1.0);
    EXPECT_TRUE(bezier.previousDots().empty());
    const StrokeDot next = dotAt(100, 100);
    EXPECT_EQ(bezier.process(next), std::vector<StrokeDot>{next}) << "flush starts a new stroke";
}

TEST(BezierInterpStrokeProcessor, AStrokeEndsWhereThePointerWasReleased) {
    struct Case {
        std::string name;
        std::vector<CGPoint> samples;
    };
    const Case cases[] = {
        {"one move of 400 pixels", {{0, 0}, {400, 0}}},
        {"a long stroke", {{0, 0}, {60, 10}, {120, 0}, {180, -30}, {200, 40}}},
        {"a first move too short to release", {{0, 0}, {0.5, 0}, {300, 0}}},
    };
    for (const Case& c : cases) {
        constexpr double spacing = 2;
        BezierInterpStrokeProcessor bezier;
        std::vector<StrokeDot> dots;
        for (const CGPoint& p : c.samples) {
            const std::vector<StrokeDot> out = bezier.process(dotAt(p.x, p.y, spacing));
            dots.insert(dots.end(), out.begin(), out.end());
        }
        const std::vector<StrokeDot> out = bezier.flush();
        dots.insert(dots.end(), out.begin(), out.end());
        const CGPoint end = c.samples.back();
        EXPECT_LT(std::hypot(dots.back().position.x - end.x, dots.back().position.y - end.y),
                  spacing)
            << c.name;
        for (size_t i = 1; i < dots.size(); ++i) {
            const double gap = std::hypot(dots[i].position.x - dots[i - 1].position.x,
                                          dots[i].position.y - dots[i - 1].position.y);
            EXPECT_LT(gap, 2 * spacing) << c.name << ": a hole before dot " << i;
        }
    }
}

TEST(BezierInterpStrokeProcessor, StraightSegmentOfTenAndAHalfPixels) {
    BezierInterpStrokeProcessor bezier;
    bezier.process(dotAt(0, 0));
    bezier.process(dotAt(10.5, 0));
    const std::vector<StrokeDot> dots = bezier.process(dotAt(21, 0));
    ASSERT_EQ(dots.size(), 10u);
    for (size_t i = 0; i < dots.size(); ++i) {
        EXPECT_NEAR(dots[i].position.x, double(i + 1), 1e-9);
        EXPECT_NEAR(dots[i].position.y, 0, 1e-12);
    }
    ASSERT_EQ(bezier.previousDots().size(), 3u);
    EXPECT_NEAR(bezier.previousDots()[1].position.x, 10, 1e-9)
        << "the last emitted dot replaces the segment's end dot";
    // The next segment starts half a pixel before that end dot: 11 pixels.
    const std::vector<StrokeDot> next = bezier.process(dotAt(31.5, 0));
    ASSERT_EQ(next.size(), 11u);
    EXPECT_NEAR(next.front().position.x, 11, 1e-9);
    EXPECT_NEAR(next.back().position.x, 21, 1e-9);
    ASSERT_EQ(bezier.previousDots().size(), 3u);
    EXPECT_NEAR(bezier.previousDots()[0].position.x, 10, 1e-9);
}

TEST(BezierInterpStrokeProcessor, ShortAndEmptySegmentsDropTheirEndDot) {
    struct Case {
        std::string name;
        StrokeDot second;
    };
    const Case cases[] = {
        {"same position", dotAt(0, 0, 4)},
        {"shorter than the average spacing", dotAt(3, 0, 4)},
    };
    for (const Case& c : cases) {
        BezierInterpStrokeProcessor bezier;
        bezier.process(dotAt(0, 0, 4));
        bezier.process(c.second);
        EXPECT_TRUE(bezier.process(dotAt(20, 0, 4)).empty()) << c.name;
        ASSERT_EQ(bezier.previousDots().size(), 2u) << c.name;
        EXPECT_EQ(bezier.previousDots()[0].position, (CGPoint{0, 0})) << c.name;
        // The next segment spans from the first dot over the combined distance.
        const std::vector<StrokeDot> dots = bezier.process(dotAt(40, 0, 4));
        ASSERT_EQ(dots.size(), 5u) << c.name;
        EXPECT_NEAR(dots.back().position.x, 20, 1e-9) << c.name;
    }
}

TEST(BezierInterpStrokeProcessor, InterpolatesDotValuesByCurveParameter) {
    BezierInterpStrokeProcessor bezier;
    bezier.process({{0, 0}, 1, 2, 0, 0.5});
    bezier.process({{8, 0}, 1, 4, 1, 0.1});
    const std::vector<StrokeDot> dots = bezier.process({{16, 0}, 1, 4, 1, 0.1});
    ASSERT_EQ(dots.size(), 8u);
    for (size_t i = 0; i < dots.size(); ++i) {
        const double t = double(i + 1) / 8;
        EXPECT_NEAR(dots[i].radius, 2 + 2 * t, 1e-9);
        EXPECT_NEAR(dots[i].hardness, t, 1e-9);
        EXPECT_NEAR(dots[i].opacity, 0.5 - 0.4 * t, 1e-9);
        EXPECT_EQ(dots[i].spacing, 1);
    }
}

TEST(BezierInterpStrokeProcessor, CurvesFollowTheNeighbouringDirections) {
    BezierInterpStrokeProcessor bezier;
    bezier.process(dotAt(0, 0));
    bezier.process(dotAt(20, 0));
    const std::vector<StrokeDot> dots = bezier.process(dotAt(20, 20));
    ASSERT_FALSE(dots.empty());
    // The end tangent leans towards +y, so the curve bulges below the chord.
    double lowest = 0;
    for (const StrokeDot& d : dots) {
        lowest = std::min(lowest, d.position.y);
    }
    EXPECT_LT(lowest, -0.5);
    for (size_t i = 1; i < dots.size(); ++i) {
        const double gap = std::hypot(dots[i].position.x - dots[i - 1].position.x,
                                      dots[i].position.y - dots[i - 1].position.y);
        EXPECT_NEAR(gap, 1, 0.5) << "even in the parameter, so only roughly in distance";
    }
}

TEST(BezierInterpStrokeProcessor, HugeAndNonFiniteSegmentsStayBounded) {
    BezierInterpStrokeProcessor bezier;
    bezier.process(dotAt(0, 0));
    bezier.process(dotAt(1e9, 0));
    const std::vector<StrokeDot> dots = bezier.process(dotAt(2e9, 0));
    ASSERT_EQ(dots.size(), size_t(BezierInterpStrokeProcessor::maximumDotsPerSegment));
    EXPECT_NEAR(dots.back().position.x, 1e9, 1) << "capped dots still span the segment";

    BezierInterpStrokeProcessor broken;
    broken.process(dotAt(0, 0));
    broken.process(dotAt(kNaN, 0));
    EXPECT_TRUE(broken.process(dotAt(5, 5)).empty());
    BezierInterpStrokeProcessor infinite;
    infinite.process(dotAt(0, 0));
    infinite.process(dotAt(kInf, 0));
    EXPECT_TRUE(infinite.process(dotAt(5, 5)).empty());
}

TEST(LinearInterpStrokeProcessor, StepsWholeSpacingsFromTheLastEmittedDot) {
    LinearInterpStrokeProcessor linear;
    const StrokeDot first = dotAt(0, 0, 2);
    EXPECT_EQ(linear.process(first), std::vector<StrokeDot>{first});
    EXPECT_TRUE(linear.process(dotAt(1.5, 0, 2)).empty()) << "less than one spacing";
    EXPECT_EQ(linear.lastDotInStroke()->position, (CGPoint{0, 0}));
    const std::vector<StrokeDot> dots = linear.process(dotAt(0, 7, 2));
    ASSERT_EQ(dots.size(), 3u);
    EXPECT_NEAR(dots[0].position.y, 2, 1e-12);
    EXPECT_NEAR(dots[2].position.y, 6, 1e-12);
    EXPECT_NEAR(linear.lastDotInStroke()->position.y, 6, 1e-12);
    EXPECT_TRUE(linear.flush().empty());
    EXPECT_FALSE(linear.lastDotInStroke().has_value());
    LinearInterpStrokeProcessor fresh;
    EXPECT_EQ(fresh.process(dotAt(kNaN, 0)).size(), 1u);
    EXPECT_TRUE(fresh.process(dotAt(3, 0)).empty()) << "no dots towards or from a NaN";
}

namespace {

// Records what reaches it and doubles every dot; releases one dot at the end.
class RecordingStage final : public StrokeProcessor {
public:
    explicit RecordingStage(std::vector<std::string>& log, std::string name)
        : log_(log), name_(std::move(name)) {}
    std::vector<StrokeDot> process(const StrokeDot& dot) override {
        log_.push_back(name_ + " process " + std::to_string(int(dot.position.x)));
        StrokeDot copy = dot;
        copy.position.x += 100;
        return {dot, copy};
    }
    std::vector<StrokeDot> flush() override {
        log_.push_back(name_ + " flush");
        return {dotAt(7, 0)};
    }

private:
    std::vector<std::string>& log_;
    std::string name_;
};

class SwallowingStage final : public StrokeProcessor {
public:
    explicit SwallowingStage(int& calls) : calls_(calls) {}
    std::vector<StrokeDot> process(const StrokeDot&) override {
        ++calls_;
        return {};
    }
    std::vector<StrokeDot> flush() override { return {}; }

private:
    int& calls_;
};

} // namespace

TEST(AggregatedStrokeProcessor, ChainsStagesAndFlushesThroughLaterStages) {
    std::vector<std::string> log;
    std::vector<std::unique_ptr<StrokeProcessor>> stages;
    stages.push_back(std::make_unique<RecordingStage>(log, "a"));
    stages.push_back(std::make_unique<RecordingStage>(log, "b"));
    AggregatedStrokeProcessor chain(std::move(stages));
    EXPECT_EQ(chain.process(dotAt(1, 0)).size(), 4u);
    EXPECT_EQ(log, (std::vector<std::string>{"a process 1", "b process 1", "b process 101"}));
    log.clear();
    const std::vector<StrokeDot> flushed = chain.flush();
    EXPECT_EQ(log, (std::vector<std::string>{"a flush", "b process 7", "b flush"}));
    ASSERT_EQ(flushed.size(), 3u);
    EXPECT_EQ(flushed[0].position.x, 7);
    EXPECT_EQ(flushed[1].position.x, 107);
    EXPECT_EQ(flushed[2].position.x, 7);
}

TEST(AggregatedStrokeProcessor, LaterStagesAreSkippedOnceNothingIsLeft) {
    int calls = 0;
    std::vector<std::string> log;
    std::vector<std::unique_ptr<StrokeProcessor>> stages;
    stages.push_back(std::make_unique<SwallowingStage>(calls));
    stages.push_back(std::make_unique<RecordingStage>(log, "b"));
    AggregatedStrokeProcessor chain(std::move(stages));
    EXPECT_TRUE(chain.process(dotAt(1, 0)).empty());
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(log.empty());
}

TEST(AggregatedStrokeProcessor, TheStrokeChainClampsTheFirstDotAndEndsAtTheLast) {
    std::vector<std::unique_ptr<StrokeProcessor>> stages;
    stages.push_back(std::make_unique<SanityStrokeProcessor>());
    stages.push_back(std::make_unique<BezierInterpStrokeProcessor>());
    AggregatedStrokeProcessor chain(std::move(stages));
    const std::vector<StrokeDot> first = chain.process({{3, 4}, 0, 900, 2, -1});
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0], (StrokeDot{{3, 4}, 1, 500, 1, 0}));
    EXPECT_TRUE(chain.process({{30, 4}, 0, 900, 2, -1}).empty());
    const std::vector<StrokeDot> last = chain.flush();
    ASSERT_EQ(last.size(), 27u) << "one dot a clamped spacing along the last 27 pixels";
    EXPECT_NEAR(last.back().position.x, 30, 1e-9);
    EXPECT_EQ(last.back().radius, 500);
    EXPECT_EQ(chain.process(dotAt(9, 9)).size(), 1u) << "the next stroke starts afresh";
}
