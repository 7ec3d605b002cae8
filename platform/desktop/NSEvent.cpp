#include "desktop/NSEvent.hpp"

#include "desktop/InputDeviceIDs.hpp"
#include "desktop/LocalEventMonitors.hpp"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPointingDevice>
#include <QScreen>
#include <QTabletEvent>
#include <QWheelEvent>
#include <QWindow>
#include <atomic>
#include <cmath>
#include <tuple>
#include <utility>

namespace velmora {

namespace {

NSEventModifierFlags flagsFrom(Qt::KeyboardModifiers modifiers) {
    auto flags = NSEventModifierFlags::none;
    const auto add = [&](Qt::KeyboardModifier qt, NSEventModifierFlags ns) {
        if (modifiers.testFlag(qt)) {
            flags = flags | ns;
        }
    };
    add(Qt::ShiftModifier, NSEventModifierFlags::shift);
    add(Qt::ControlModifier, NSEventModifierFlags::command);
    add(Qt::AltModifier, NSEventModifierFlags::option);
    add(Qt::MetaModifier, NSEventModifierFlags::control);
    add(Qt::KeypadModifier, NSEventModifierFlags::numericPad);
    return flags;
}

double seconds(const QInputEvent& event) {
    return double(event.timestamp()) / 1000.0;
}

// Where `position` (relative to `receiver`) lies in the receiver's top-level
// window, in points with y up.
CGPoint windowLocation(const QWidget& receiver, QPointF position) {
    const QWidget* window = receiver.window();
    const QPointF p = receiver.mapTo(window, position);
    return {p.x(), window->height() - p.y()};
}

NSPointingDeviceType toolType(const QPointingDevice* device) {
    if (device == nullptr) {
        return NSPointingDeviceType::unknown;
    }
    switch (device->pointerType()) {
    case QPointingDevice::PointerType::Pen:
        return NSPointingDeviceType::pen;
    case QPointingDevice::PointerType::Eraser:
        return NSPointingDeviceType::eraser;
    case QPointingDevice::PointerType::Cursor:
        return NSPointingDeviceType::cursor;
    default:
        return NSPointingDeviceType::unknown;
    }
}

int64_t numberOf(Qt::MouseButton button) {
    switch (button) {
    case Qt::LeftButton:
        return 0;
    case Qt::RightButton:
        return 1;
    case Qt::MiddleButton:
        return 2;
    default:
        break;
    }
    int64_t n = 0;
    for (auto bits = uint32_t(button); bits > 1; bits >>= 1) {
        ++n;
    }
    return n;
}

// The pointer event of a press, release or move of `button` while `buttons` are held.
NSEventType pointerType(QEvent::Type qtType, Qt::MouseButton button, Qt::MouseButtons buttons) {
    switch (qtType) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::TabletPress:
        return button == Qt::LeftButton    ? NSEventType::leftMouseDown
               : button == Qt::RightButton ? NSEventType::rightMouseDown
                                           : NSEventType::otherMouseDown;
    case QEvent::MouseButtonRelease:
    case QEvent::TabletRelease:
        return button == Qt::LeftButton    ? NSEventType::leftMouseUp
               : button == Qt::RightButton ? NSEventType::rightMouseUp
                                           : NSEventType::otherMouseUp;
    default:
        if (buttons.testFlag(Qt::LeftButton)) {
            return NSEventType::leftMouseDragged;
        }
        if (buttons.testFlag(Qt::RightButton)) {
            return NSEventType::rightMouseDragged;
        }
        return buttons != Qt::NoButton ? NSEventType::otherMouseDragged : NSEventType::mouseMoved;
    }
}

// Qt reports one phase for a whole scroll; the platform tells finger scrolling
// from the momentum that follows it. One Qt event may be built more than once
// (by the monitors, then by its receiver): it gets the same phases each time.
struct ScrollPhases {
    using Key = std::tuple<quint64, int, QPoint, QPoint>;
    using Phases = std::pair<NSEventPhase, NSEventPhase>;
    bool inMomentum = false;
    std::optional<Key> lastKey;
    Phases last;

    Phases next(const QWheelEvent& event) {
        const Key key{event.timestamp(), int(event.phase()), event.angleDelta(),
                      event.pixelDelta()};
        if (lastKey == key) {
            return last;
        }
        lastKey = key;
        last = advance(event.phase());
        return last;
    }

