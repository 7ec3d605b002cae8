#include "foundation/MainQueue.hpp"

#include "foundation/FatalError.hpp"
#include "foundation/Thread.hpp"
#include "foundation/WorkList.hpp"

#include <algorithm>
#include <condition_variable>
#include <mutex>

namespace velmora {

namespace {

using Clock = std::chrono::steady_clock;

class MainCore : public detail::QueueCore {
public:
    MainCore() : QueueCore("main", DispatchQoS::userInteractive) {}

    detail::WorkID enqueue(std::function<void()> work,
                           std::optional<DispatchTime> deadline) override {
        MainQueue::Waker waker;
        DispatchTime wakeAt{};
        detail::WorkID id;
        {
            const std::lock_guard lock(mutex_);
            const auto earliestBefore = earliestLocked();
            id = list_.add(std::move(work), deadline);
            const DispatchTime due = deadline.value_or(DispatchTime::min());
            if (waker_ && (!earliestBefore || due < *earliestBefore)) {
                waker = waker_;
                wakeAt = due;
            }
        }
        changed_.notify_all();
        if (waker) {
            waker(wakeAt);
        }
        return id;
    }

    void cancel(detail::WorkID id) override {
        std::function<void()> dropped;
        const std::lock_guard lock(mutex_);
        dropped = list_.cancelDelayed(id);
    }

    bool isCurrent() const override { return Thread::isMainThread(); }

    void bind(MainQueue::Waker waker) {
        std::optional<DispatchTime> earliest;
        {
            const std::lock_guard lock(mutex_);
            waker_ = std::move(waker);
            earliest = earliestLocked();
            waker = waker_;
        }
        if (waker && earliest) {
            waker(*earliest);
        }
    }

    // Runs at most `limit` due items; answers how many ran.
    std::size_t runDue(std::size_t limit) {
        std::size_t count = 0;
        while (count < limit) {
            std::function<void()> work;
            {
                const std::lock_guard lock(mutex_);
                list_.promote(Clock::now());
                if (!list_.hasReady()) {
                    break;
                }
                work = list_.takeReady();
            }
            run(work);
            work = nullptr;
            ++count;
        }
        return count;
    }

    std::size_t dueCount() {
        const std::lock_guard lock(mutex_);
        list_.promote(Clock::now());
        return list_.readyCount();
    }

    // Sleeps until an item may be due, something is submitted, or `limit`.
    void waitForWork(DispatchTime limit) {
        std::unique_lock lock(mutex_);
        list_.promote(Clock::now());
        if (list_.hasReady()) {
            return;
        }
        DispatchTime until = limit;
        if (const auto deadline = list_.nextDeadline(); deadline && *deadline < until) {
            until = *deadline;
        }
        changed_.wait_until(lock, until);
    }

    void requestWake() {
        MainQueue::Waker waker;
        std::optional<DispatchTime> earliest;
        {
            const std::lock_guard lock(mutex_);
            waker = waker_;
            earliest = earliestLocked();
        }
        if (waker && earliest) {
            waker(*earliest);
        }
    }

    std::optional<DispatchTime> nextDeadline() {
        const std::lock_guard lock(mutex_);
        return list_.nextDeadline();
    }

private:
    std::optional<DispatchTime> earliestLocked() const {
        if (list_.hasReady()) {
            return DispatchTime::min();
        }
        return list_.nextDeadline();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    detail::WorkList list_;
    MainQueue::Waker waker_;
};

MainCore& core() {
    // Leaked: workers may still submit while the process exits.
    static MainCore* shared = new MainCore;
    return *shared;
}

void requireMainThread() {
    if (!Thread::isMainThread()) {
        fatalError("The main queue can only be run on the main thread");
    }
}

} // namespace

std::shared_ptr<detail::QueueCore> detail::mainQueueCore() {
    static const std::shared_ptr<QueueCore> shared(&core(), [](QueueCore*) {});
    return shared;
}

void MainQueue::bind(Waker waker) {
    core().bind(std::move(waker));
}

void MainQueue::unbind() {
    core().bind(nullptr);
}

std::size_t MainQueue::drain() {
    requireMainThread();
    // Only what is due now, so an item that resubmits itself cannot starve the event loop.
    const std::size_t count = core().runDue(core().dueCount());
    core().requestWake();
    return count;
}

std::size_t MainQueue::runUntilIdle() {
    requireMainThread();
    return core().runDue(SIZE_MAX);
}

std::size_t MainQueue::runUntil(DispatchTime deadline) {
    requireMainThread();
    std::size_t count = 0;
    for (;;) {
        count += core().runDue(SIZE_MAX);
        if (Clock::now() >= deadline) {
            return count;
        }
        core().waitForWork(deadline);
    }
}

bool MainQueue::runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    requireMainThread();
    const DispatchTime deadline = Clock::now() + timeout;
    for (;;) {
        core().runDue(SIZE_MAX);
        if (done()) {
            return true;
        }
        const DispatchTime now = Clock::now();
        if (now >= deadline) {
            return false;
        }
        // `done()` may turn true on another thread without posting here: look again soon.
        core().waitForWork(std::min(deadline, now + std::chrono::milliseconds(5)));
    }
}

std::optional<DispatchTime> MainQueue::nextDeadline() {
    return core().nextDeadline();
}

} // namespace velmora
