#include "desktop/NSEvent.hpp"
#include "platform/desktop/InputTestSupport.hpp"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QScreen>
#include <QWheelEvent>
#include <QWidget>
#include <gtest/gtest.h>
#include <memory>

using namespace velmora;

namespace {

// A 200 × 100 window with a 50 × 40 view at (20, 10) in Qt's y-down points.
struct Window {
    QWidget window;
    QWidget* view = new QWidget(&window);
    Window() {
        window.resize(200, 100);
        view->setGeometry(20, 10, 50, 40);
    }
};

QMouseEvent mouse(QEvent::Type type, QPointF pos, Qt::MouseButton button, Qt::MouseButtons buttons,
                  Qt::KeyboardModifiers modifiers = Qt::NoModifier,
                  const QPointingDevice* device = QPointingDevice::primaryPointingDevice()) {
    return QMouseEvent(type, pos, pos, pos, button, buttons, modifiers, device);
}

QWheelEvent wheel(QPoint pixels, QPoint angle, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
                  Qt::ScrollPhase phase = Qt::NoScrollPhase) {
    return QWheelEvent(QPointF(5, 5), QPointF(5, 5), pixels, angle, Qt::NoButton, modifiers, phase,
                       false);
}

std::unique_ptr<QNativeGestureEvent> gesture(Qt::NativeGestureType type, qreal value,
                                             QPointF delta = {}) {
    static quint64 time = 0;
    auto e = std::make_unique<QNativeGestureEvent>(type, QPointingDevice::primaryPointingDevice(),
                                                   2, QPointF(1, 1), QPointF(1, 1), QPointF(1, 1),
                                                   value, delta);
    e->setTimestamp(++time);
    return e;
}

} // namespace

TEST(NSEventTest, PointerLocationsAreInPointsWithYUp) {
    Window w;
    const auto e = NSEvent::fromMouseEvent(
        mouse(QEvent::MouseButtonPress, {5, 5}, Qt::LeftButton, Qt::LeftButton), *w.view);
    EXPECT_EQ(e.locationInWindow(), (CGPoint{25, 85}));
    EXPECT_EQ(e.location(*w.view), (CGPoint{5, 35}));
    EXPECT_EQ(e.location(w.window), (CGPoint{25, 85}));
    EXPECT_EQ(e.window(), &w.window);
}

TEST(NSEventTest, MouseEventsTakeThePlatformsTypesAndPressure) {
    Window w;
    struct Case {
        QEvent::Type qtType;
        Qt::MouseButton button;
        Qt::MouseButtons buttons;
        NSEventType type;
        float pressure;
        int64_t clicks;
    };
    const Case cases[] = {
        {QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, NSEventType::leftMouseDown, 1,
         1},
        {QEvent::MouseMove, Qt::NoButton, Qt::LeftButton, NSEventType::leftMouseDragged, 1, 0},
        {QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton, NSEventType::leftMouseUp, 0, 0},
        {QEvent::MouseMove, Qt::NoButton, Qt::NoButton, NSEventType::mouseMoved, 0, 0},
        // The second press of a double click still starts a stroke.
        {QEvent::MouseButtonDblClick, Qt::LeftButton, Qt::LeftButton, NSEventType::leftMouseDown, 1,
         2},
        {QEvent::MouseButtonPress, Qt::RightButton, Qt::RightButton, NSEventType::rightMouseDown, 1,
         1},
        {QEvent::MouseMove, Qt::NoButton, Qt::MiddleButton, NSEventType::otherMouseDragged, 1, 0},
    };
    for (const auto& c : cases) {
        const auto e =
            NSEvent::fromMouseEvent(mouse(c.qtType, {1, 1}, c.button, c.buttons), *w.view);
        EXPECT_EQ(e.type(), c.type) << int(c.qtType);
        EXPECT_EQ(e.pressure(), c.pressure) << int(c.qtType);
        EXPECT_EQ(e.clickCount(), c.clicks) << int(c.qtType);
        EXPECT_EQ(e.subtype(), NSEventSubtype::mouseEvent);
    }
}

