#include "ToolResponders/CommonToolResponder.hpp"
#include "ToolResponders/EventObserver.hpp"
#include "desktop/LocalEventMonitors.hpp"

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>
#include <gtest/gtest.h>

using namespace velmora;

namespace {

struct Delegate : CommonToolResponderDelegate {
    std::shared_ptr<UndoManager> manager;
    std::shared_ptr<UndoManager> undoManager() override { return manager; }
};

struct Value : std::enable_shared_from_this<Value> {
    int value = 0;
    void set(UndoManager& manager, int v) {
        const int old = value;
        value = v;
        manager.registerUndo<Value>(shared_from_this(),
                                    [&manager, old](Value& self) { self.set(manager, old); });
    }
};

NSEvent swipe(CGFloat deltaX) {
    return NSEvent({.type = NSEventType::swipe, .deltaX = deltaX});
}

} // namespace

TEST(CommonToolResponderTest, SwipesUndoRightwardAndRedoLeftward) {
    auto delegate = std::make_shared<Delegate>();
    delegate->manager = std::make_shared<UndoManager>();
    delegate->manager->setGroupsByEvent(false);
    CommonToolResponder responder(delegate);
    const auto value = std::make_shared<Value>();
    auto& manager = *delegate->manager;
    manager.beginUndoGrouping();
    value->set(manager, 1);
    manager.endUndoGrouping();

    struct Step {
        CGFloat deltaX;
        int expected;
    };
    // Undoing with nothing left to undo is the undo manager's business.
    for (const Step s :
         {Step{0, 1}, Step{-1, 0}, Step{-1, 0}, Step{0, 0}, Step{1, 1}, Step{1, 1}}) {
        responder.swipe(swipe(s.deltaX));
        EXPECT_EQ(value->value, s.expected) << s.deltaX;
    }
    delegate->manager = nullptr;
    responder.swipe(swipe(-1)); // no undo manager: nothing
    EXPECT_EQ(value->value, 1);
}

TEST(CommonToolResponderTest, ScrollsGoToTheInstalledHandlerOnly) {
    auto delegate = std::make_shared<Delegate>();
    CommonToolResponder responder(delegate);
    const NSEvent scroll({.type = NSEventType::scrollWheel, .scrollingDeltaY = 3});
    responder.scrollWheel(scroll, {1, 2}); // none installed: ignored
    std::vector<CGFloat> seen;
    responder.setScrollHandler([&](const NSEvent& e) { seen.push_back(e.scrollingDeltaY()); });
    responder.scrollWheel(scroll, {1, 2});
    responder.setScrollHandler({});
    responder.scrollWheel(scroll, {1, 2});
    EXPECT_EQ(seen, std::vector<CGFloat>{3});
    EXPECT_EQ(responder.cursor(), NSCursor::arrowCursor());
    EXPECT_EQ(responder.commonToolDelegate(), delegate);
    delegate = nullptr;
    EXPECT_EQ(responder.commonToolDelegate(), nullptr) << "the delegate is held weakly";
}

TEST(EventObserverTest, ObservesWhileItLivesAndPassesEventsOn) {
    QWidget widget;
    const size_t before = LocalEventMonitors::shared()->count();
    int calls = 0;
    auto observer = std::make_unique<EventObserver>(NSEventMask::leftMouseDown,
                                                    [&](const NSEvent&) { ++calls; });
    ASSERT_TRUE(observer->monitor());
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(1, 1), QPointF(1, 1), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&widget, &press);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(press.isAccepted()) << "the widget still got the press and ignored it";
    observer = nullptr;
    press.setTimestamp(1);
    QApplication::sendEvent(&widget, &press);
    EXPECT_EQ(calls, 1);

    // One that matches nothing still holds its monitor and gives it back.
    observer = std::make_unique<EventObserver>(NSEventMask::none, [](const NSEvent&) {});
    EXPECT_TRUE(observer->monitor());
    EXPECT_EQ(LocalEventMonitors::shared()->count(), before + 1);
    observer = nullptr;
    EXPECT_EQ(LocalEventMonitors::shared()->count(), before);
}
