#include "foundation/MainQueue.hpp"
#include "foundation/Thread.hpp"
#include "foundation/Timer.hpp"

#include <gtest/gtest.h>
#include <memory>
#include <vector>

using namespace velmora;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(Timer, RepeatingTimerTicksOnTheMainQueueUntilInvalidated) {
    std::vector<Clock::duration> ticks;
    const auto start = Clock::now();
    bool onMain = true;
    auto timer = Timer::scheduledTimer(20ms, true, [&](Timer& t) {
        onMain = onMain && Thread::isMainThread();
        ticks.push_back(Clock::now() - start);
        if (ticks.size() == 3) {
            t.invalidate();
        }
    });
    ASSERT_TRUE(MainQueue::runUntil([&] { return ticks.size() == 3; }, 5000ms));
    EXPECT_TRUE(onMain);
    EXPECT_FALSE(timer->isValid());
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        EXPECT_GE(ticks[i], 20ms * static_cast<int>(i + 1));
    }
    MainQueue::runUntil(Clock::now() + 60ms);
    EXPECT_EQ(ticks.size(), 3u);
}

TEST(Timer, OneShotTimerFiresOnceAndInvalidatedOneNever) {
    int once = 0;
    int never = 0;
    auto single = Timer::scheduledTimer(5ms, false, [&](Timer&) { ++once; });
    auto cancelled = Timer::scheduledTimer(5ms, true, [&](Timer&) { ++never; });
    cancelled->invalidate();
    ASSERT_TRUE(MainQueue::runUntil([&] { return once == 1; }, 5000ms));
    EXPECT_FALSE(MainQueue::nextDeadline().has_value()) << "neither is scheduled any more";
    MainQueue::runUntil(Clock::now() + 40ms);
    EXPECT_EQ(once, 1);
    EXPECT_EQ(never, 0);
    EXPECT_FALSE(single->isValid());
}

TEST(Timer, MissedTicksAreSkippedNotBunched) {
    constexpr auto interval = 10ms;
    int ticks = 0;
    auto timer = Timer::scheduledTimer(interval, true, [&](Timer&) { ++ticks; });
    // The main thread is busy for several intervals.
    std::this_thread::sleep_for(interval * 5 + interval / 2);
    const auto start = Clock::now();
    MainQueue::runUntilIdle();
    // One tick for the missed ones; another only if the drain itself took
    // longer than an interval.
    EXPECT_GE(ticks, 1);
    EXPECT_LE(ticks, 1 + (Clock::now() - start) / interval + 1);
    const int afterBusy = ticks;
    ASSERT_TRUE(MainQueue::runUntil([&] { return ticks > afterBusy; }, 5000ms)) << "it goes on";
    timer->invalidate();
    const int last = ticks;
    MainQueue::runUntil(Clock::now() + 20ms);
    EXPECT_EQ(ticks, last);
}

TEST(Timer, TheQueueKeepsAScheduledTimerAliveAndReleasesItsBlockOnInvalidate) {
    auto owner = std::make_shared<int>(0);
    std::weak_ptr<int> watch = owner;
    std::weak_ptr<Timer> timer;
    {
        auto t = Timer::scheduledTimer(5ms, true, [owner](Timer& self) {
            ++*owner;
            self.invalidate();
        });
        timer = t;
    }
    owner.reset();
    EXPECT_FALSE(timer.expired());
    EXPECT_FALSE(watch.expired());
    MainQueue::runUntil([&] { return watch.expired(); }, 5000ms);
    EXPECT_TRUE(watch.expired());
    MainQueue::runUntilIdle();
    EXPECT_TRUE(timer.expired());
}

TEST(Timer, FireRunsTheBlockAtOnce) {
    int count = 0;
    auto timer = Timer::scheduledTimer(1h, true, [&](Timer&) { ++count; });
    timer->fire();
    EXPECT_EQ(count, 1);
    EXPECT_TRUE(timer->isValid());
    timer->invalidate();
    // The hour-long wait left the main queue with it.
    EXPECT_FALSE(MainQueue::nextDeadline().has_value());
    timer->fire();
    EXPECT_EQ(count, 1);
}

// Fired by hand, a timer outlives a block that drops its only owner, as a
// block that schedules its own replacement does.
TEST(Timer, FireOutlivesABlockThatReleasesTheTimer) {
    std::shared_ptr<Timer> owned;
    int count = 0;
    // Not scheduled: nothing but `owned` holds it.
    owned = std::make_shared<Timer>(1h, false, [&](Timer&) {
        ++count;
        owned->invalidate();
        owned = Timer::scheduledTimer(1h, false, [](Timer&) {});
    });
    // No weak reference held here: it would keep the memory, hiding a use after free.
    owned->fire();
    EXPECT_EQ(count, 1);
    EXPECT_TRUE(owned->isValid()) << "the replacement";
    owned->invalidate();
}
