#pragma once

#include "desktop/NSEventTypes.hpp"
#include "graphics/CGGeometry.hpp"

#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>

class QInputDevice;

class QEvent;
class QKeyEvent;
class QMouseEvent;
class QNativeGestureEvent;
class QObject;
class QTabletEvent;
class QWheelEvent;
class QWindow;

namespace velmora {

// A local monitor installed by `NSEvent::addLocalMonitorForEvents`.
struct NSEventMonitor {
    uint64_t id = 0;
    friend bool operator==(const NSEventMonitor&, const NSEventMonitor&) = default;
};

// One input event in the platform's terms, built from Qt's input events.
// Locations are in points with y up: `locationInWindow` from the bottom left of
// the top-level window, `location(in:)` from the bottom left of a view.
class NSEvent {
public:
    struct Values {
        NSEventType type = NSEventType::mouseMoved;
        NSEventSubtype subtype = NSEventSubtype::mouseEvent;
        NSEventModifierFlags modifierFlags = NSEventModifierFlags::none;
        double timestamp = 0; // seconds
        CGPoint locationInWindow;
        QPointer<QWidget> window;
        int64_t buttonNumber = 0;
        int64_t clickCount = 0;
        float pressure = 0;
        int64_t deviceID = 0;
        NSPointingDeviceType pointingDeviceType = NSPointingDeviceType::unknown;
        bool isEnteringProximity = false;
        CGFloat deltaX = 0;
        CGFloat deltaY = 0;
        CGFloat scrollingDeltaX = 0;
        CGFloat scrollingDeltaY = 0;
        bool hasPreciseScrollingDeltas = false;
        NSEventPhase phase = NSEventPhase::none;
        NSEventPhase momentumPhase = NSEventPhase::none;
        CGFloat magnification = 0;
        float rotation = 0; // degrees, counter-clockwise
        int keyCode = 0;    // Qt's key, for key events
    };

    NSEvent() = default;
    explicit NSEvent(Values values) : v_(std::move(values)) {}

    NSEventType type() const { return v_.type; }
    NSEventSubtype subtype() const { return v_.subtype; }
    NSEventModifierFlags modifierFlags() const { return v_.modifierFlags; }
    double timestamp() const { return v_.timestamp; }
    CGPoint locationInWindow() const { return v_.locationInWindow; }
    QWidget* window() const { return v_.window.data(); }
    int64_t buttonNumber() const { return v_.buttonNumber; }
    int64_t clickCount() const { return v_.clickCount; }
    float pressure() const { return v_.pressure; }
    int64_t deviceID() const { return v_.deviceID; }
    NSPointingDeviceType pointingDeviceType() const { return v_.pointingDeviceType; }
    bool isEnteringProximity() const { return v_.isEnteringProximity; }
    CGFloat deltaX() const { return v_.deltaX; }
    CGFloat deltaY() const { return v_.deltaY; }
    CGFloat scrollingDeltaX() const { return v_.scrollingDeltaX; }
    CGFloat scrollingDeltaY() const { return v_.scrollingDeltaY; }
    bool hasPreciseScrollingDeltas() const { return v_.hasPreciseScrollingDeltas; }
    NSEventPhase phase() const { return v_.phase; }
    NSEventPhase momentumPhase() const { return v_.momentumPhase; }
    CGFloat magnification() const { return v_.magnification; }
    float rotation() const { return v_.rotation; }
    int keyCode() const { return v_.keyCode; }
    const Values& values() const { return v_; }

    // `locationInWindow` in the points of `view` (a widget of the event's window),
    // y up from the view's bottom left. Without a window the location is taken
    // to be the view's own already.
    CGPoint location(const QWidget& view) const;

    // Builders. `receiver` is the widget or window the Qt event was delivered
    // to: its positions are relative to it. None when the event carries nothing
    // the platform would report.
    static NSEvent fromMouseEvent(const QMouseEvent& event, const QWidget& receiver);
    static NSEvent fromTabletEvent(const QTabletEvent& event, const QWidget& receiver);
    static NSEvent fromProximityEvent(const QTabletEvent& event);
    static NSEvent fromWheelEvent(const QWheelEvent& event, const QWidget& receiver);
    static std::optional<NSEvent> fromNativeGestureEvent(const QNativeGestureEvent& event,
                                                         const QWidget& receiver);
    static NSEvent fromKeyEvent(const QKeyEvent& event, const QWidget* receiver);
    static NSEvent fromEnterLeave(bool entered, CGPoint locationInWindow, QWidget* window);
    // Any of the above, for a receiver that is a widget, a window or the application.
    static std::optional<NSEvent> from(const QEvent& event, const QObject* receiver);

    // Qt's xcb platform swaps a wheel's axes while Alt is held; the builder swaps
    // them back where that happens (on by default under xcb).
    static void setUndoesAltWheelSwap(bool undo);
    static bool undoesAltWheelSwap();

    // Mouse-move coalescing (Qt's compression of high-frequency events).
    // Pens, airbrushes and pucks: their mouse events are copies of tablet ones.
    static bool isTabletDevice(const QInputDevice* device);
    static void setMouseCoalescingEnabled(bool enabled);
    static bool isMouseCoalescingEnabled();

    // The mouse in screen points, y up from the primary screen's bottom.
    static CGPoint mouseLocation();

    // Local monitors: `handler` sees each matching input event of the application
    // once, on the main thread, before the event's first receiver; answering
    // none stops the event there. Removing a monitor (also from inside a handler)
    // stops it at once. None without a running application.
    using LocalMonitorHandler = std::function<std::optional<NSEvent>(const NSEvent&)>;
    static std::optional<NSEventMonitor> addLocalMonitorForEvents(NSEventMask mask,
                                                                  LocalMonitorHandler handler);
    static void removeMonitor(NSEventMonitor monitor);

private:
    Values v_;
};

} // namespace velmora
