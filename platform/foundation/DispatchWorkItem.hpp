#pragma once

#include <atomic>
#include <functional>
#include <memory>

namespace velmora {

// A block of work that can be withdrawn before it starts: `cancel()` keeps a
// submitted item that has not begun from running, and lets a running one see
// `isCancelled()`. A handle: copies share the item. Safe to use from any thread.
class DispatchWorkItem {
public:
    explicit DispatchWorkItem(std::function<void()> block);

    // Runs the block on the calling thread unless cancelled.
    void perform() const;
    void cancel() const { state_->cancelled.store(true, std::memory_order_release); }
    bool isCancelled() const { return state_->cancelled.load(std::memory_order_acquire); }

    friend bool operator==(const DispatchWorkItem& a, const DispatchWorkItem& b) {
        return a.state_ == b.state_;
    }

private:
    struct State {
        std::function<void()> block;
        std::atomic<bool> cancelled{false};
    };
    std::shared_ptr<State> state_;
};

} // namespace velmora
