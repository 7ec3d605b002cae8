#include "gpu/cpu/Workers.hpp"

#include "foundation/FatalError.hpp"

#include <memory>
#include <mutex>
#include <tbb/blocked_range.h>
#include <tbb/info.h>
#include <tbb/parallel_for.h>
#include <tbb/partitioner.h>
#include <tbb/task_arena.h>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace velmora::cpu {

namespace {
// Entering the arena from a thread outside it can hand the functor, on the
// caller's stack, to a worker inside the uninstrumented library: tell
// ThreadSanitizer about that hand-over and the one back.
void handOver([[maybe_unused]] const void* token) {
#if defined(__SANITIZE_THREAD__)
    __tsan_release(const_cast<void*>(token));
#endif
}
void takeOver([[maybe_unused]] const void* token) {
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(const_cast<void*>(token));
#endif
}
} // namespace

namespace {
// Never destroyed: the GPU timeline thread may still run a command buffer
// while static objects are torn down at exit.
struct ArenaState {
    std::mutex mutex;
    std::shared_ptr<tbb::task_arena> current;
};

ArenaState& arenaState() {
    static auto* state = new ArenaState;
    return *state;
}

std::shared_ptr<tbb::task_arena> arena() {
    auto& state = arenaState();
    std::lock_guard lock(state.mutex);
    if (state.current == nullptr) {
        state.current = std::make_shared<tbb::task_arena>(tbb::info::default_concurrency());
    }
    return state.current;
}
} // namespace

void setWorkerThreadCount(int count) {
    precondition(count >= 0, "Negative worker count");
    const int n = count == 0 ? tbb::info::default_concurrency() : count;
    auto& state = arenaState();
    std::lock_guard lock(state.mutex);
    state.current = std::make_shared<tbb::task_arena>(n);
}

int workerThreadCount() {
    return arena()->max_concurrency();
}

void parallelRows(int64_t begin, int64_t end, const std::function<void(int64_t, int64_t)>& body,
                  int64_t bandRows) {
    precondition(bandRows > 0, "Empty row band");
    if (end <= begin) {
        return;
    }
    const int64_t bands = (end - begin + bandRows - 1) / bandRows;
    auto run = [&](int64_t band) {
        const int64_t y0 = begin + band * bandRows;
        body(y0, std::min(end, y0 + bandRows));
    };
    if (bands == 1) {
        run(0);
        return;
    }
    handOver(&run);
    arena()->execute([&] {
        takeOver(&run);
        tbb::parallel_for(
            tbb::blocked_range<int64_t>(0, bands, 1),
            [&](const tbb::blocked_range<int64_t>& r) {
                // Another thread inside the arena (a second caller) may run this band.
                takeOver(&run);
                for (int64_t b = r.begin(); b < r.end(); ++b) {
                    run(b);
                }
                handOver(&run);
            },
            tbb::simple_partitioner());
        handOver(&run);
    });
    takeOver(&run);
}

} // namespace velmora::cpu