TEST(NSEventTest, ModifierKeysMapCtrlToCommandAltToOptionMetaToControl) {
    Window w;
    const auto e = NSEvent::fromMouseEvent(
        mouse(QEvent::MouseMove, {1, 1}, Qt::NoButton, Qt::NoButton,
              Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier | Qt::ShiftModifier),
        *w.view);
    EXPECT_EQ(e.modifierFlags(), NSEventModifierFlags::command | NSEventModifierFlags::option |
                                     NSEventModifierFlags::control | NSEventModifierFlags::shift);
}

TEST(NSEventTest, ModifierKeyEventsReportTheStateAfterTheChange) {
    // Qt's xcb reports the state before a modifier key's own event.
    const QKeyEvent press(QEvent::KeyPress, Qt::Key_Alt, Qt::ControlModifier);
    const QKeyEvent release(QEvent::KeyRelease, Qt::Key_Control,
                            Qt::ControlModifier | Qt::AltModifier);
    const QKeyEvent letter(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier);
    const auto down = NSEvent::fromKeyEvent(press, nullptr);
    const auto up = NSEvent::fromKeyEvent(release, nullptr);
    EXPECT_EQ(down.type(), NSEventType::flagsChanged);
    EXPECT_EQ(down.modifierFlags(), NSEventModifierFlags::command | NSEventModifierFlags::option);
    EXPECT_EQ(up.modifierFlags(), NSEventModifierFlags::option);
    EXPECT_EQ(NSEvent::fromKeyEvent(letter, nullptr).type(), NSEventType::keyDown);
}

TEST(NSEventTest, TabletAndTouchEventsCarryTheirSubtypeAndTool) {
    Window w;
    const auto press = NSEvent::fromTabletEvent(
        test::tabletEvent(QEvent::TabletPress, test::pen(), {2, 3}, 0.25), *w.view);
    const auto hover = NSEvent::fromTabletEvent(
        test::tabletEvent(QEvent::TabletMove, test::pen(), {2, 3}, 0, Qt::NoButton), *w.view);
    const auto release = NSEvent::fromTabletEvent(
        test::tabletEvent(QEvent::TabletRelease, test::pen(), {2, 3}, 0.3), *w.view);
    const auto entering = NSEvent::fromProximityEvent(test::proximityEvent(true, test::pen()));
    const auto erasing = NSEvent::fromProximityEvent(test::proximityEvent(false, test::eraser()));
    EXPECT_EQ(press.type(), NSEventType::leftMouseDown);
    EXPECT_EQ(press.subtype(), NSEventSubtype::tabletPoint);
    EXPECT_FLOAT_EQ(press.pressure(), 0.25f);
    EXPECT_EQ(press.locationInWindow(), (CGPoint{22, 87}));
    EXPECT_EQ(hover.type(), NSEventType::mouseMoved);
    EXPECT_EQ(release.type(), NSEventType::leftMouseUp);
    EXPECT_EQ(release.pressure(), 0.0f);
    EXPECT_EQ(press.pointingDeviceType(), NSPointingDeviceType::pen);

    EXPECT_EQ(entering.type(), NSEventType::tabletProximity);
    EXPECT_TRUE(entering.isEnteringProximity());
    EXPECT_FALSE(erasing.isEnteringProximity());
    EXPECT_EQ(erasing.pointingDeviceType(), NSPointingDeviceType::eraser);
    // One number per tool, the same on its proximity and pointer events.
    EXPECT_EQ(entering.deviceID(), press.deviceID());
    EXPECT_NE(erasing.deviceID(), press.deviceID());
    EXPECT_NE(NSEvent::fromProximityEvent(test::proximityEvent(true, test::pen(2))).deviceID(),
              press.deviceID());

    const auto touched =
        NSEvent::fromMouseEvent(mouse(QEvent::MouseButtonPress, {1, 1}, Qt::LeftButton,
                                      Qt::LeftButton, Qt::NoModifier, test::touchScreen()),
                                *w.view);
    EXPECT_EQ(touched.subtype(), NSEventSubtype::touch);
}

