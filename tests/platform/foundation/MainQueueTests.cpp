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
    std::vector<int> order;
    DispatchQueue::main().asyncAfter(40ms, [&] { order.push_back(2); });
    DispatchQueue::main().asyncAfter(20ms, [&] { order.push_back(1); });
    EXPECT_EQ(MainQueue::runUntilIdle(), 0u);
    ASSERT_TRUE(MainQueue::nextDeadline().has_value());
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(MainQueue::runUntil([&] { return order.size() == 2; }, 5000ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
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
    // The event loop drains what is due and is asked back for the delayed item.
    EXPECT_EQ(MainQueue::drain(), 2u);
    {
        const std::lock_guard lock(mutex);
        ASSERT_EQ(wakes.size(), 1u);
        EXPECT_EQ(wakes[0], later);
    }
    MainQueue::unbind();
    EXPECT_EQ(MainQueue::runUntil(later + 100ms), 2u);
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
