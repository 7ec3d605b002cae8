#include "Rendering/StrokesViewModel.hpp"
#include "foundation/LogCapture.hpp"
#include "foundation/MainQueue.hpp"
#include "foundation/UserDefaults.hpp"
#include "graphics/ColorManagement.hpp"

#include <chrono>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <memory>
#include <string>
#include <vector>

using namespace velmora;
using namespace std::chrono_literals;
using Tool = DrawingSettings::Tool;

namespace {

class StrokesViewModelTest : public ::testing::Test {
protected:
    StrokesViewModelTest() : defaults_(std::nullopt), settings_(defaults_) {}

    std::shared_ptr<StrokesViewModel> makeQueue(std::uint64_t stabilization, float size = 20) {
        Brush brush;
        brush.stabilization = stabilization;
        brush.size = size;
        settings_.setBaseBrush(brush);
        return StrokesViewModel::make(settings_);
    }

    // Enqueues and drains the main queue until every completion has run.
    std::vector<bool> enqueue(StrokesViewModel& queue, const std::vector<CGPoint>& points,
                              float pressure = 1) {
        auto started = std::make_shared<std::vector<bool>>();
        for (const CGPoint& p : points) {
            queue.enqueuePointEvent(p, pressure, [started](bool s) { started->push_back(s); });
        }
        EXPECT_TRUE(MainQueue::runUntil([&] { return started->size() == points.size(); }, 10s));
        return *started;
    }

    void close(StrokesViewModel& queue) {
        bool done = false;
        queue.closeStroke([&] { done = true; });
        EXPECT_TRUE(MainQueue::runUntil([&] { return done; }, 10s));
    }

    static std::vector<CGPoint> line(int count, double step = 10, double y = 0) {
        std::vector<CGPoint> points;
        for (int i = 0; i < count; ++i) {
            points.push_back({i * step, y});
        }
        return points;
    }

    // Collects the queue's strokes as the renderer would, without consuming dots.
    static std::vector<std::shared_ptr<StrokesViewModel::Stroke>> drain(StrokesViewModel& queue) {
        std::vector<std::shared_ptr<StrokesViewModel::Stroke>> strokes;
        while (auto stroke = queue.front()) {
            strokes.push_back(stroke);
            if (!stroke->finished) {
                break;
            }
            queue.popFront();
        }
        return strokes;
    }

    UserDefaults defaults_;
    DrawingSettings settings_;
};

} // namespace

TEST_F(StrokesViewModelTest, OneSampleWithoutSmoothingGivesOneDot) {
    auto queue = makeQueue(0);
    EXPECT_EQ(enqueue(*queue, {{5, 7}}), std::vector<bool>{true});
    ASSERT_NE(queue->front(), nullptr);
    EXPECT_FALSE(queue->front()->finished);
    close(*queue);
    const auto strokes = drain(*queue);
    ASSERT_EQ(strokes.size(), 1u);
    ASSERT_EQ(strokes[0]->dots.size(), 1u);
    EXPECT_EQ(strokes[0]->dots[0].position, (CGPoint{5, 7}));
    EXPECT_EQ(strokes[0]->dots[0].radius, 10);
    EXPECT_TRUE(strokes[0]->finished);
}

TEST_F(StrokesViewModelTest, ASmoothedTapStillGivesItsDot) {
    auto queue = makeQueue(5);
    EXPECT_EQ(enqueue(*queue, {{5, 7}}), std::vector<bool>{true}) << "started at the press";
    close(*queue);
    const auto strokes = drain(*queue);
    ASSERT_EQ(strokes.size(), 1u);
    ASSERT_EQ(strokes[0]->dots.size(), 1u);
    EXPECT_EQ(strokes[0]->dots[0].position, (CGPoint{5, 7}));
}

TEST_F(StrokesViewModelTest, StartedFlagOnlyForTheSampleThatCreatedTheStroke) {
    auto queue = makeQueue(0);
    EXPECT_EQ(enqueue(*queue, line(5)), (std::vector<bool>{true, false, false, false, false}));
    close(*queue);
    // The next stroke starts anew.
    EXPECT_EQ(enqueue(*queue, line(2)), (std::vector<bool>{true, false}));
    close(*queue);
    EXPECT_EQ(drain(*queue).size(), 2u);
}