TEST(NSEventTest, ScrollDeltasArePreciseForPixelsAndLinesForWheels) {
    Window w;
    NSEvent::setUndoesAltWheelSwap(false);
    const auto notch = NSEvent::fromWheelEvent(wheel({}, {0, 240}), *w.view);
    EXPECT_FALSE(notch.hasPreciseScrollingDeltas());
    EXPECT_EQ(notch.scrollingDeltaY(), 2);
    EXPECT_EQ(notch.deltaY(), 2);
    const auto pad = NSEvent::fromWheelEvent(wheel({-3, 7}, {-12, 28}), *w.view);
    EXPECT_TRUE(pad.hasPreciseScrollingDeltas());
    EXPECT_EQ(pad.scrollingDeltaX(), -3);
    EXPECT_EQ(pad.scrollingDeltaY(), 7);
}

TEST(NSEventTest, AltWheelSwapOfXcbIsUndoneWhereItHappens) {
    Window w;
    // xcb turns a vertical notch with Alt into a horizontal one.
    const auto swapped = wheel({}, {120, 0}, Qt::AltModifier);
    NSEvent::setUndoesAltWheelSwap(true);
    const auto undone = NSEvent::fromWheelEvent(swapped, *w.view);
    EXPECT_EQ(undone.scrollingDeltaX(), 0);
    EXPECT_EQ(undone.scrollingDeltaY(), 1);
    EXPECT_EQ(NSEvent::fromWheelEvent(wheel({}, {120, 0}), *w.view).scrollingDeltaX(), 1)
        << "without Alt nothing is swapped";
    NSEvent::setUndoesAltWheelSwap(false);
    EXPECT_EQ(NSEvent::fromWheelEvent(swapped, *w.view).scrollingDeltaX(), 1);
}

TEST(NSEventTest, ScrollPhasesTellFingersFromMomentum) {
    Window w;
    const std::pair<Qt::ScrollPhase, std::pair<NSEventPhase, NSEventPhase>> steps[] = {
        {Qt::NoScrollPhase, {NSEventPhase::none, NSEventPhase::none}},
        {Qt::ScrollBegin, {NSEventPhase::began, NSEventPhase::none}},
        {Qt::ScrollUpdate, {NSEventPhase::changed, NSEventPhase::none}},
        {Qt::ScrollEnd, {NSEventPhase::ended, NSEventPhase::none}},
        {Qt::ScrollMomentum, {NSEventPhase::none, NSEventPhase::began}},
        {Qt::ScrollMomentum, {NSEventPhase::none, NSEventPhase::changed}},
        {Qt::ScrollEnd, {NSEventPhase::none, NSEventPhase::ended}},
        {Qt::ScrollBegin, {NSEventPhase::began, NSEventPhase::none}},
    };
    quint64 time = 1000;
    for (const auto& [qt, expected] : steps) {
        auto event = wheel({0, 1}, {0, 8}, Qt::NoModifier, qt);
        event.setTimestamp(++time);
        const auto e = NSEvent::fromWheelEvent(event, *w.view);
        EXPECT_EQ(std::make_pair(e.phase(), e.momentumPhase()), expected) << int(qt);
        // Built again by its receiver after the monitors, it keeps its phases.
        const auto again = NSEvent::fromWheelEvent(event, *w.view);
        EXPECT_EQ(std::make_pair(again.phase(), again.momentumPhase()), expected) << int(qt);
    }
}

