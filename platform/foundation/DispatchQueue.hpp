#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

namespace velmora {

class DispatchWorkItem;

// Quality of service: how urgent a queue's work is. Threads of background and
// utility queues run at a lower scheduling priority; the others keep the
// process's (raising it needs privileges a desktop user does not have).
enum class DispatchQoS {
    background,
    utility,
    defaultQoS,
    userInitiated,
    userInteractive,
    unspecified
};

using DispatchTime = std::chrono::steady_clock::time_point;

namespace detail {

struct WorkItem {
    std::function<void()> work;
    DispatchTime deadline;
    std::uint64_t sequence = 0;
};

// Names a submitted item, so that a delayed one can be withdrawn.
struct WorkID {
    DispatchTime deadline;
    std::uint64_t sequence = 0;
};

// What a queue runs on: a thread of its own, a pool, or the main thread.
class QueueCore {
public:
    QueueCore(std::string label, DispatchQoS qos) : label_(std::move(label)), qos_(qos) {}
    virtual ~QueueCore() = default;
    QueueCore(const QueueCore&) = delete;
    QueueCore& operator=(const QueueCore&) = delete;

    const std::string& label() const { return label_; }
    DispatchQoS qos() const { return qos_; }

    virtual WorkID enqueue(std::function<void()> work, std::optional<DispatchTime> deadline) = 0;
    // Withdraws a delayed item whose time has not come.
    virtual void cancel(WorkID id) = 0;
    // True on a thread that is running this queue's work now.
    virtual bool isCurrent() const = 0;
    // The last handle is gone: finish what was submitted, then release the thread.
    virtual void close() {}

protected:
    // Runs an asynchronous item; an exception escaping it is a programming error.
    void run(std::function<void()>& work) const;

private:
    std::string label_;
    DispatchQoS qos_;
};

} // namespace detail

// A dispatch queue. Made with a label it is serial: its items run one at a time,
// in submission order, on a thread of its own. `main()` runs on the main thread
// (see MainQueue); `global()` is a concurrent pool. A DispatchQueue is a handle:
// copies share the queue, and work already submitted still runs after the last
// handle is gone.
class DispatchQueue {
public:
    explicit DispatchQueue(std::string label, DispatchQoS qos = DispatchQoS::unspecified);

    static DispatchQueue& main();
    static DispatchQueue& global(DispatchQoS qos = DispatchQoS::defaultQoS);

    const std::string& label() const { return core_->label(); }
    DispatchQoS qos() const { return core_->qos(); }

    void async(std::function<void()> work) const;
    // Runs `item` in its turn unless it was cancelled by then.
    void async(const DispatchWorkItem& item) const;
    void asyncAfter(DispatchTime deadline, std::function<void()> work) const;
    void asyncAfter(std::chrono::nanoseconds delay, std::function<void()> work) const {
        asyncAfter(std::chrono::steady_clock::now() + delay, std::move(work));
    }

    // Runs `work` on the queue after everything submitted before it and waits
    // for it; its result or exception comes back to the caller. Waiting on the
    // queue one is running on would never end and stops the program.
    template <class F> std::invoke_result_t<F&> sync(F&& work) const {
        using R = std::invoke_result_t<F&>;
        if constexpr (std::is_void_v<R>) {
            syncRun([&] { work(); });
        } else {
            std::optional<R> result;
            syncRun([&] { result.emplace(work()); });
            return std::move(*result);
        }
    }

    // True while the calling thread runs an item of this queue.
    bool isCurrent() const { return core_->isCurrent(); }

    friend bool operator==(const DispatchQueue& a, const DispatchQueue& b) {
        return a.core_ == b.core_;
    }

private:
    struct Handle;
    explicit DispatchQueue(std::shared_ptr<detail::QueueCore> core);
    void syncRun(const std::function<void()>& work) const;

    std::shared_ptr<detail::QueueCore> core_;
    std::shared_ptr<Handle> handle_;
};

} // namespace velmora
