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

namespace {
// The bands parallelRows hands to the arena. Its own address is the token of
// the hand-over: a worker knows it before reading anything of the work, and it
// exists, complete, before the caller hands it over.
struct RowBands {
    const std::function<void(int64_t, int64_t)>* body;
    int64_t begin;
    int64_t end;
    int64_t bandRows;
    int64_t bands;

    void run(int64_t band) const {
        const int64_t y0 = begin + band * bandRows;
        (*body)(y0, std::min(end, y0 + bandRows));
    }

    void operator()() const {
        takeOver(this);
        tbb::parallel_for(
            tbb::blocked_range<int64_t>(0, bands, 1),
            [this](const tbb::blocked_range<int64_t>& r) {
                // Another thread inside the arena (a second caller) may run this band.
                takeOver(this);
                for (int64_t b = r.begin(); b < r.end(); ++b) {
                    run(b);
                }
                handOver(this);
            },
            tbb::simple_partitioner());
        handOver(this);
    }
};
} // namespace

void parallelRows(int64_t begin, int64_t end, const std::function<void(int64_t, int64_t)>& body,
                  int64_t bandRows) {
    precondition(bandRows > 0, "Empty row band");
    if (end <= begin) {
        return;
    }
    const RowBands work{&body, begin, end, bandRows, (end - begin + bandRows - 1) / bandRows};
    if (work.bands == 1) {
        work.run(0);
        return;
    }
    const auto target = arena();
    handOver(&work);
    target->execute(work);
    takeOver(&work);
}

} // namespace velmora::cpu
