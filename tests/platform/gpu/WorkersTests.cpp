#include "gpu/cpu/Workers.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <tbb/info.h>
#include <thread>

using namespace velmora;

namespace {

// A save's long work in the background, holding every thread it was given,
// must leave the device's bands (painting's frames) threads of their own.
TEST(Workers, BackgroundWorkHoldingItsThreadsLeavesTheDevicesBandsRunning) {
    cpu::setWorkerThreadCount(0);
    const int threads = tbb::info::default_concurrency();
    std::mutex mutex;
    std::condition_variable changed;
    int holding = 0;
    bool released = false;
    std::thread background([&] {
        cpu::runInBackground([&] {
            cpu::parallelRows(0, 4 * threads * cpu::kBandRows, [&](int64_t, int64_t) {
                std::unique_lock lock(mutex);
                ++holding;
                changed.notify_all();
                // Bounded, so that a failure ends: the bands then let every other go.
                if (!changed.wait_for(lock, std::chrono::seconds(60), [&] { return released; })) {
                    released = true;
                    changed.notify_all();
                }
            });
        });
    });
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return holding >= threads; });
    }
    std::atomic<int> bands = 0;
    cpu::parallelRows(0, 8 * cpu::kBandRows, [&](int64_t, int64_t) { ++bands; });
    bool heldUp = false;
    {
        std::lock_guard lock(mutex);
        heldUp = released;
        released = true;
    }
    changed.notify_all();
    background.join();
    EXPECT_EQ(bands, 8);
    EXPECT_FALSE(heldUp) << "the device's bands waited for the background work to let go";
}

} // namespace
