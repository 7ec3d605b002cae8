#pragma once

#include "foundation/DispatchQueue.hpp"

#include <deque>
#include <queue>
#include <vector>

namespace velmora::detail {

// The pending items of one queue: those ready to run, in submission order, and
// those waiting for a deadline, earliest first (ties in submission order).
// Not locked: each queue guards its list with its own mutex.
class WorkList {
public:
    void add(std::function<void()> work, std::optional<DispatchTime> deadline) {
        const std::uint64_t sequence = nextSequence_++;
        if (deadline) {
            delayed_.push({std::move(work), *deadline, sequence});
        } else {
            ready_.push_back({std::move(work), DispatchTime{}, sequence});
        }
    }

    // Moves the delayed items whose deadline has come to the ready ones.
    void promote(DispatchTime now) {
        while (!delayed_.empty() && delayed_.top().deadline <= now) {
            ready_.push_back(std::move(const_cast<WorkItem&>(delayed_.top())));
            delayed_.pop();
        }
    }

    bool hasReady() const { return !ready_.empty(); }
    bool empty() const { return ready_.empty() && delayed_.empty(); }
    std::size_t readyCount() const { return ready_.size(); }

    std::function<void()> takeReady() {
        std::function<void()> work = std::move(ready_.front().work);
        ready_.pop_front();
        return work;
    }

    std::optional<DispatchTime> nextDeadline() const {
        if (delayed_.empty()) {
            return std::nullopt;
        }
        return delayed_.top().deadline;
    }

private:
    struct Later {
        bool operator()(const WorkItem& a, const WorkItem& b) const {
            return a.deadline != b.deadline ? a.deadline > b.deadline : a.sequence > b.sequence;
        }
    };

    std::deque<WorkItem> ready_;
    std::priority_queue<WorkItem, std::vector<WorkItem>, Later> delayed_;
    std::uint64_t nextSequence_ = 0;
};

// The queue whose work the calling thread is running, if any.
QueueCore*& currentQueueCore();

// The core of the main queue (MainQueue.cpp).
std::shared_ptr<QueueCore> mainQueueCore();

} // namespace velmora::detail