    Phases advance(Qt::ScrollPhase phase) {
        switch (phase) {
        case Qt::ScrollBegin:
            inMomentum = false;
            return {NSEventPhase::began, NSEventPhase::none};
        case Qt::ScrollUpdate:
            return {NSEventPhase::changed, NSEventPhase::none};
        case Qt::ScrollEnd:
            if (inMomentum) {
                inMomentum = false;
                return {NSEventPhase::none, NSEventPhase::ended};
            }
            return {NSEventPhase::ended, NSEventPhase::none};
        case Qt::ScrollMomentum:
            if (!inMomentum) {
                inMomentum = true;
                return {NSEventPhase::none, NSEventPhase::began};
            }
            return {NSEventPhase::none, NSEventPhase::changed};
        case Qt::NoScrollPhase:
            break;
        }
        return {NSEventPhase::none, NSEventPhase::none};
    }
};

ScrollPhases& scrollPhases() {
    static ScrollPhases phases;
    return phases;
}

// The first magnify or rotate event after a gesture began carries `began`. On
// Linux a swipe of three fingers comes as a pan: once it has gone far enough,
// mostly along one axis, it counts as one swipe. The same event built again
// gets the same answer.
struct GesturePhases {
    // How far, in points, the fingers go before a pan is a swipe.
    static constexpr qreal swipeDistance = 100;

    struct Outcome {
        NSEventPhase phase = NSEventPhase::none;
        std::optional<CGVector> swipe; // ±1 on one axis, +1 leftward or upward
    };
    using Key = std::tuple<quint64, int, qreal, QPointF>;

    bool justBegan = false;
    QPointF panned;
    bool swiped = false;
    std::optional<Key> lastKey;
    Outcome last;

    Outcome next(const QNativeGestureEvent& event) {
        const Key key{event.timestamp(), int(event.gestureType()), event.value(), event.delta()};
        if (lastKey == key) {
            return last;
        }
        lastKey = key;
        last = {};
        switch (event.gestureType()) {
        case Qt::BeginNativeGesture:
            justBegan = true;
            panned = {};
            swiped = false;
            last.phase = NSEventPhase::began;
            break;
        case Qt::EndNativeGesture:
            justBegan = false;
            panned = {};
            last.phase = NSEventPhase::ended;
            break;
        case Qt::PanNativeGesture:
            panned += event.delta();
            if (!swiped) {
                last.swipe = swipeOf(panned);
                swiped = last.swipe.has_value();
            }
            break;
        default:
            last.phase =
                std::exchange(justBegan, false) ? NSEventPhase::began : NSEventPhase::changed;
            break;
        }
        return last;
    }

    // Qt's y grows downward.
    static std::optional<CGVector> swipeOf(QPointF moved) {
        const qreal x = std::fabs(moved.x()), y = std::fabs(moved.y());
        if (x >= swipeDistance && x > 2 * y) {
            return CGVector{moved.x() < 0 ? 1.0 : -1.0, 0};
        }
        if (y >= swipeDistance && y > 2 * x) {
            return CGVector{0, moved.y() < 0 ? 1.0 : -1.0};
        }
        return std::nullopt;
    }
};

GesturePhases& gesturePhases() {
    static GesturePhases phases;
    return phases;
}

std::atomic<int>& altWheelSwapSetting() {
    static std::atomic<int> setting{-1}; // -1: decided by the platform
    return setting;
}

const QWidget* topLevelWidget(const QWindow& window) {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->windowHandle() == &window) {
            return w;
        }
    }
    return nullptr;
}

} // namespace

CGPoint NSEvent::location(const QWidget& view) const {
    const QWidget* window = v_.window.data();
    if (window == nullptr) {
        return v_.locationInWindow;
    }
    const QPointF inWindow(v_.locationInWindow.x, window->height() - v_.locationInWindow.y);
    const QPointF inView = view.mapFrom(window, inWindow);
    return {inView.x(), view.height() - inView.y()};
}

NSEvent NSEvent::fromMouseEvent(const QMouseEvent& event, const QWidget& receiver) {
    Values v;
    v.type = pointerType(event.type(), event.button(), event.buttons());
    v.modifierFlags = flagsFrom(event.modifiers());
    v.timestamp = seconds(event);
    v.locationInWindow = windowLocation(receiver, event.position());
    v.window = receiver.window();
    v.buttonNumber = numberOf(event.button());
    v.clickCount = event.type() == QEvent::MouseButtonDblClick ? 2
                   : event.type() == QEvent::MouseButtonPress  ? 1
                                                               : 0;
    v.pressure = event.buttons() != Qt::NoButton ? 1.0f : 0.0f;
    const QPointingDevice* device = event.pointingDevice();
    v.deviceID = InputDeviceIDs::idFor(device);
    if (NSEvent::isTabletDevice(device)) {
        // A pointer event that Qt made from a tablet event nobody took.
        v.subtype = NSEventSubtype::tabletPoint;
        v.pointingDeviceType = toolType(device);
        if (!event.points().isEmpty() && event.buttons() != Qt::NoButton) {
            v.pressure = float(event.points().first().pressure());
        }
    } else if (device != nullptr && device->type() == QInputDevice::DeviceType::TouchScreen) {
        v.subtype = NSEventSubtype::touch;
    }
    return NSEvent(std::move(v));
}

