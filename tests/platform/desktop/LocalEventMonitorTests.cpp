#include "desktop/NSEvent.hpp"
#include "platform/desktop/InputTestSupport.hpp"

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace velmora;

namespace {

// A widget that notes the presses it is given and lets them go on to its parent.
class Recorder : public QWidget {
public:
    Recorder(std::vector<std::string>& log, std::string name, QWidget* parent = nullptr)
        : QWidget(parent), log_(log), name_(std::move(name)) {}

protected:
    void mousePressEvent(QMouseEvent* e) override {
        log_.push_back(name_);
        e->ignore();
    }
    void tabletEvent(QTabletEvent* e) override { e->accept(); }

private:
    std::vector<std::string>& log_;
    std::string name_;
};

struct Monitors {
    std::vector<NSEventMonitor> tokens;
    ~Monitors() {
        for (const auto& t : tokens) {
            NSEvent::removeMonitor(t);
        }
    }
    void add(NSEventMask mask, NSEvent::LocalMonitorHandler handler) {
        const auto token = NSEvent::addLocalMonitorForEvents(mask, std::move(handler));
        ASSERT_TRUE(token);
        tokens.push_back(*token);
    }
};

void press(QWidget& widget, quint64 timestamp) {
    QMouseEvent e(QEvent::MouseButtonPress, QPointF(3, 3), QPointF(3, 3), Qt::LeftButton,
                  Qt::LeftButton, Qt::NoModifier);
    e.setTimestamp(timestamp);
    QApplication::sendEvent(&widget, &e);
}

void sendTablet(QWidget& widget, QTabletEvent event, quint64 timestamp) {
    event.setTimestamp(timestamp);
    QApplication::sendEvent(&widget, &event);
}

void sendProximity(bool entering, const QPointingDevice* device) {
    auto e = test::proximityEvent(entering, device);
    QApplication::sendEvent(QApplication::instance(), &e);
}

} // namespace

TEST(LocalEventMonitorTest, SeesAnEventOnceBeforeItsFirstReceiverNotAgainPerParent) {
    std::vector<std::string> log;
    Recorder parent(log, "parent");
    auto* child = new Recorder(log, "child", &parent);
    Monitors monitors;
    monitors.add(NSEventMask::leftMouseDown, [&](const NSEvent& e) {
        log.push_back("monitor");
        return e;
    });
    press(*child, 100);
    EXPECT_EQ(log, (std::vector<std::string>{"monitor", "child", "parent"}));
    // The same press again is a new event.
    press(*child, 100);
    EXPECT_EQ(log.size(), 6u);

    // Through the window system: the window gets it first, then the widgets.
    log.clear();
    parent.resize(40, 40);
    child->setGeometry(10, 10, 20, 20);
    parent.show();
    QTest::mousePress(parent.windowHandle(), Qt::LeftButton, {}, QPoint(15, 15));
    QTest::mouseRelease(parent.windowHandle(), Qt::LeftButton, {}, QPoint(15, 15));
    EXPECT_EQ(log, (std::vector<std::string>{"monitor", "child", "parent"}));
}

TEST(LocalEventMonitorTest, AHandlerAnsweringNoneStopsTheEvent) {
    std::vector<std::string> log;
    Recorder widget(log, "widget");
    Monitors monitors;
    monitors.add(NSEventMask::any, [](const NSEvent&) { return std::optional<NSEvent>(); });
    press(widget, 1);
    EXPECT_TRUE(log.empty());
}

