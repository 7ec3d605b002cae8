#include "foundation/MainQueue.hpp"
#include "foundation/Thread.hpp"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace velmora;
using namespace std::chrono_literals;

namespace {

// Leaves the main queue empty and unbound for the next test.
class MainQueueTest : public ::testing::Test {
protected:
    void TearDown() override {
        MainQueue::unbind();
        MainQueue::runUntil(std::chrono::steady_clock::now() + 1ms);
        MainQueue::runUntilIdle();
    }
};

} // namespace

TEST_F(MainQueueTest, RunsOnTheMainThreadInOrderIncludingWorkItSubmits) {
    EXPECT_TRUE(Thread::isMainThread());
    EXPECT_TRUE(DispatchQueue::main().isCurrent());
    std::vector<int> order;
    DispatchQueue::main().async([&] {
        order.push_back(1);
        DispatchQueue::main().async([&] { order.push_back(3); });
    });
    DispatchQueue::main().async([&] { order.push_back(2); });
    EXPECT_TRUE(order.empty());
    EXPECT_EQ(MainQueue::runUntilIdle(), 3u);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(MainQueue::runUntilIdle(), 0u);
}

TEST_F(MainQueueTest, WorkerSyncOntoMainWhileMainDrains) {
    DispatchQueue worker("Stabilizer Queue", DispatchQoS::userInteractive);
    std::vector<int> handedBack;
    std::atomic<int> finished{0};
    for (int i = 0; i < 20; ++i) {
        worker.async([&, i] {
            EXPECT_FALSE(Thread::isMainThread());
            const bool onMain = DispatchQueue::main().sync([&] {
                handedBack.push_back(i);
                return Thread::isMainThread();
            });
            EXPECT_TRUE(onMain);
            ++finished;
        });
    }
    ASSERT_TRUE(MainQueue::runUntil([&] { return finished == 20; }, 5000ms));
    std::vector<int> expected(20);
    for (int i = 0; i < 20; ++i) {
        expected[static_cast<std::size_t>(i)] = i;
    }
    EXPECT_EQ(handedBack, expected);
}

TEST_F(MainQueueTest, DelayedWorkWaitsForItsTime) {
    using Clock = std::chrono::steady_clock;
    std::vector<int> order;
    std::vector<Clock::time_point> ran;
    // Deadlines from one instant, each item noting when it ran.
    const auto start = Clock::now();
    DispatchQueue::main().asyncAfter(start + 40ms, [&] {
        order.push_back(2);
        ran.push_back(Clock::now());
    });
    DispatchQueue::main().asyncAfter(start + 20ms, [&] {
        order.push_back(1);
        ran.push_back(Clock::now());
    });
    const std::size_t early = MainQueue::runUntilIdle();
    if (Clock::now() < start + 20ms) {
        EXPECT_EQ(early, 0u) << "nothing was due yet";
        EXPECT_EQ(MainQueue::nextDeadline(), start + 20ms);
    }
    ASSERT_TRUE(MainQueue::runUntil([&] { return order.size() == 2; }, 5000ms));
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_GE(ran[0], start + 20ms);
    EXPECT_GE(ran[1], start + 40ms);
    EXPECT_FALSE(MainQueue::nextDeadline().has_value());
}

TEST_F(MainQueueTest, BoundEventLoopIsWokenForEarlierWorkOnly) {
    std::vector<DispatchTime> wakes;
    std::mutex mutex;
    MainQueue::bind([&](DispatchTime when) {
        const std::lock_guard lock(mutex);
        wakes.push_back(when);
    });
    const auto later = std::chrono::steady_clock::now() + 100ms;
    DispatchQueue::main().asyncAfter(later, [] {});
    DispatchQueue::main().asyncAfter(later + 50ms, [] {}); // not earlier: no wake
    std::thread([] { DispatchQueue::main().async([] {}); }).join();
    DispatchQueue::main().async([] {}); // already due work pending: no wake
    {
        const std::lock_guard lock(mutex);
        ASSERT_EQ(wakes.size(), 2u);
        EXPECT_EQ(wakes[0], later);
        EXPECT_LE(wakes[1], std::chrono::steady_clock::now());
        wakes.clear();
    }
    // The event loop drains what is due and is asked back for the delayed item
    // (unless this thread got here so late that it fell due as well).
    const std::size_t drained = MainQueue::drain();
    if (std::chrono::steady_clock::now() < later) {
        EXPECT_EQ(drained, 2u);
        const std::lock_guard lock(mutex);
        ASSERT_EQ(wakes.size(), 1u);
        EXPECT_EQ(wakes[0], later);
    }
    MainQueue::unbind();
    EXPECT_EQ(drained + MainQueue::runUntil(later + 100ms), 4u);
}

TEST_F(MainQueueTest, DrainRunsOnlyWhatWasDueWhenItStarted) {
    int runs = 0;
    std::function<void()> again = [&] {
        ++runs;
        DispatchQueue::main().async(again);
    };
    DispatchQueue::main().async(again);
    EXPECT_EQ(MainQueue::drain(), 1u);
    EXPECT_EQ(MainQueue::drain(), 1u);
    EXPECT_EQ(runs, 2);
    again = [&] { ++runs; };
    // The item still queued reposts once more, now the counting-only version.
    EXPECT_EQ(MainQueue::runUntilIdle(), 2u);
    EXPECT_EQ(runs, 4);
}

class MainQueueDeathTest : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(MainQueueDeathTest, SyncOntoMainFromTheMainThreadStops) {
    EXPECT_DEATH(DispatchQueue::main().sync([] {}), "Fatal error: sync onto the queue \"main\"");
}

TEST_F(MainQueueDeathTest, RunningTheMainQueueOffTheMainThreadStops) {
    EXPECT_DEATH(std::thread([] { MainQueue::runUntilIdle(); }).join(),
                 "Fatal error: The main queue can only be run on the main thread");
}
