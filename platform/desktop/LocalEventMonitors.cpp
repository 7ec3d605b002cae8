#include "desktop/LocalEventMonitors.hpp"

#include "desktop/InputDeviceIDs.hpp"
#include "foundation/FatalError.hpp"
#include "foundation/Thread.hpp"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPointingDevice>
#include <QTabletEvent>
#include <QWheelEvent>
#include <QWidget>
#include <QWindow>
#include <algorithm>

namespace velmora {

namespace {

bool isMonitored(QEvent::Type type) {
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::TabletEnterProximity:
    case QEvent::TabletLeaveProximity:
    case QEvent::Wheel:
    case QEvent::NativeGesture:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        return true;
    default:
        return false;
    }
}

bool isTabletPointer(QEvent::Type type) {
    return type == QEvent::TabletPress || type == QEvent::TabletMove ||
           type == QEvent::TabletRelease;
}

// A pointer event Qt made from a tablet event that no widget took: the tablet
// event itself was seen already.
bool isSynthesizedFromTablet(const QEvent& event) {
    if (event.type() != QEvent::MouseButtonPress && event.type() != QEvent::MouseButtonRelease &&
        event.type() != QEvent::MouseButtonDblClick && event.type() != QEvent::MouseMove) {
        return false;
    }
    const auto& mouse = static_cast<const QMouseEvent&>(event);
    const QInputDevice* device = mouse.device();
    return mouse.source() == Qt::MouseEventSynthesizedByQt && device != nullptr &&
           (device->type() == QInputDevice::DeviceType::Stylus ||
            device->type() == QInputDevice::DeviceType::Airbrush ||
            device->type() == QInputDevice::DeviceType::Puck);
}

} // namespace

LocalEventMonitors* LocalEventMonitors::shared() {
    precondition(Thread::isMainThread(), "Event monitors are for the main thread");
    static QPointer<LocalEventMonitors> instance;
    if (instance == nullptr && QCoreApplication::instance() != nullptr) {
        instance = new LocalEventMonitors(QCoreApplication::instance());
        QCoreApplication::instance()->installEventFilter(instance);
    }
    return instance.data();
}

NSEventMonitor LocalEventMonitors::add(NSEventMask mask, NSEvent::LocalMonitorHandler handler) {
    auto entry = std::make_shared<Entry>();
    entry->id = nextID_++;
    entry->mask = mask;
    entry->handler = std::move(handler);
    entries_.push_back(entry);
    return {entry->id};
}

void LocalEventMonitors::remove(NSEventMonitor monitor) {
    const auto it = std::find_if(entries_.begin(), entries_.end(),
                                 [&](const auto& e) { return e->id == monitor.id; });
    if (it == entries_.end()) {
        return;
    }
    // A dispatch in progress holds its own list; the flag keeps it from calling in.
    (*it)->removed = true;
    entries_.erase(it);
}

size_t LocalEventMonitors::count() const {
    return entries_.size();
}

bool LocalEventMonitors::isPropagation(const Delivery& now) const {
    if (!last_ || last_->type != now.type || last_->timestamp != now.timestamp ||
        last_->globalPosition != now.globalPosition || last_->device != now.device ||
        last_->key != now.key) {
        return false;
    }
    const QObject* previous = last_->receiver.data();
    const auto* widget = qobject_cast<const QWidget*>(now.receiver.data());
    if (previous == nullptr || widget == nullptr) {
        return false;
    }
    if (const auto* window = qobject_cast<const QWindow*>(previous)) {
        return widget->window()->windowHandle() == window;
    }
    if (const auto* child = qobject_cast<const QWidget*>(previous)) {
        return widget != child && widget->isAncestorOf(child);
    }
    return false;
}

bool LocalEventMonitors::dispatch(const NSEvent& event) {
    const auto entries = entries_;
    for (const auto& entry : entries) {
        if (entry->removed || !contains(entry->mask, event.type())) {
            continue;
        }
        if (!entry->handler(event)) {
            return false;
        }
    }
    return true;
}

void LocalEventMonitors::trackProximity(const QEvent& event, const NSEvent& built) {
    const int64_t tool = built.deviceID();
    if (event.type() == QEvent::TabletEnterProximity) {
        toolsInProximity_.insert(tool);
        if (enteredUnannounced_ == tool) {
            enteredUnannounced_.reset();
        }
        return;
    }
    if (event.type() == QEvent::TabletLeaveProximity) {
        toolsInProximity_.erase(tool);
        if (enteredUnannounced_ == tool) {
            enteredUnannounced_.reset();
        }
        return;
    }
    if (!isTabletPointer(event.type()) || toolsInProximity_.contains(tool)) {
        return;
    }
    // Without proximity events a turned pen would stay the eraser: the tool we
    // let in on our own leaves when another one shows up.
    if (enteredUnannounced_) {
        toolsInProximity_.erase(*enteredUnannounced_);
        dispatch(proximityEvent(built, *enteredUnannounced_, enteredUnannouncedType_, false));
    }
    toolsInProximity_.insert(tool);
    enteredUnannounced_ = tool;
    enteredUnannouncedType_ = built.pointingDeviceType();
    dispatch(proximityEvent(built, tool, built.pointingDeviceType(), true));
}

NSEvent LocalEventMonitors::proximityEvent(const NSEvent& cause, int64_t tool,
                                           NSPointingDeviceType type, bool entering) {
    NSEvent::Values v;
    v.type = NSEventType::tabletProximity;
    v.subtype = NSEventSubtype::tabletProximity;
    v.timestamp = cause.timestamp();
    v.modifierFlags = cause.modifierFlags();
    v.deviceID = tool;
    v.pointingDeviceType = type;
    v.isEnteringProximity = entering;
    return NSEvent(std::move(v));
}

bool LocalEventMonitors::eventFilter(QObject* receiver, QEvent* event) {
    if (!isMonitored(event->type()) || isSynthesizedFromTablet(*event)) {
        return false;
    }
    const auto& input = static_cast<const QInputEvent&>(*event);
    Delivery now;
    now.type = int(event->type());
    now.timestamp = input.timestamp();
    now.device = input.device();
    now.receiver = receiver;
    if (event->isPointerEvent()) {
        const auto& pointer = static_cast<const QPointerEvent&>(*event);
        if (!pointer.points().isEmpty()) {
            now.globalPosition = pointer.points().first().globalPosition();
        }
    } else if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        now.key = static_cast<const QKeyEvent&>(*event).key();
    }
    const bool propagated = isPropagation(now);
    last_ = now;
    if (propagated) {
        return false;
    }
    const auto built = NSEvent::from(*event, receiver);
    if (!built) {
        return false;
    }
    trackProximity(*event, *built);
    return !dispatch(*built);
}

} // namespace velmora
