#include "desktop/QtMainQueue.hpp"

#include "foundation/FatalError.hpp"
#include "foundation/MainQueue.hpp"
#include "foundation/Thread.hpp"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <mutex>
#include <optional>
#include <utility>

namespace velmora {

namespace {

using Clock = std::chrono::steady_clock;

// One precise single-shot timer armed for the earliest due item. Qt timers fire
// in whichever loop the main thread is running, so a nested loop drains too.
class Pump : public QObject {
public:
    Pump() {
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] { fire(); });
    }

    void arm(DispatchTime when) {
        if (!active_) {
            return;
        }
        if (guarding_) {
            // The guard fires first anyway; the real time is armed when it is lifted.
            wanted_ = std::min(wanted_.value_or(when), when);
            return;
        }
        if (timer_.isActive() && armedAt_ <= when) {
            return;
        }
        const auto now = Clock::now();
        const auto delay =
            when <= now ? 0 : std::chrono::ceil<std::chrono::milliseconds>(when - now).count();
        armedAt_ = when;
        timer_.start(static_cast<int>(std::min<long long>(delay, 24LL * 3600 * 1000)));
    }

    // A wake-up asked from another thread. The time travels under a lock of our
    // own and the posted event only says to look: Qt hands events and queued
    // functors over through futexes that ThreadSanitizer cannot see, and frees
    // a queued functor's captures on whichever thread lets go of it last.
    void wakeFromAnotherThread(DispatchTime when) {
        auto* look = new QEvent(wakeEventType());
        {
            const std::lock_guard lock(wakeMutex_);
            wakeAsked_ = std::min(wakeAsked_.value_or(when), when);
        }
        QCoreApplication::postEvent(this, look);
    }

    bool event(QEvent* event) override {
        bool wake = false;
        std::optional<DispatchTime> asked;
        {
            // Taken before the event is read, which another thread made.
            const std::lock_guard lock(wakeMutex_);
            wake = event->type() == wakeEventType();
            if (wake) {
                asked = std::exchange(wakeAsked_, std::nullopt);
            }
        }
        if (!wake) {
            return QObject::event(event);
        }
        if (asked) {
            arm(*asked);
        }
        return true;
    }

    bool isActive() const { return active_; }
    void setActive(bool active) {
        active_ = active;
        if (!active) {
            timer_.stop();
            guarding_ = false;
            wanted_.reset();
        }
    }

private:
    void fire() {
        if (!active_) {
            return;
        }
        // Armed again before running anything: an item that enters a nested loop
        // leaves the items behind it to run inside that loop.
        guarding_ = false;
        wanted_.reset();
        arm(DispatchTime::min());
        guarding_ = true;
        MainQueue::drain();
        // Left armed, the guard would fire again at once forever and spin the
        // loop with nothing to do; wait for what the queue really asked for.
        if (guarding_) {
            guarding_ = false;
            timer_.stop();
            if (const auto when = std::exchange(wanted_, std::nullopt)) {
                arm(*when);
            }
        }
    }

    static QEvent::Type wakeEventType() {
        static const auto registered = static_cast<QEvent::Type>(QEvent::registerEventType());
        return registered;
    }

    std::mutex wakeMutex_;
    std::optional<DispatchTime> wakeAsked_;
    bool active_ = false;
    // The immediate re-arm of `fire()` is pending; wakes asked meanwhile wait in `wanted_`.
    bool guarding_ = false;
    std::optional<DispatchTime> wanted_;
    QTimer timer_;
    DispatchTime armedAt_{};
};

// Never deleted: a worker may still be handing it a wake-up while it is unbound.
Pump*& pump() {
    static Pump* shared = nullptr;
    return shared;
}

} // namespace

void QtMainQueue::bind() {
    if (!Thread::isMainThread() || QCoreApplication::instance() == nullptr) {
        fatalError("The main queue is bound to Qt on the main thread of a running application");
    }
    if (isBound()) {
        return;
    }
    if (pump() == nullptr) {
        pump() = new Pump;
    }
    pump()->setActive(true);
    Pump* target = pump();
    MainQueue::bind([target](DispatchTime when) {
        if (Thread::isMainThread()) {
            target->arm(when);
        } else {
            target->wakeFromAnotherThread(when);
        }
    });
}

void QtMainQueue::unbind() {
    if (!isBound()) {
        return;
    }
    MainQueue::unbind();
    pump()->setActive(false);
}

bool QtMainQueue::isBound() {
    return pump() != nullptr && pump()->isActive();
}

} // namespace velmora
