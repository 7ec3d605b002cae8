#include "App/PointingDeviceManager.hpp"
#include "desktop/LocalEventMonitors.hpp"
#include "platform/desktop/InputTestSupport.hpp"

#include <QApplication>
#include <QWidget>
#include <gtest/gtest.h>

using namespace velmora;

namespace {

NSEvent event(NSEventType type, NSEventSubtype subtype, int64_t deviceID) {
    return NSEvent({.type = type, .subtype = subtype, .deviceID = deviceID});
}

NSEvent proximity(bool entering, int64_t deviceID) {
    return NSEvent({.type = NSEventType::tabletProximity,
                    .subtype = NSEventSubtype::tabletProximity,
                    .deviceID = deviceID,
                    .isEnteringProximity = entering});
}

// A widget that takes the tablet events it is given, as the canvas does.
class TabletWidget : public QWidget {
protected:
    void tabletEvent(QTabletEvent* e) override { e->accept(); }
};

} // namespace

TEST(PointingDeviceManagerTest, ClassifiesByProximityThenTypeThenSubtype) {
    const auto manager = PointingDeviceManager::make();
    using T = NSEventType;
    using S = NSEventSubtype;
    const auto down = event(T::leftMouseDown, S::tabletPoint, 5);
    EXPECT_EQ(manager->pointingDevice(down), PointingDevice::touch) << "before proximity";
    manager->proximityChanged(proximity(true, 5));
    manager->proximityChanged(proximity(true, 5));

    struct Case {
        NSEvent event;
        PointingDevice expected;
    };
    const Case cases[] = {
        {event(T::leftMouseDown, S::mouseEvent, 9), PointingDevice::mouse},
        {down, PointingDevice::stylus},
        {event(T::mouseMoved, S::mouseEvent, 5), PointingDevice::stylus},
        {event(T::leftMouseUp, S::tabletPoint, 9), PointingDevice::stylus},
        {event(T::leftMouseDragged, S::tabletPoint, 9), PointingDevice::touch},
        {event(T::leftMouseDown, S::touch, 9), PointingDevice::touch},
        {event(T::rightMouseUp, S::tabletPoint, 9), PointingDevice::touch},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(manager->pointingDevice(c.event), c.expected)
            << int(c.event.type()) << "/" << int(c.event.subtype()) << "/" << c.event.deviceID();
    }
    manager->proximityChanged(proximity(false, 5));
    manager->proximityChanged(proximity(false, 6)); // absent: nothing changes
    EXPECT_EQ(manager->pointingDevice(down), PointingDevice::touch);
    EXPECT_TRUE(manager->stylusIDsInProximity().empty());
}

TEST(PointingDeviceManagerTest, APenPaintsWithAndWithoutProximityEvents) {
    const auto manager = PointingDeviceManager::make();
    TabletWidget widget;
    const auto deliver = [&](QTabletEvent e, quint64 time) {
        e.setTimestamp(time);
        QApplication::sendEvent(&widget, &e);
        return manager->pointingDevice(NSEvent::fromTabletEvent(e, widget));
    };

    // A tablet that announces its tools.
    auto entering = test::proximityEvent(true, test::pen(21));
    QApplication::sendEvent(QApplication::instance(), &entering);
    EXPECT_EQ(deliver(test::tabletEvent(QEvent::TabletPress, test::pen(21), {1, 1}), 1),
              PointingDevice::stylus);
    auto leaving = test::proximityEvent(false, test::pen(21));
    QApplication::sendEvent(QApplication::instance(), &leaving);
    EXPECT_TRUE(manager->stylusIDsInProximity().empty());

    // A pen near the tablet at launch, or a driver without proximity events.
    EXPECT_EQ(deliver(test::tabletEvent(QEvent::TabletPress, test::pen(22), {1, 1}), 2),
              PointingDevice::stylus);
    EXPECT_EQ(deliver(test::tabletEvent(QEvent::TabletMove, test::pen(22), {2, 1}), 3),
              PointingDevice::stylus);
}

TEST(PointingDeviceManagerTest, TheObserverDoesNotKeepTheManagerAlive) {
    const size_t before = LocalEventMonitors::shared()->count();
    auto manager = PointingDeviceManager::make();
    ASSERT_NE(manager->eventObserver(), nullptr);
    EXPECT_TRUE(manager->eventObserver()->monitor());
    std::weak_ptr<PointingDeviceManager> weak = manager;
    manager = nullptr;
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(LocalEventMonitors::shared()->count(), before);
    EXPECT_EQ(PointingDeviceManager::shared(), PointingDeviceManager::shared());
}
