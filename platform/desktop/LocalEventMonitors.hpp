#pragma once

#include "desktop/NSEvent.hpp"

#include <QObject>
#include <QPointF>
#include <QPointer>
#include <memory>
#include <optional>
#include <set>
#include <vector>

class QInputDevice;

namespace velmora {

// The application event filter behind `NSEvent`'s local monitors. Qt hands an
// input event to every receiver it propagates through (the window, the widget,
// then its parents), each time through the application's filters; this filter
// passes each event to the monitors once, at its first receiver.
//
// It also keeps which tablet tools are near the tablet: a tool whose first
// event came without a proximity event (a pen held near the tablet at launch, a
// driver that reports no proximity) gets an entering-proximity event delivered
// to the monitors before that event, so that it counts as a pen, not a touch;
// the tool let in so before leaves first.
class LocalEventMonitors final : public QObject {
public:
    // Main thread; none without an application.
    static LocalEventMonitors* shared();

    NSEventMonitor add(NSEventMask mask, NSEvent::LocalMonitorHandler handler);
    void remove(NSEventMonitor monitor);
    size_t count() const;

protected:
    bool eventFilter(QObject* receiver, QEvent* event) override;

private:
    explicit LocalEventMonitors(QObject* parent) : QObject(parent) {}

    struct Entry {
        uint64_t id = 0;
        NSEventMask mask = NSEventMask::none;
        NSEvent::LocalMonitorHandler handler;
        bool removed = false;
    };

    // What tells a propagated copy of an event from a new event.
    struct Delivery {
        int type = 0;
        quint64 timestamp = 0;
        QPointF globalPosition;
        const QInputDevice* device = nullptr;
        int key = 0;
        QPointer<QObject> receiver;
    };

    bool isPropagation(const Delivery& now) const;
    // False when a monitor stopped the event.
    bool dispatch(const NSEvent& event);
    void trackProximity(const QEvent& event, const NSEvent& built);
    static NSEvent proximityEvent(const NSEvent& cause, int64_t tool, NSPointingDeviceType type,
                                  bool entering);

    std::vector<std::shared_ptr<Entry>> entries_;
    uint64_t nextID_ = 1;
    std::optional<Delivery> last_;
    std::set<int64_t> toolsInProximity_;
    // The tool last let in without a proximity event of its own.
    std::optional<int64_t> enteredUnannounced_;
    NSPointingDeviceType enteredUnannouncedType_ = NSPointingDeviceType::unknown;
};

} // namespace velmora
