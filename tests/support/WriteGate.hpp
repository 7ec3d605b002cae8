#pragma once

#include <condition_variable>
#include <mutex>

namespace velmora::test {

// Holds a save's writing, on the save's thread, until the test lets it through.
class WriteGate {
public:
    void open(int writes = 1) {
        {
            const std::lock_guard lock(mutex_);
            passes_ += writes;
        }
        opened_.notify_all();
    }
    // On the save's thread: waits for a pass and takes it.
    void pass() {
        std::unique_lock lock(mutex_);
        opened_.wait(lock, [&] { return passes_ > 0; });
        --passes_;
    }

private:
    std::mutex mutex_;
    std::condition_variable opened_;
    int passes_ = 0;
};

} // namespace velmora::test