NSEvent NSEvent::fromTabletEvent(const QTabletEvent& event, const QWidget& receiver) {
    Values v;
    v.type = pointerType(event.type(), event.button(), event.buttons());
    v.subtype = NSEventSubtype::tabletPoint;
    v.modifierFlags = flagsFrom(event.modifiers());
    v.timestamp = seconds(event);
    v.locationInWindow = windowLocation(receiver, event.position());
    v.window = receiver.window();
    v.buttonNumber = numberOf(event.button());
    v.clickCount = event.type() == QEvent::TabletPress ? 1 : 0;
    v.pressure = event.type() == QEvent::TabletRelease ? 0.0f : float(event.pressure());
    v.deviceID = InputDeviceIDs::idFor(event.pointingDevice());
    v.pointingDeviceType = toolType(event.pointingDevice());
    return NSEvent(std::move(v));
}

NSEvent NSEvent::fromProximityEvent(const QTabletEvent& event) {
    Values v;
    v.type = NSEventType::tabletProximity;
    v.subtype = NSEventSubtype::tabletProximity;
    v.modifierFlags = flagsFrom(event.modifiers());
    v.timestamp = seconds(event);
    v.deviceID = InputDeviceIDs::idFor(event.pointingDevice());
    v.pointingDeviceType = toolType(event.pointingDevice());
    v.isEnteringProximity = event.type() == QEvent::TabletEnterProximity;
    return NSEvent(std::move(v));
}

NSEvent NSEvent::fromWheelEvent(const QWheelEvent& event, const QWidget& receiver) {
    QPointF lines = QPointF(event.angleDelta()) / 120.0;
    QPointF pixels = QPointF(event.pixelDelta());
    if (undoesAltWheelSwap() && event.modifiers().testFlag(Qt::AltModifier)) {
        lines = QPointF(lines.y(), lines.x());
        pixels = QPointF(pixels.y(), pixels.x());
    }
    Values v;
    v.type = NSEventType::scrollWheel;
    v.modifierFlags = flagsFrom(event.modifiers());
    v.timestamp = seconds(event);
    v.locationInWindow = windowLocation(receiver, event.position());
    v.window = receiver.window();
    v.deviceID = InputDeviceIDs::idFor(event.pointingDevice());
    v.hasPreciseScrollingDeltas = !event.pixelDelta().isNull();
    const QPointF scrolling = v.hasPreciseScrollingDeltas ? pixels : lines;
    v.scrollingDeltaX = scrolling.x();
    v.scrollingDeltaY = scrolling.y();
    v.deltaX = lines.x();
    v.deltaY = lines.y();
    std::tie(v.phase, v.momentumPhase) = scrollPhases().next(event);
    return NSEvent(std::move(v));
}

std::optional<NSEvent> NSEvent::fromNativeGestureEvent(const QNativeGestureEvent& event,
                                                       const QWidget& receiver) {
    Values v;
    v.modifierFlags = flagsFrom(event.modifiers());
    v.timestamp = seconds(event);
    v.locationInWindow = windowLocation(receiver, event.position());
    v.window = receiver.window();
    v.deviceID = InputDeviceIDs::idFor(event.pointingDevice());
    switch (event.gestureType()) {
    case Qt::BeginNativeGesture:
        v.type = NSEventType::beginGesture;
        v.phase = gesturePhases().next(event).phase;
        break;
    case Qt::EndNativeGesture:
        v.type = NSEventType::endGesture;
        v.phase = gesturePhases().next(event).phase;
        break;
    case Qt::ZoomNativeGesture:
        v.type = NSEventType::magnify;
        v.magnification = event.value();
        v.phase = gesturePhases().next(event).phase;
        break;
    case Qt::RotateNativeGesture:
        // Qt turns clockwise; the platform counter-clockwise.
        v.type = NSEventType::rotate;
        v.rotation = float(-event.value());
        v.phase = gesturePhases().next(event).phase;
        break;
    case Qt::SwipeNativeGesture: {
        // Qt gives the swipe's angle: 0 rightward, 90 upward, 180 leftward.
        const double radians = event.value() * M_PI / 180.0;
        const double c = std::cos(radians), s = std::sin(radians);
        v.type = NSEventType::swipe;
        if (std::fabs(c) >= std::fabs(s)) {
            v.deltaX = c < 0 ? 1 : -1;
        } else {
            v.deltaY = s > 0 ? 1 : -1;
        }
        break;
    }
    case Qt::PanNativeGesture: {
        const auto swipe = gesturePhases().next(event).swipe;
        if (!swipe) {
            return std::nullopt;
        }
        v.type = NSEventType::swipe;
        v.deltaX = swipe->dx;
        v.deltaY = swipe->dy;
        break;
    }
    default:
        return std::nullopt;
    }
    return NSEvent(std::move(v));
}

