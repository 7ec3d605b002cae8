#include "desktop/NSDocumentSaveQueue.hpp"

#include "foundation/FatalError.hpp"
#include "gpu/cpu/Workers.hpp"

#include <QCoreApplication>
#include <QProgressDialog>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace velmora {

namespace {

using Clock = std::chrono::steady_clock;

// How often a wait with its progress shown lets the progress repaint.
constexpr auto progressTick = std::chrono::milliseconds(16);

std::unique_ptr<QProgressDialog> showProgress(const std::string& text, QWidget* parent) {
    auto progress =
        std::make_unique<QProgressDialog>(QString::fromStdString(text), QString(), 0, 0, parent);
    progress->setObjectName("saveProgress");
    progress->setWindowTitle(QString::fromStdString(text));
    progress->setWindowModality(parent != nullptr ? Qt::WindowModal : Qt::ApplicationModal);
    progress->setCancelButton(nullptr);
    progress->setMinimumDuration(0);
    progress->show();
    return progress;
}

} // namespace

struct NSDocumentSaveQueue::Job {
    Completion completion; // main thread only
    bool finished = false; // main thread only

    // Whether the write has ended, waiting for it until `deadline`.
    bool waitUntil(Clock::time_point deadline) {
        std::unique_lock lock(mutex);
        return ended.wait_until(lock, deadline, [&] { return done; });
    }
    std::exception_ptr failure() {
        const std::lock_guard lock(mutex);
        return error;
    }
    void end(std::exception_ptr failure) {
        {
            const std::lock_guard lock(mutex);
            done = true;
            error = std::move(failure);
        }
        ended.notify_all();
    }

private:
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    std::exception_ptr error;
};

NSDocumentSaveQueue::NSDocumentSaveQueue()
    : thread_("velmora.document.save", DispatchQoS::userInitiated) {}

NSDocumentSaveQueue::~NSDocumentSaveQueue() = default;

void NSDocumentSaveQueue::start(Write write, Completion completion) {
    if (current_) {
        fatalError("A save was started while another one writes");
    }
    auto job = std::make_shared<Job>();
    job->completion = std::move(completion);
    current_ = job;
    thread_.async([job, write = std::move(write), weak = weak_from_this()]() mutable {
        std::exception_ptr error;
        try {
            // Painting goes on meanwhile and has the workers first.
            cpu::runInBackground(write);
        } catch (...) {
            error = std::current_exception();
        }
        // What the write took goes here, not on the main thread.
        write = nullptr;
        job->end(error);
        DispatchQueue::main().async([weak, job] {
            if (const auto self = weak.lock()) {
                self->finish(job);
            }
        });
    });
}

void NSDocumentSaveQueue::finish(const std::shared_ptr<Job>& job) {
    if (job != current_ || job->finished) {
        return;
    }
    const auto keep = shared_from_this();
    job->finished = true;
    current_.reset();
    if (job->completion) {
        job->completion(job->failure());
    }
    runHeldBack();
}

void NSDocumentSaveQueue::whenIdle(std::function<void()> work) {
    if (!current_ && heldBack_.empty()) {
        work();
        return;
    }
    heldBack_.push_back(std::move(work));
}

void NSDocumentSaveQueue::runHeldBack() {
    // Re-entered from held-back work that waited for its own write: the outer
    // loop goes on with the rest.
    if (runningHeldBack_) {
        return;
    }
    runningHeldBack_ = true;
    while (!current_ && !heldBack_.empty()) {
        auto work = std::move(heldBack_.front());
        heldBack_.pop_front();
        work();
    }
    runningHeldBack_ = false;
}

void NSDocumentSaveQueue::waitUntilIdle(const std::string& text, QWidget* parent) {
    const auto keep = shared_from_this();
    const auto showAt = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(progressDelay));
    std::unique_ptr<QProgressDialog> progress;
    while (current_ || (!heldBack_.empty() && !runningHeldBack_)) {
        if (!current_) {
            runHeldBack();
            continue;
        }
        const auto job = current_;
        if (!progress) {
            if (job->waitUntil(showAt)) {
                finish(job);
                continue;
            }
            progress = showProgress(text, parent);
        }
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        if (current_ == job && job->waitUntil(Clock::now() + progressTick)) {
            finish(job);
        }
    }
}

} // namespace velmora
