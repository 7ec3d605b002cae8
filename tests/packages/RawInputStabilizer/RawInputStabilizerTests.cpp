#include "RawInputStabilizer/RawInputStabilizer.hpp"
#include "foundation/MainQueue.hpp"
#include "foundation/Thread.hpp"

#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

using namespace velmora;
using namespace std::chrono_literals;

namespace {

struct Delivery {
    std::string call;
    std::vector<RawPoint> points;
    bool onMainThread;
};

std::vector<RawPoint> line(size_t count) {
    std::vector<RawPoint> points;
    for (size_t i = 0; i < count; ++i) {
        points.push_back({{double(i) * 3, double(i * i) * 0.5}, 0.1 + double(i) * 0.01});
    }
    return points;
}

// Feeds a stroke through the asynchronous calls and drains the main queue
// until every completion has come back.
std::vector<Delivery> runStroke(RawInputStabilizer& stabilizer,
                                const std::vector<RawPoint>& input) {
    auto log = std::make_shared<std::vector<Delivery>>();
    for (size_t i = 0; i < input.size(); ++i) {
        stabilizer.append(input[i], [log, i](std::vector<RawPoint> points) {
            log->push_back(
                {"append " + std::to_string(i), std::move(points), Thread::isMainThread()});
        });
    }
    stabilizer.closeStroke([log](std::vector<RawPoint> points) {
        log->push_back({"close", std::move(points), Thread::isMainThread()});
    });
    const size_t expected = input.size() + 1;
    EXPECT_TRUE(MainQueue::runUntil([&] { return log->size() == expected; }, 10s));
    return *log;
}

} // namespace

TEST(RawInputStabilizer, CompletionsArriveOnTheMainThreadInCallOrder) {
    for (size_t smoothing : {size_t(0), size_t(3), size_t(20)}) {
        RawInputStabilizer stabilizer(smoothing);
        const std::vector<RawPoint> input = line(40);
        const std::vector<Delivery> log = runStroke(stabilizer, input);
        ASSERT_EQ(log.size(), input.size() + 1);
        SmoothedStroke direct(smoothing);
        for (size_t i = 0; i < input.size(); ++i) {
            EXPECT_EQ(log[i].call, "append " + std::to_string(i));
            EXPECT_TRUE(log[i].onMainThread);
            EXPECT_EQ(log[i].points, direct.append(input[i])) << smoothing << " " << i;
        }
        EXPECT_EQ(log.back().call, "close");
        EXPECT_TRUE(log.back().onMainThread);
        EXPECT_EQ(log.back().points, direct.finish());
    }
}

TEST(RawInputStabilizer, SmoothingZeroHandsEachSampleBackAtOnce) {
    RawInputStabilizer stabilizer(0);
    const std::vector<RawPoint> input = line(5);
    const std::vector<Delivery> log = runStroke(stabilizer, input);
    for (size_t i = 0; i < input.size(); ++i) {
        EXPECT_EQ(log[i].points, std::vector<RawPoint>{input[i]});
    }
    EXPECT_TRUE(log.back().points.empty());
}

TEST(RawInputStabilizer, StrokeAfterStrokeAndEmptyCloses) {
    RawInputStabilizer stabilizer(2);
    const std::vector<Delivery> empty = runStroke(stabilizer, {});
    ASSERT_EQ(empty.size(), 1u);
    EXPECT_TRUE(empty[0].points.empty());
    const std::vector<Delivery> first = runStroke(stabilizer, line(2));
    EXPECT_EQ(first[0].points.size(), 1u);
    EXPECT_EQ(first[1].points.size(), 1u);
    EXPECT_EQ(first[2].points.size(), 65u);
    const std::vector<Delivery> second = runStroke(stabilizer, line(2));
    EXPECT_EQ(second[1].points.size(), 1u) << "the next stroke starts from index 0";
}

TEST(RawInputStabilizer, SynchronousFormsShareTheState) {
    RawInputStabilizer stabilizer(0);
    EXPECT_EQ(stabilizer.append(RawPoint{{1, 1}, 0.5}), (std::vector<RawPoint>{{{1, 1}, 0.5}}));
    EXPECT_TRUE(stabilizer.finishStroke().empty());
    RawInputStabilizer smoothed(4);
    EXPECT_EQ(smoothed.append(RawPoint{{1, 1}, 0.5}), (std::vector<RawPoint>{{{1, 1}, 0.5}}))
        << "a tap keeps its sample";
    EXPECT_TRUE(smoothed.finishStroke().empty());
}

TEST(RawInputStabilizer, QueuedWorkOutlivesTheStabilizer) {
    auto log = std::make_shared<std::vector<size_t>>();
    {
        RawInputStabilizer stabilizer(5);
        for (const RawPoint& p : line(30)) {
            stabilizer.append(
                p, [log](std::vector<RawPoint> points) { log->push_back(points.size()); });
        }
        stabilizer.closeStroke(
            [log](std::vector<RawPoint> points) { log->push_back(points.size()); });
    }
    EXPECT_TRUE(MainQueue::runUntil([&] { return log->size() == 31; }, 10s));
}

TEST(RawInputStabilizer, StrengthAboveTheLimitSmoothsAtTheLimit) {
    EXPECT_EQ(RawInputStabilizer(7).smoothing(), 7u);
    EXPECT_EQ(RawInputStabilizer(500).smoothing(), SmoothedStroke::maximumSmoothing);
}