TEST_F(StrokesViewModelTest, EmptyCloseQueuesAFinishedStrokeWithoutDots) {
    auto queue = makeQueue(0);
    EXPECT_EQ(queue->front(), nullptr);
    close(*queue);
    auto front = queue->front();
    ASSERT_NE(front, nullptr);
    EXPECT_TRUE(front->finished);
    EXPECT_TRUE(front->dots.empty());
    queue->popFront();
    EXPECT_EQ(queue->front(), nullptr);
}

TEST_F(StrokesViewModelTest, FrontSkipsAConsumedUnfinishedStrokeUntilNewDotsArrive) {
    auto queue = makeQueue(0);
    enqueue(*queue, line(3));
    auto stroke = queue->front();
    ASSERT_NE(stroke, nullptr);
    const UUID id = stroke->uuid;
    stroke->dots.clear(); // the renderer stamped them
    EXPECT_EQ(queue->front(), nullptr);
    enqueue(*queue, {{30, 0}});
    ASSERT_NE(queue->front(), nullptr);
    EXPECT_EQ(queue->front()->uuid, id);
    EXPECT_FALSE(queue->front()->dots.empty());
}

TEST_F(StrokesViewModelTest, DotsFollowBrushAndPressure) {
    Brush brush;
    brush.size = 40;
    brush.sizeDependsOnPressure = true;
    brush.sizeMinRatio = 0.2f;
    brush.opacity = 0.5f;
    brush.opacityDependsOnPressure = true;
    brush.opacityMinRatio = 0.5f;
    brush.hardness = 0.75f;
    settings_.setBaseBrush(brush);
    auto queue = StrokesViewModel::make(settings_);
    const NSColorRef red = NSColor::colorWithSRGBRed(1, 0, 0, 1);
    settings_.color = red;
    enqueue(*queue, {{1, 2}}, 0.5f);
    const auto& dot = queue->front()->dots.at(0);
    EXPECT_FLOAT_EQ(float(dot.radius), 12); // 20 × (0.8 × 0.5 + 0.2)
    EXPECT_FLOAT_EQ(float(dot.opacity), 0.375f);
    EXPECT_EQ(dot.hardness, 0.75);
    ASSERT_NE(dot.color, nullptr);
    EXPECT_EQ(*dot.color, *red->colorUsingColorSpace(ColorManagement::workingNSColorSpace()));
    EXPECT_FALSE(queue->front()->erasing);
}

TEST_F(StrokesViewModelTest, OutOfRangeInputIsClampedOrDropped) {
    auto queue = makeQueue(0, 1200);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // Non-finite samples are dropped but still answered.
    EXPECT_EQ(enqueue(*queue, {{nan, 0}, {0, std::numeric_limits<double>::infinity()}}),
              (std::vector<bool>{false, false}));
    EXPECT_EQ(queue->front(), nullptr);
    auto started = std::make_shared<std::vector<bool>>();
    queue->enqueuePointEvent({0, 0}, std::numeric_limits<float>::quiet_NaN(),
                             [started](bool s) { started->push_back(s); });
    queue->enqueuePointEvent({3, 4}, 7.5f, [started](bool s) { started->push_back(s); });
    ASSERT_TRUE(MainQueue::runUntil([&] { return started->size() == 2; }, 10s));
    EXPECT_EQ(*started, (std::vector<bool>{false, true}));
    EXPECT_EQ(queue->front()->dots.at(0).radius, 500) << "size 1200 ends at the sanity bound";
}

TEST_F(StrokesViewModelTest, ZeroSpacingStillGivesDotsAboutAPixelApart) {
    Brush brush;
    brush.spacing = 0;
    settings_.setBaseBrush(brush);
    auto queue = StrokesViewModel::make(settings_);
    enqueue(*queue, line(3, 10.5));
    const auto& dots = queue->front()->dots;
    ASSERT_EQ(dots.size(), 11u); // the first dot, then the ten of the first segment
    for (size_t i = 1; i < dots.size(); ++i) {
        EXPECT_NEAR(dots[i].position.x - dots[i - 1].position.x, 1, 1e-6);
    }
}