NSEvent NSEvent::fromKeyEvent(const QKeyEvent& event, const QWidget* receiver) {
    const bool down = event.type() == QEvent::KeyPress;
    auto flags = flagsFrom(event.modifiers());
    // Platforms differ on whether a modifier key's own event includes it; the
    // platform's flagsChanged always reports the state after the change.
    std::optional<NSEventModifierFlags> own;
    switch (event.key()) {
    case Qt::Key_Shift:
        own = NSEventModifierFlags::shift;
        break;
    case Qt::Key_Control:
        own = NSEventModifierFlags::command;
        break;
    case Qt::Key_Alt:
        own = NSEventModifierFlags::option;
        break;
    case Qt::Key_Meta:
        own = NSEventModifierFlags::control;
        break;
    case Qt::Key_CapsLock:
        own = NSEventModifierFlags::none;
        break;
    default:
        break;
    }
    Values v;
    v.type = own ? NSEventType::flagsChanged : down ? NSEventType::keyDown : NSEventType::keyUp;
    if (own) {
        flags = down ? (flags | *own) : NSEventModifierFlags(uint64_t(flags) & ~uint64_t(*own));
    }
    v.modifierFlags = flags;
    v.timestamp = seconds(event);
    v.window = receiver != nullptr ? receiver->window() : nullptr;
    v.keyCode = event.key();
    return NSEvent(std::move(v));
}

NSEvent NSEvent::fromEnterLeave(bool entered, CGPoint locationInWindow, QWidget* window) {
    Values v;
    v.type = entered ? NSEventType::mouseEntered : NSEventType::mouseExited;
    v.locationInWindow = locationInWindow;
    v.window = window;
    return NSEvent(std::move(v));
}

std::optional<NSEvent> NSEvent::from(const QEvent& event, const QObject* receiver) {
    const QWidget* widget = qobject_cast<const QWidget*>(receiver);
    if (widget == nullptr) {
        if (const auto* window = qobject_cast<const QWindow*>(receiver)) {
            widget = topLevelWidget(*window);
        }
    }
    switch (event.type()) {
    case QEvent::TabletEnterProximity:
    case QEvent::TabletLeaveProximity:
        return fromProximityEvent(static_cast<const QTabletEvent&>(event));
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        return fromKeyEvent(static_cast<const QKeyEvent&>(event), widget);
    default:
        break;
    }
    if (widget == nullptr) {
        return std::nullopt;
    }
    switch (event.type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
        return fromMouseEvent(static_cast<const QMouseEvent&>(event), *widget);
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::TabletMove:
        return fromTabletEvent(static_cast<const QTabletEvent&>(event), *widget);
    case QEvent::Wheel:
        return fromWheelEvent(static_cast<const QWheelEvent&>(event), *widget);
    case QEvent::NativeGesture:
        return fromNativeGestureEvent(static_cast<const QNativeGestureEvent&>(event), *widget);
    default:
        return std::nullopt;
    }
}

void NSEvent::setUndoesAltWheelSwap(bool undo) {
    altWheelSwapSetting() = undo ? 1 : 0;
}

bool NSEvent::undoesAltWheelSwap() {
    const int setting = altWheelSwapSetting();
    if (setting >= 0) {
        return setting == 1;
    }
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

bool NSEvent::isTabletDevice(const QInputDevice* device) {
    if (device == nullptr) {
        return false;
    }
    switch (device->type()) {
    case QInputDevice::DeviceType::Stylus:
    case QInputDevice::DeviceType::Airbrush:
    case QInputDevice::DeviceType::Puck:
        return true;
    default:
        return false;
    }
}

void NSEvent::setMouseCoalescingEnabled(bool enabled) {
    QCoreApplication::setAttribute(Qt::AA_CompressHighFrequencyEvents, enabled);
}

bool NSEvent::isMouseCoalescingEnabled() {
    return QCoreApplication::testAttribute(Qt::AA_CompressHighFrequencyEvents);
}

CGPoint NSEvent::mouseLocation() {
    const QPointF p = QCursor::pos();
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (primary == nullptr) {
        return {p.x(), -p.y()};
    }
    const QRect g = primary->geometry();
    return {p.x() - g.x(), g.y() + g.height() - p.y()};
}

std::optional<NSEventMonitor> NSEvent::addLocalMonitorForEvents(NSEventMask mask,
                                                                LocalMonitorHandler handler) {
    auto* monitors = LocalEventMonitors::shared();
    if (monitors == nullptr) {
        return std::nullopt;
    }
    return monitors->add(mask, std::move(handler));
}

void NSEvent::removeMonitor(NSEventMonitor monitor) {
    if (auto* monitors = LocalEventMonitors::shared()) {
        monitors->remove(monitor);
    }
}

} // namespace velmora
