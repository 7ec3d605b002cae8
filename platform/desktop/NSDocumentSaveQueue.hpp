#pragma once

#include "foundation/DispatchQueue.hpp"

#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <string>

class QWidget;

namespace velmora {

// One document's saves, written one at a time on a thread of their own. What
// a write needs is taken on the main thread before it is handed over; its end
// comes back to the main thread, where work held back until no save writes
// runs next, in the order it came. Main thread only, but for the writes.
class NSDocumentSaveQueue : public std::enable_shared_from_this<NSDocumentSaveQueue> {
public:
    // Runs on the save thread: throws on failure, touches no model or Qt object.
    using Write = std::function<void()>;
    // Runs on the main thread with the write's failure, none when it wrote.
    using Completion = std::function<void(std::exception_ptr error)>;

    // After this long, a wait shows the save's progress.
    static constexpr double progressDelay = 0.5;

    NSDocumentSaveQueue();
    ~NSDocumentSaveQueue();
    NSDocumentSaveQueue(const NSDocumentSaveQueue&) = delete;
    NSDocumentSaveQueue& operator=(const NSDocumentSaveQueue&) = delete;

    bool isWriting() const { return current_ != nullptr; }
    // No save writes and none is held back.
    bool isIdle() const { return !current_ && heldBack_.empty(); }
    // Hands the write over; one already writing stops the program (hold the
    // start back with `whenIdle`).
    void start(Write write, Completion completion);
    // Runs `work` now when no save writes, else once the one writing and
    // those held back before it are done.
    void whenIdle(std::function<void()> work);
    // Returns once no save writes and none is held back. The main thread
    // handles no user input meanwhile; after `progressDelay` a window-modal
    // progress over `parent` (application-modal without one) says `text`.
    void waitUntilIdle(const std::string& text, QWidget* parent);

private:
    struct Job;
    // The job's end on the main thread, once; then what was held back.
    void finish(const std::shared_ptr<Job>& job);
    void runHeldBack();

    DispatchQueue thread_;
    std::shared_ptr<Job> current_;
    std::deque<std::function<void()>> heldBack_;
    bool runningHeldBack_ = false;
};

} // namespace velmora