TEST(NSEventTest, GesturesBecomeMagnifyRotateAndUnitSwipes) {
    Window w;
    const auto build = [&](Qt::NativeGestureType type, qreal value) {
        return NSEvent::fromNativeGestureEvent(*gesture(type, value), *w.view);
    };
    EXPECT_EQ(build(Qt::BeginNativeGesture, 0)->type(), NSEventType::beginGesture);
    const auto first = build(Qt::ZoomNativeGesture, 0.2);
    const auto second = build(Qt::RotateNativeGesture, 15);
    EXPECT_EQ(build(Qt::EndNativeGesture, 0)->phase(), NSEventPhase::ended);
    EXPECT_EQ(first->type(), NSEventType::magnify);
    EXPECT_DOUBLE_EQ(first->magnification(), 0.2);
    EXPECT_EQ(first->phase(), NSEventPhase::began);
    EXPECT_EQ(second->phase(), NSEventPhase::changed);
    EXPECT_FLOAT_EQ(second->rotation(), -15.0f);

    const std::tuple<qreal, CGFloat, CGFloat> swipes[] = {
        {180, 1, 0}, {0, -1, 0}, {90, 0, 1}, {270, 0, -1}, {170, 1, 0}};
    for (const auto& [angle, dx, dy] : swipes) {
        const auto e = build(Qt::SwipeNativeGesture, angle);
        ASSERT_TRUE(e);
        EXPECT_EQ(e->type(), NSEventType::swipe);
        EXPECT_EQ(e->deltaX(), dx) << angle;
        EXPECT_EQ(e->deltaY(), dy) << angle;
    }
}

TEST(NSEventTest, AThreeFingerPanFarEnoughAlongOneAxisIsOneSwipe) {
    Window w;
    struct Case {
        std::vector<QPointF> moves;
        std::optional<CGVector> swipe; // at the last move
    };
    const Case cases[] = {
        {{{-60, 5}, {-50, 5}}, CGVector{1, 0}},                                  // leftward
        {{{70, 0}, {40, -10}}, CGVector{-1, 0}},  {{{0, -120}}, CGVector{0, 1}}, // upward
        {{{-80, -80}, {-40, -40}}, std::nullopt}, {{{-30, 0}, {-30, 0}}, std::nullopt},
    };
    for (const auto& c : cases) {
        NSEvent::fromNativeGestureEvent(*gesture(Qt::BeginNativeGesture, 0), *w.view);
        std::vector<NSEvent> swipes;
        for (const QPointF move : c.moves) {
            const auto pan = gesture(Qt::PanNativeGesture, 0, move);
            const auto e = NSEvent::fromNativeGestureEvent(*pan, *w.view);
            // The receiver builds the same event again after the monitors.
            EXPECT_EQ(e.has_value(), NSEvent::fromNativeGestureEvent(*pan, *w.view).has_value());
            if (e) {
                swipes.push_back(*e);
            }
        }
        // Going on after a swipe makes no second one; a pan that was none may become one.
        const auto more =
            NSEvent::fromNativeGestureEvent(*gesture(Qt::PanNativeGesture, 0, {-500, 0}), *w.view);
        EXPECT_EQ(more.has_value(), !c.swipe);
        NSEvent::fromNativeGestureEvent(*gesture(Qt::EndNativeGesture, 0), *w.view);
        ASSERT_EQ(swipes.size(), c.swipe ? 1u : 0u) << c.moves.back().x();
        if (c.swipe) {
            EXPECT_EQ(swipes[0].type(), NSEventType::swipe);
            EXPECT_EQ(swipes[0].deltaX(), c.swipe->dx);
            EXPECT_EQ(swipes[0].deltaY(), c.swipe->dy);
        }
    }
}

TEST(NSEventTest, MouseLocationIsInScreenPointsUpFromThePrimaryScreensBottom) {
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QCursor::setPos(screen.x() + 10, screen.y() + 30);
    EXPECT_EQ(NSEvent::mouseLocation(), (CGPoint{10, CGFloat(screen.height() - 30)}));
}

TEST(NSEventTest, MouseCoalescingIsQtsEventCompression) {
    const bool before = NSEvent::isMouseCoalescingEnabled();
    NSEvent::setMouseCoalescingEnabled(false);
    EXPECT_FALSE(QCoreApplication::testAttribute(Qt::AA_CompressHighFrequencyEvents));
    NSEvent::setMouseCoalescingEnabled(true);
    EXPECT_TRUE(QCoreApplication::testAttribute(Qt::AA_CompressHighFrequencyEvents));
    NSEvent::setMouseCoalescingEnabled(before);
}
