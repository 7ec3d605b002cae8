#include "foundation/DispatchQueue.hpp"
#include "foundation/DispatchWorkItem.hpp"

#include <atomic>
#include <future>
#include <gtest/gtest.h>

using namespace velmora;

TEST(DispatchWorkItem, CancelStopsAnItemNotYetStartedButNotOneRunning) {
    DispatchQueue queue("CursorGeneratorQueue", DispatchQoS::userInitiated);
    std::promise<void> release;
    std::promise<void> running;
    std::atomic<int> ran{0};
    bool sawCancel = false;
    DispatchWorkItem busy([&] {
        running.set_value();
        release.get_future().wait();
        sawCancel = busy.isCancelled();
        ++ran;
    });
    DispatchWorkItem pending([&] { ran += 10; });
    DispatchWorkItem last([&] { ran += 100; });
    queue.async(busy);
    queue.async(pending);
    queue.async(last);
    running.get_future().wait();
    busy.cancel();
    DispatchWorkItem(pending).cancel(); // copies share the item
    release.set_value();
    queue.sync([] {});
    EXPECT_EQ(ran, 101);
    EXPECT_TRUE(sawCancel);
    EXPECT_TRUE(pending.isCancelled());
    EXPECT_FALSE(last.isCancelled());
    pending.perform();
    EXPECT_EQ(ran, 101);
}