TEST(LocalEventMonitorTest, RemovalInsideAHandlerTakesEffectAtOnce) {
    std::vector<std::string> log;
    Recorder widget(log, "widget");
    std::optional<NSEventMonitor> first, second;
    int firstCalls = 0, secondCalls = 0;
    first = NSEvent::addLocalMonitorForEvents(NSEventMask::leftMouseDown, [&](const NSEvent& e) {
        ++firstCalls;
        NSEvent::removeMonitor(*second);
        NSEvent::removeMonitor(*first);
        return e;
    });
    second = NSEvent::addLocalMonitorForEvents(NSEventMask::leftMouseDown, [&](const NSEvent& e) {
        ++secondCalls;
        return e;
    });
    press(widget, 1);
    press(widget, 2);
    EXPECT_EQ(firstCalls, 1);
    EXPECT_EQ(secondCalls, 0);
    EXPECT_EQ(log.size(), 2u) << "events go on to the widget";
}

TEST(LocalEventMonitorTest, ProximityMonitorsSeeTheApplicationsProximityEventsOnly) {
    std::vector<std::string> log;
    Recorder widget(log, "widget");
    Monitors monitors;
    std::vector<NSEvent> seen;
    monitors.add(NSEventMask::tabletProximity, [&](const NSEvent& e) {
        seen.push_back(e);
        return e;
    });
    sendProximity(true, test::pen(7));
    press(widget, 1);
    sendTablet(widget, test::tabletEvent(QEvent::TabletPress, test::pen(7), {1, 1}), 2);
    sendProximity(false, test::pen(7));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_TRUE(seen[0].isEnteringProximity());
    EXPECT_FALSE(seen[1].isEnteringProximity());
    EXPECT_EQ(seen[0].deviceID(), seen[1].deviceID());
}

TEST(LocalEventMonitorTest, AToolWithoutProximityEventsEntersBeforeItsFirstEvent) {
    std::vector<std::string> log;
    Recorder widget(log, "widget");
    Monitors monitors;
    std::vector<std::string> seen;
    int64_t toolID = 0;
    monitors.add(NSEventMask::any, [&](const NSEvent& e) {
        if (e.type() == NSEventType::tabletProximity) {
            seen.push_back(e.isEnteringProximity() ? "enter" : "leave");
            toolID = e.deviceID();
        } else {
            seen.push_back(e.type() == NSEventType::leftMouseDown ? "down" : "other");
        }
        return e;
    });
    // A pen held near the tablet at launch, or a driver that reports no proximity.
    const auto* tool = test::pen(8);
    sendTablet(widget, test::tabletEvent(QEvent::TabletPress, tool, {1, 1}), 10);
    sendTablet(widget, test::tabletEvent(QEvent::TabletMove, tool, {2, 1}), 11);
    sendProximity(false, tool);
    sendTablet(widget, test::tabletEvent(QEvent::TabletPress, tool, {1, 1}), 12);
    EXPECT_EQ(seen, (std::vector<std::string>{"enter", "down", "other", "leave", "enter", "down"}));
    EXPECT_EQ(toolID, NSEvent::fromProximityEvent(test::proximityEvent(true, tool)).deviceID());

    // Turning the pen over without proximity events: the pen leaves, the eraser enters.
    seen.clear();
    std::vector<NSPointingDeviceType> types;
    monitors.add(NSEventMask::tabletProximity, [&](const NSEvent& e) {
        types.push_back(e.pointingDeviceType());
        return e;
    });
    sendTablet(widget, test::tabletEvent(QEvent::TabletPress, test::eraser(8), {1, 1}), 14);
    sendTablet(widget, test::tabletEvent(QEvent::TabletPress, tool, {1, 1}), 15);
    EXPECT_EQ(seen, (std::vector<std::string>{"leave", "enter", "down", "leave", "enter", "down"}));
    EXPECT_EQ(types, (std::vector{NSPointingDeviceType::pen, NSPointingDeviceType::eraser,
                                  NSPointingDeviceType::eraser, NSPointingDeviceType::pen}));

    // A tool that announced itself gets no second entering event.
    seen.clear();
    sendProximity(true, test::pen(9));
    sendTablet(widget, test::tabletEvent(QEvent::TabletPress, test::pen(9), {1, 1}), 13);
    EXPECT_EQ(seen, (std::vector<std::string>{"enter", "down"}));
}