TEST_F(StrokesViewModelTest, EraserStrokesEraseFromTheirFirstDotAndKeepTheirKind) {
    auto queue = makeQueue(0);
    settings_.setPersistentTool(Tool::eraser);
    enqueue(*queue, line(3));
    auto stroke = queue->front();
    ASSERT_NE(stroke, nullptr);
    EXPECT_TRUE(stroke->erasing);
    for (const auto& dot : stroke->dots) {
        EXPECT_EQ(dot.color, nullptr);
    }
    // A tool change during the stroke changes neither its colour nor its kind.
    settings_.setPersistentTool(Tool::brush);
    enqueue(*queue, {{40, 0}, {50, 0}});
    close(*queue);
    EXPECT_TRUE(stroke->erasing);
    for (const auto& dot : stroke->dots) {
        EXPECT_EQ(dot.color, nullptr);
    }
    // The next stroke paints.
    enqueue(*queue, line(2));
    close(*queue);
    auto strokes = drain(*queue);
    ASSERT_EQ(strokes.size(), 2u);
    EXPECT_FALSE(strokes[1]->erasing);
    EXPECT_NE(strokes[1]->dots.at(0).color, nullptr);
}

TEST_F(StrokesViewModelTest, BrushChangeDuringAStrokeWaitsForTheClose) {
    // The same samples once without interruption, once with a brush change in
    // the middle: the stabiliser's held samples must not be lost.
    const std::vector<CGPoint> points = line(12, 7, 3);
    auto reference = makeQueue(5);
    enqueue(*reference, points);
    close(*reference);
    const size_t expected = drain(*reference).at(0)->dots.size();

    auto queue = makeQueue(5);
    enqueue(*queue, {points.begin(), points.begin() + 6});
    settings_.modifyLiveBrush([](Brush& b) { b.stabilization = 0; });
    EXPECT_EQ(queue->stabilizer().smoothing(), 5u);
    enqueue(*queue, {points.begin() + 6, points.end()});
    close(*queue);
    EXPECT_EQ(queue->stabilizer().smoothing(), 0u) << "replaced once the stroke closed";
    auto strokes = drain(*queue);
    ASSERT_EQ(strokes.size(), 1u);
    EXPECT_EQ(strokes[0]->dots.size(), expected);
}

TEST_F(StrokesViewModelTest, BrushAndToolChangesBetweenStrokesReplaceTheStabilizer) {
    auto queue = makeQueue(3);
    EXPECT_EQ(queue->stabilizer().smoothing(), 3u);
    settings_.modifyLiveBrush([](Brush& b) { b.stabilization = 9; });
    EXPECT_EQ(queue->stabilizer().smoothing(), 9u);
    settings_.setPersistentTool(Tool::eraser); // a fresh default brush there
    EXPECT_EQ(queue->stabilizer().smoothing(), 0u);
    settings_.setPersistentTool(Tool::brush);
    settings_.modifyLiveBrush([](Brush& b) { b.stabilization = 400; });
    EXPECT_EQ(queue->stabilizer().smoothing(), size_t(Brush::maximumStabilization));
}

TEST_F(StrokesViewModelTest, StrokesStayInOrderAcrossAStabilizerReplacement) {
    // A heavily smoothed stroke is closed, the brush changes, and a new stroke
    // starts on a new stabiliser before the old one has handed everything back.
    auto queue = makeQueue(20);
    auto done = std::make_shared<std::vector<std::string>>();
    for (const CGPoint& p : line(200, 3)) {
        queue->enqueuePointEvent(p, 1, [](bool) {});
    }
    queue->closeStroke([done] { done->push_back("first closed"); });
    settings_.modifyLiveBrush([](Brush& b) { b.stabilization = 0; });
    queue->enqueuePointEvent({1000, 1000}, 1, [done](bool started) {
        done->push_back(started ? "second started" : "second continued");
    });
    queue->closeStroke([done] { done->push_back("second closed"); });
    ASSERT_TRUE(MainQueue::runUntil([&] { return done->size() == 3; }, 20s));
    EXPECT_EQ(*done, (std::vector<std::string>{"first closed", "second started", "second closed"}));
    auto strokes = drain(*queue);
    ASSERT_EQ(strokes.size(), 2u);
    EXPECT_EQ(strokes[1]->dots.size(), 1u);
    EXPECT_EQ(strokes[1]->dots[0].position, (CGPoint{1000, 1000}));
    EXPECT_LT(strokes[0]->dots.back().position.x, 700);
}

