#pragma once

#include "foundation/DispatchQueue.hpp"

#include <deque>
#include <set>

namespace velmora::detail {

// The pending items of one queue: those ready to run, in submission order, and
// those waiting for a deadline, earliest first (ties in submission order).
// Not locked: each queue guards its list with its own mutex.
class WorkList {
public:
    WorkID add(std::function<void()> work, std::optional<DispatchTime> deadline) {
        const std::uint64_t sequence = nextSequence_++;
        if (deadline) {
            delayed_.insert({std::move(work), *deadline, sequence});
            return {*deadline, sequence};
        }
        ready_.push_back({std::move(work), DispatchTime{}, sequence});
        return {DispatchTime{}, sequence};
    }

    // Takes out a delayed item that has not become ready yet. The caller destroys
    // it outside its lock, since its captures may submit work as they go.
    std::function<void()> cancelDelayed(WorkID id) {
        const auto found = delayed_.find(WorkItem{nullptr, id.deadline, id.sequence});
        if (found == delayed_.end()) {
            return nullptr;
        }
        return std::move(delayed_.extract(found).value().work);
    }

    // Moves the delayed items whose deadline has come to the ready ones.
    void promote(DispatchTime now) {
        while (!delayed_.empty() && delayed_.begin()->deadline <= now) {
            auto node = delayed_.extract(delayed_.begin());
            ready_.push_back(std::move(node.value()));
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
        return delayed_.begin()->deadline;
    }

private:
    struct Earlier {
        bool operator()(const WorkItem& a, const WorkItem& b) const {
            return a.deadline != b.deadline ? a.deadline < b.deadline : a.sequence < b.sequence;
        }
    };

    std::deque<WorkItem> ready_;
    std::set<WorkItem, Earlier> delayed_;
    std::uint64_t nextSequence_ = 0;
};

// The queue whose work the calling thread is running, if any.
QueueCore*& currentQueueCore();

// The core of the main queue (MainQueue.cpp).
std::shared_ptr<QueueCore> mainQueueCore();

} // namespace velmora::detail
