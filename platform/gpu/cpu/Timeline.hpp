#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace velmora::cpu {

// The one ordered stream of GPU work of a device: jobs run one after another in
// the order they were submitted, on a thread of the timeline's own or, in
// synchronous mode, on the submitting thread.
class Timeline {
public:
    Timeline() = default;
    Timeline(const Timeline&) = delete;
    Timeline& operator=(const Timeline&) = delete;
    ~Timeline();

    void submit(std::function<void()> job);
    void setSynchronous(bool synchronous);
    bool isSynchronous() const;
    // Blocks until every submitted job has run.
    void waitIdle();

    static bool isTimelineThread();

private:
    void loop();

    mutable std::mutex mutex_;
    std::recursive_mutex synchronousRun_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<std::function<void()>> jobs_;
    bool running_ = false; // a job is executing on the thread
    bool synchronous_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace velmora::cpu