TEST_F(StrokesViewModelTest, LogsAndSignpostsOfAStroke) {
    auto queue = makeQueue(0);
    LogCapture capture;
    SignpostRecorder signposts;
    enqueue(*queue, {{10.9, 20.2}, {-5.7, 20}, {-20, 20}});
    close(*queue);
    const std::vector<std::string> lines = capture.messages("User Actions");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Starting stroke at 10x20: " + settings_.liveBrush().description());
    EXPECT_EQ(lines[1].rfind("Ending stroke at -", 0), 0u) << lines[1];
    EXPECT_FALSE(queue->signpostID().has_value()) << "cleared at the close";

    const auto records = signposts.records();
    std::vector<std::string> queued;
    std::vector<SignpostRecord> intervals;
    for (const SignpostRecord& r : records) {
        if (r.name == "Queued Dots") {
            EXPECT_EQ(r.type, SignpostType::event);
            EXPECT_EQ(r.category, "Drawing Engine");
            queued.push_back(r.message);
        } else if (r.name == "Stroke Drawing") {
            intervals.push_back(r);
        }
    }
    EXPECT_EQ(queued.size(), 3u);
    EXPECT_EQ(queued[0], "1");
    EXPECT_EQ(queued[1], "0");
    ASSERT_EQ(intervals.size(), 2u);
    EXPECT_EQ(intervals[0].type, SignpostType::begin);
    EXPECT_EQ(intervals[0].message, "Stroke Started at (10.9, 20.2)");
    EXPECT_EQ(intervals[1].type, SignpostType::end);
    EXPECT_EQ(intervals[1].message, "Stroke Ended");
    EXPECT_EQ(intervals[0].id, intervals[1].id);
}

TEST_F(StrokesViewModelTest, EndLineWhenTheRendererConsumedEveryDot) {
    auto queue = makeQueue(0);
    LogCapture capture;
    // One sample: the close has no last segment to add after it.
    enqueue(*queue, line(1));
    queue->front()->dots.clear();
    close(*queue);
    const std::vector<std::string> lines = capture.messages("User Actions");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "Ending stroke at unknown position");
    // A stroke without a sample since writes no lines at all.
    capture.clear();
    close(*queue);
    EXPECT_TRUE(capture.messages("User Actions").empty());
}

TEST_F(StrokesViewModelTest, AppendDotsCreatesTheStroke) {
    auto queue = makeQueue(0);
    EXPECT_FALSE(queue->appendDots({}));
    EXPECT_EQ(queue->front(), nullptr) << "an empty stroke is not drawable yet";
    EXPECT_TRUE(queue->appendDots({{{1, 1}, nullptr, 2, 1, 1}}));
    EXPECT_EQ(queue->front()->dots.size(), 1u);
}

TEST(StrokesViewModelDot, Equality) {
    const NSColorRef red = NSColor::colorWithSRGBRed(1, 0, 0, 1);
    const StrokesViewModel::Dot base{{1, 2}, red, 3, 0.5, 0.5};
    struct Case {
        StrokesViewModel::Dot other;
        bool equal;
    };
    const Case cases[] = {
        {{{1, 2}, NSColor::colorWithSRGBRed(1, 0, 0, 1), 3, 0.1, 0.9}, true},
        {{{1, 2}, red, 3 + 5e-6, 0.5, 0.5}, true},
        {{{1, 2}, red, 3 + 2e-5, 0.5, 0.5}, false},
        {{{1, 2.0000001}, red, 3, 0.5, 0.5}, false},
        {{{1, 2}, nullptr, 3, 0.5, 0.5}, false},
        {{{1, 2}, NSColor::colorWithSRGBRed(0, 1, 0, 1), 3, 0.5, 0.5}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(base == c.other, c.equal);
    }
    EXPECT_TRUE((StrokesViewModel::Dot{{0, 0}, nullptr, 1, 0, 0} ==
                 StrokesViewModel::Dot{{0, 0}, nullptr, 1, 1, 1}));
}
