#include "foundation/DispatchQueue.hpp"

#include "foundation/DispatchWorkItem.hpp"
#include "foundation/FatalError.hpp"
#include "foundation/Thread.hpp"
#include "foundation/WorkList.hpp"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace velmora {

namespace detail {

QueueCore*& currentQueueCore() {
    static thread_local QueueCore* current = nullptr;
    return current;
}

void QueueCore::run(std::function<void()>& work) const {
    try {
        work();
    } catch (const std::exception& e) {
        fatalError("Uncaught exception in a work item of queue \"" + label_ + "\": " + e.what());
    } catch (...) {
        fatalError("Uncaught exception in a work item of queue \"" + label_ + "\"");
    }
}

} // namespace detail

namespace {

using detail::QueueCore;
using detail::WorkList;

void applyPriorityHint(DispatchQoS qos) {
    int niceness = 0;
    if (qos == DispatchQoS::background) {
        niceness = 10;
    } else if (qos == DispatchQoS::utility) {
        niceness = 5;
    }
    if (niceness != 0) {
        // Best effort: a hint, and lowering one's own priority is always allowed.
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), niceness);
    }
}

// Marks the calling thread as running `core` for the duration of one item.
class CurrentQueueScope {
public:
    explicit CurrentQueueScope(QueueCore* core) : previous_(detail::currentQueueCore()) {
        detail::currentQueueCore() = core;
    }
    ~CurrentQueueScope() { detail::currentQueueCore() = previous_; }
    CurrentQueueScope(const CurrentQueueScope&) = delete;
    CurrentQueueScope& operator=(const CurrentQueueScope&) = delete;

private:
    QueueCore* previous_;
};

// Runs items on workers taken from a list guarded by one mutex; a serial queue
// is the case of one worker.
class ThreadedCore : public QueueCore, public std::enable_shared_from_this<ThreadedCore> {
public:
    ThreadedCore(std::string label, DispatchQoS qos) : QueueCore(std::move(label), qos) {}

    void start(unsigned workers) {
        for (unsigned i = 0; i < workers; ++i) {
            std::thread thread([self = shared_from_this()] { self->workLoop(); });
            thread.detach();
        }
    }

    detail::WorkID enqueue(std::function<void()> work,
                           std::optional<DispatchTime> deadline) override {
        detail::WorkID id;
        {
            const std::lock_guard lock(mutex_);
            id = list_.add(std::move(work), deadline);
        }
        // A new earliest deadline must wake a worker that sleeps until a later one.
        changed_.notify_one();
        return id;
    }

    void cancel(detail::WorkID id) override {
        std::function<void()> dropped;
        const std::lock_guard lock(mutex_);
        dropped = list_.cancelDelayed(id);
    }

    bool isCurrent() const override { return detail::currentQueueCore() == this; }

    void close() override {
        {
            const std::lock_guard lock(mutex_);
            closed_ = true;
        }
        changed_.notify_all();
    }

private:
    void workLoop() {
        Thread::setCurrentName(label());
        applyPriorityHint(qos());
        std::unique_lock lock(mutex_);
        for (;;) {
            list_.promote(std::chrono::steady_clock::now());
            if (list_.hasReady()) {
                std::function<void()> work = list_.takeReady();
                if (list_.hasReady()) {
                    changed_.notify_one();
                }
                lock.unlock();
                {
                    const CurrentQueueScope scope(this);
                    run(work);
                    // Captures are released before the next item, on this thread.
                    work = nullptr;
                }
                lock.lock();
                continue;
            }
            if (closed_ && list_.empty()) {
                return;
            }
            if (const auto deadline = list_.nextDeadline()) {
                changed_.wait_until(lock, *deadline);
            } else {
                changed_.wait(lock);
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    WorkList list_;
    bool closed_ = false;
};

std::shared_ptr<QueueCore> makeThreaded(std::string label, DispatchQoS qos, unsigned workers) {
    auto core = std::make_shared<ThreadedCore>(std::move(label), qos);
    core->start(workers);
    return core;
}

std::string globalLabel(DispatchQoS qos) {
    switch (qos) {
    case DispatchQoS::background:
        return "global.background";
    case DispatchQoS::utility:
        return "global.utility";
    case DispatchQoS::userInitiated:
        return "global.userInitiated";
    case DispatchQoS::userInteractive:
        return "global.userInteractive";
    case DispatchQoS::defaultQoS:
    case DispatchQoS::unspecified:
        break;
    }
    return "global.default";
}

} // namespace

struct DispatchQueue::Handle {
    explicit Handle(std::shared_ptr<QueueCore> c) : core(std::move(c)) {}
    ~Handle() { core->close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    std::shared_ptr<QueueCore> core;
};

DispatchQueue::DispatchQueue(std::string label, DispatchQoS qos)
    : core_(makeThreaded(std::move(label), qos, 1)), handle_(std::make_shared<Handle>(core_)) {}

DispatchQueue::DispatchQueue(std::shared_ptr<detail::QueueCore> core) : core_(std::move(core)) {}

DispatchQueue& DispatchQueue::main() {
    // Leaked: work may be posted to it while the process exits.
    static DispatchQueue* queue = new DispatchQueue(detail::mainQueueCore());
    return *queue;
}

DispatchQueue& DispatchQueue::global(DispatchQoS qos) {
    if (qos == DispatchQoS::unspecified) {
        qos = DispatchQoS::defaultQoS;
    }
    static std::mutex mutex;
    static DispatchQueue* pools[6] = {};
    const std::lock_guard lock(mutex);
    DispatchQueue*& pool = pools[static_cast<int>(qos)];
    if (pool == nullptr) {
        const unsigned workers = std::max(2u, std::thread::hardware_concurrency());
        pool = new DispatchQueue(makeThreaded(globalLabel(qos), qos, workers));
    }
    return *pool;
}

void DispatchQueue::async(std::function<void()> work) const {
    core_->enqueue(std::move(work), std::nullopt);
}

void DispatchQueue::async(const DispatchWorkItem& item) const {
    core_->enqueue([item] { item.perform(); }, std::nullopt);
}

void DispatchQueue::asyncAfter(DispatchTime deadline, std::function<void()> work) const {
    core_->enqueue(std::move(work), deadline);
}

void DispatchQueue::syncRun(const std::function<void()>& work) const {
    if (core_->isCurrent()) {
        fatalError("sync onto the queue \"" + label() + "\" from its own work would never end");
    }
    struct Completion {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        std::exception_ptr error;
    };
    auto completion = std::make_shared<Completion>();
    core_->enqueue(
        [completion, &work] {
            std::exception_ptr error;
            try {
                work();
            } catch (...) {
                error = std::current_exception();
            }
            const std::lock_guard lock(completion->mutex);
            completion->error = error;
            completion->finished = true;
            completion->done.notify_one();
        },
        std::nullopt);
    std::unique_lock lock(completion->mutex);
    completion->done.wait(lock, [&] { return completion->finished; });
    if (completion->error) {
        std::rethrow_exception(completion->error);
    }
}

} // namespace velmora
