#include "gpu/cpu/Workers.hpp"

#include "foundation/FatalError.hpp"

#include <memory>
#include <mutex>
#include <tbb/blocked_range.h>
#include <tbb/info.h>
#include <tbb/parallel_for.h>
#include <tbb/partitioner.h>
#include <tbb/task_arena.h>
#include <tbb/task_scheduler_observer.h>
#include <utility>

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

namespace {
// Set on every thread while it works in the background arena, so that the
// bands it cuts stay there instead of queueing with painting's own.
thread_local bool inBackground = false;

class BackgroundObserver : public tbb::task_scheduler_observer {
public:
    explicit BackgroundObserver(tbb::task_arena& arena) : tbb::task_scheduler_observer(arena) {
        observe(true);
    }
    void on_scheduler_entry(bool) override { inBackground = true; }
    void on_scheduler_exit(bool) override { inBackground = false; }
};

struct Background {
    tbb::task_arena arena{tbb::task_arena::automatic, 1, tbb::task_arena::priority::low};
    BackgroundObserver observer{arena};
};

// Never destroyed, as the device's own arena.
Background& background() {
    static auto* state = new Background;
    return *state;
}
} // namespace

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
    if (inBackground) {
        work();
        return;
    }
    const auto target = arena();
    handOver(&work);
    target->execute(work);
    takeOver(&work);
}

bool isInBackground() {
    return inBackground;
}

void runInBackground(const std::function<void()>& work) {
    // Kept on the way out of a throwing job too: the thread goes on serving.
    struct Flag {
        bool before = std::exchange(inBackground, true);
        ~Flag() { inBackground = before; }
    };
    const Flag flag;
    handOver(&work);
    // A worker that runs it instead has the flag from the arena's observer.
    background().arena.execute([&] {
        takeOver(&work);
        work();
    });
    takeOver(&work);
}

} // namespace velmora::cpu
