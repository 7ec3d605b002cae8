#include "gpu/cpu/Timeline.hpp"

namespace velmora::cpu {

namespace {
thread_local int timelineDepth = 0;

struct TimelineScope {
    TimelineScope() { ++timelineDepth; }
    ~TimelineScope() { --timelineDepth; }
};
} // namespace

bool Timeline::isTimelineThread() {
    return timelineDepth > 0;
}

Timeline::~Timeline() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void Timeline::submit(std::function<void()> job) {
    if (isSynchronous()) {
        waitIdle();
        std::lock_guard run(synchronousRun_);
        TimelineScope scope;
        job();
        return;
    }
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
        if (!thread_.joinable()) {
            thread_ = std::thread([this] { loop(); });
        }
    }
    wake_.notify_one();
}

void Timeline::setSynchronous(bool synchronous) {
    waitIdle();
    std::lock_guard lock(mutex_);
    synchronous_ = synchronous;
}

bool Timeline::isSynchronous() const {
    std::lock_guard lock(mutex_);
    return synchronous_;
}

void Timeline::waitIdle() {
    if (isTimelineThread()) {
        return;
    }
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return jobs_.empty() && !running_; });
}

void Timeline::loop() {
    TimelineScope scope;
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (jobs_.empty()) {
            return;
        }
        auto job = std::move(jobs_.front());
        jobs_.pop_front();
        running_ = true;
        lock.unlock();
        job();
        lock.lock();
        running_ = false;
        if (jobs_.empty()) {
            idle_.notify_all();
        }
    }
}

} // namespace velmora::cpu
