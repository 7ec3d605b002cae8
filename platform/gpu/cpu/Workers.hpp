#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

// The worker threads of the CPU device. Work is cut into row bands of a fixed
// height that does not depend on the number of threads, so every result is the
// same whatever that number is.
namespace velmora::cpu {

inline constexpr int64_t kBandRows = 16;

// 0 restores the default (one thread per core). Call while no GPU work runs.
void setWorkerThreadCount(int count);
int workerThreadCount();

// Calls body(y0, y1) for the bands [y, min(y + bandRows, end)) of [begin, end),
// in parallel on the workers.
void parallelRows(int64_t begin, int64_t end, const std::function<void(int64_t, int64_t)>& body,
                  int64_t bandRows = kBandRows);

// Runs work on the calling thread at a lower priority than the device's own:
// the bands and parallel loops it starts take the workers only while painting
// leaves them idle, so a long job in the background never holds a frame up.
void runInBackground(const std::function<void()>& work);
// Whether the calling thread is inside runInBackground's work.
bool isInBackground();

// Work another thread will do, there at the standing (in the background or
// not) of the thread that makes it.
template <class Work> auto atCallersStanding(Work work) {
    return [work = std::move(work), background = isInBackground()]() mutable {
        using Result = std::invoke_result_t<Work&>;
        if (!background) {
            return work();
        }
        if constexpr (std::is_void_v<Result>) {
            runInBackground(work);
        } else {
            std::optional<Result> result;
            runInBackground([&] { result.emplace(work()); });
            return std::move(*result);
        }
    };
}

} // namespace velmora::cpu
