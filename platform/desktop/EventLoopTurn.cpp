#include "desktop/EventLoopTurn.hpp"

#include "foundation/FatalError.hpp"
#include "foundation/Thread.hpp"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>
#include <vector>

namespace velmora {

namespace {

const QEvent::Type turnEndedEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// Pending work with the loop level it was given at. A posted event ends the turn
// in the same loop; work given inside a nested loop that event reaches too early
// waits until the dispatcher is about to block in a loop no deeper than its own.
class TurnWatcher : public QObject {
public:
    void add(std::function<void()> work) {
        pending_.push_back({std::move(work), level()});
        if (!posted_) {
            posted_ = true;
            QCoreApplication::postEvent(this, new QEvent(turnEndedEvent), Qt::LowEventPriority);
        }
        watchDispatcher();
    }

protected:
    bool event(QEvent* event) override {
        if (event->type() != turnEndedEvent) {
            return QObject::event(event);
        }
        posted_ = false;
        runEligible();
        return true;
    }

private:
    struct Pending {
        std::function<void()> work;
        int level;
    };

    static int level() { return QThread::currentThread()->loopLevel(); }

    void watchDispatcher() {
        if (watching_) {
            return;
        }
        if (auto* dispatcher = QAbstractEventDispatcher::instance(QThread::currentThread())) {
            QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                             [this] { runEligible(); });
            watching_ = true;
        }
    }

    void runEligible() {
        const int now = level();
        std::vector<std::function<void()>> due;
        std::erase_if(pending_, [&](Pending& p) {
            if (p.level < now) {
                return false;
            }
            due.push_back(std::move(p.work));
            return true;
        });
        for (auto& work : due) {
            work();
        }
    }

    std::vector<Pending> pending_;
    bool posted_ = false;
    bool watching_ = false;
};

TurnWatcher& watcher() {
    // Never deleted, like the event loop it watches.
    static auto* shared = new TurnWatcher;
    return *shared;
}

} // namespace

void EventLoopTurn::afterCurrentTurn(std::function<void()> work) {
    if (!Thread::isMainThread() || QCoreApplication::instance() == nullptr) {
        fatalError("An event-loop turn ends on the main thread of a running application");
    }
    watcher().add(std::move(work));
}

} // namespace velmora
