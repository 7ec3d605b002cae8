#include "foundation/DispatchQueue.hpp"
#include "foundation/Thread.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace velmora;
using namespace std::chrono_literals;

TEST(DispatchQueue, SerialQueueRunsItemsInSubmissionOrderOneAtATime) {
    DispatchQueue queue("Stabilizer Queue", DispatchQoS::userInteractive);
    EXPECT_EQ(queue.label(), "Stabilizer Queue");
    EXPECT_EQ(queue.qos(), DispatchQoS::userInteractive);
    std::vector<int> order;
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    for (int i = 0; i < 500; ++i) {
        queue.async([&, i] {
            if (running.fetch_add(1) != 0) {
                overlapped = true;
            }
            order.push_back(i);
            running.fetch_sub(1);
        });
    }
    queue.sync([] {});
    ASSERT_EQ(order.size(), 500u);
    for (int i = 0; i < 500; ++i) {
        EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    }
    EXPECT_FALSE(overlapped);
}

TEST(DispatchQueue, SubmissionsFromSeveralThreadsKeepEachThreadsOrder) {
    DispatchQueue queue("order");
    std::vector<std::pair<int, int>> seen;
    std::vector<std::thread> producers;
    for (int t = 0; t < 4; ++t) {
        producers.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                queue.async([&seen, t, i] { seen.emplace_back(t, i); });
            }
        });
    }
    for (auto& p : producers) {
        p.join();
    }
    queue.sync([] {});
    ASSERT_EQ(seen.size(), 800u);
    int last[4] = {-1, -1, -1, -1};
    for (const auto& [t, i] : seen) {
        EXPECT_EQ(i, last[t] + 1);
        last[t] = i;
    }
}

TEST(DispatchQueue, SyncRunsOnTheQueueAfterEarlierWorkAndReturnsItsResult) {
    DispatchQueue queue("sync");
    std::atomic<bool> slowDone{false};
    queue.async([&] {
        std::this_thread::sleep_for(20ms);
        slowDone = true;
    });
    const auto [sawSlow, wasCurrent] =
        queue.sync([&] { return std::pair(slowDone.load(), queue.isCurrent()); });
    EXPECT_TRUE(sawSlow);
    EXPECT_TRUE(wasCurrent);
    EXPECT_FALSE(queue.isCurrent());
    const std::thread::id worker = queue.sync([] { return std::this_thread::get_id(); });
    EXPECT_NE(worker, std::this_thread::get_id());
    EXPECT_FALSE(queue.sync([] { return Thread::isMainThread(); }));
}

TEST(DispatchQueue, SyncPassesExceptionsBackAndTheQueueGoesOn) {
    DispatchQueue queue("throws");
    EXPECT_THROW(queue.sync([]() -> int { throw std::runtime_error("damaged"); }),
                 std::runtime_error);
    EXPECT_EQ(queue.sync([] { return 7; }), 7);
}

TEST(DispatchQueue, AsyncAfterWaitsForItsDeadlineAndOrdersByIt) {
    DispatchQueue queue("after");
    std::mutex mutex;
    std::vector<int> order;
    // Held until everything is submitted, so that however late this thread
    // gets there nothing has run or fallen due before it; the deadlines count
    // from one instant.
    std::promise<void> gate;
    queue.async([held = gate.get_future().share()] { held.wait(); });
    const auto start = std::chrono::steady_clock::now();
    std::promise<std::chrono::steady_clock::duration> lateRan;
    queue.asyncAfter(start + 60ms, [&] {
        {
            const std::lock_guard lock(mutex);
            order.push_back(3);
        }
        lateRan.set_value(std::chrono::steady_clock::now() - start);
    });
    queue.asyncAfter(start + 30ms, [&] {
        const std::lock_guard lock(mutex);
        order.push_back(2);
    });
    queue.async([&] {
        const std::lock_guard lock(mutex);
        order.push_back(1);
    });
    gate.set_value();
    auto future = lateRan.get_future();
    ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
    EXPECT_GE(future.get(), 60ms);
    const std::lock_guard lock(mutex);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(DispatchQueue, WorkSubmittedBeforeTheLastHandleGoesStillRuns) {
    std::promise<void> ran;
    auto future = ran.get_future();
    std::atomic<int> count{0};
    {
        DispatchQueue queue("short-lived");
        for (int i = 0; i < 10; ++i) {
            queue.async([&count] {
                std::this_thread::sleep_for(1ms);
                ++count;
            });
        }
        queue.asyncAfter(10ms, [&ran] { ran.set_value(); });
    }
    ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(count.load(), 10);
}

TEST(DispatchQueue, CopiesShareOneQueue) {
    DispatchQueue a("shared");
    const DispatchQueue b = a;
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a == DispatchQueue("other"));
    EXPECT_TRUE(a.sync([&] { return b.isCurrent(); }));
}

TEST(DispatchQueue, GlobalQueueRunsItemsConcurrently) {
    // Two items that each wait for the other finish only when both run at once.
    std::mutex mutex;
    std::condition_variable changed;
    int arrived = 0;
    std::promise<bool> first;
    std::promise<bool> second;
    auto meet = [&](std::promise<bool>& done) {
        bool met = false;
        {
            std::unique_lock lock(mutex);
            ++arrived;
            changed.notify_all();
            met = changed.wait_for(lock, 5s, [&] { return arrived == 2; });
        }
        // Only after the lock is released: the test's frame ends once both are set.
        done.set_value(met);
    };
    DispatchQueue::global().async([&] { meet(first); });
    DispatchQueue::global(DispatchQoS::defaultQoS).async([&] { meet(second); });
    EXPECT_TRUE(first.get_future().get());
    EXPECT_TRUE(second.get_future().get());
    EXPECT_TRUE(DispatchQueue::global() == DispatchQueue::global(DispatchQoS::unspecified));
    EXPECT_FALSE(DispatchQueue::global() == DispatchQueue::global(DispatchQoS::background));
}

class DispatchQueueDeathTest : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(DispatchQueueDeathTest, SyncOntoTheRunningQueueStops) {
    EXPECT_DEATH(
        {
            DispatchQueue queue("self");
            queue.sync([&] { queue.sync([] {}); });
        },
        "Fatal error: sync onto the queue \"self\"");
}

TEST_F(DispatchQueueDeathTest, AnExceptionEscapingAnAsyncItemStops) {
    EXPECT_DEATH(
        {
            DispatchQueue queue("escape");
            queue.async([] { throw std::runtime_error("lost"); });
            std::promise<void>().get_future().wait(); // until the queue's thread stops the program
        },
        "Fatal error: Uncaught exception in a work item of queue \"escape\": lost");
}
