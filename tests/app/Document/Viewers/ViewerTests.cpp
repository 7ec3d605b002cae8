#include "../../../platform/desktop/InputTestSupport.hpp"
#include "Document/Viewers/Viewer.hpp"
#include "desktop/NSFilePromiseReceiver.hpp"
#include "desktop/NSPasteboardItem.hpp"
#include "foundation/MainQueue.hpp"
#include "graphics/NSColor.hpp"

#include <QApplication>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QResizeEvent>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace velmora;

namespace {

struct RecordingTool : ToolResponder {
    std::shared_ptr<NSCursor> cursor() const override { return shown; }
    void flagsChanged(const NSEvent&) override { calls.push_back("flags"); }
    void mouseDown(const NSEvent&, CGPoint p) override { record("down", p); }
    void mouseDragged(const NSEvent&, CGPoint p) override { record("dragged", p); }
    void mouseUp(const NSEvent&, CGPoint p) override { record("up", p); }
    void scrollWheel(const NSEvent&, CGPoint p) override { record("scroll", p); }
    void swipe(const NSEvent&) override { calls.push_back("swipe"); }
    void record(const std::string& what, CGPoint p) {
        calls.push_back(what);
        points.push_back(p);
    }
    std::shared_ptr<NSCursor> shown = NSCursor::make(Qt::CrossCursor);
    std::vector<std::string> calls;
    std::vector<CGPoint> points;
};

void send(QWidget& to, QEvent& event) {
    QApplication::sendEvent(&to, &event);
}

void mouse(QWidget& to, QEvent::Type type, QPointF at, const QPointingDevice* device = nullptr) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons buttons =
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(Qt::LeftButton);
    QMouseEvent e(type, at, to.mapToGlobal(at), button, buttons, Qt::NoModifier,
                  device != nullptr ? device : QPointingDevice::primaryPointingDevice());
    send(to, e);
}

void enter(Viewer& viewer) {
    QEnterEvent e(QPointF(5, 5), QPointF(5, 5), viewer.mapToGlobal(QPointF(5, 5)));
    send(viewer, e);
}

void leave(Viewer& viewer) {
    QEvent e(QEvent::Leave);
    send(viewer, e);
}

class ViewerTest : public ::testing::Test {
protected:
    void SetUp() override {
        viewer.resize(40, 30);
        viewer.show();
        depth = NSCursor::stackDepth();
    }
    void TearDown() override { viewer.flushCursorQueue(); }
    Viewer viewer;
    std::shared_ptr<RecordingTool> tool = std::make_shared<RecordingTool>();
    size_t depth = 0;
};

} // namespace

TEST_F(ViewerTest, WithoutAToolNothingHappens) {
    mouse(viewer, QEvent::MouseButtonPress, {4, 4});
    mouse(viewer, QEvent::MouseButtonRelease, {4, 4});
    enter(viewer);
    EXPECT_EQ(NSCursor::stackDepth(), depth);
    EXPECT_EQ(viewer.currentCursor(), nullptr);
    viewer.setToolResponder(tool);
    mouse(viewer, QEvent::MouseButtonPress, {4, 4});
    EXPECT_EQ(tool->calls, std::vector<std::string>{"down"});
    leave(viewer);
}

TEST_F(ViewerTest, EachPenSampleReachesTheToolOnceInPointsWithYUp) {
    viewer.setToolResponder(tool);
    const auto* pen = test::pen(77);
    auto press = test::tabletEvent(QEvent::TabletPress, pen, {5, 7});
    send(viewer, press);
    // What a system makes of the pen as mouse events is not a second sample.
    mouse(viewer, QEvent::MouseButtonPress, {5, 7}, pen);
    auto move = test::tabletEvent(QEvent::TabletMove, pen, {9, 8});
    send(viewer, move);
    mouse(viewer, QEvent::MouseMove, {9, 8}, pen);
    auto release = test::tabletEvent(QEvent::TabletRelease, pen, {9, 8}, 0);
    send(viewer, release);
    mouse(viewer, QEvent::MouseButtonRelease, {9, 8}, pen);

    EXPECT_EQ(tool->calls, (std::vector<std::string>{"down", "dragged", "up"}));
    ASSERT_EQ(tool->points.size(), 3u);
    EXPECT_EQ(tool->points[0].x, 5);
    EXPECT_EQ(tool->points[0].y, 23);
    EXPECT_EQ(tool->points[1].y, 22);
}

TEST_F(ViewerTest, TheToolsCursorIsPushedOnceAndPoppedOnce) {
    viewer.setToolResponder(tool);
    enter(viewer);
    enter(viewer);
    viewer.flushCursorQueue();
    EXPECT_EQ(NSCursor::stackDepth(), depth + 1) << "a second entering pushes nothing";
    EXPECT_EQ(viewer.currentCursor(), tool->shown);

    // A tool change while inside shows the new cursor without pushing it.
    tool->shown = NSCursor::make(Qt::PointingHandCursor);
    viewer.refreshCursor();
    viewer.flushCursorQueue();
    EXPECT_EQ(NSCursor::stackDepth(), depth + 1);
    EXPECT_EQ(viewer.currentCursor(), tool->shown);
    EXPECT_EQ(NSCursor::currentCursor(), tool->shown);

    // Resizing takes the pushed cursor off and, with the mouse still inside,
    // pushes it again.
    viewer.resize(50, 35);
    viewer.flushCursorQueue();
    EXPECT_EQ(NSCursor::stackDepth(), depth + 1);
    leave(viewer);
    viewer.flushCursorQueue();
    EXPECT_EQ(NSCursor::stackDepth(), depth);
    EXPECT_EQ(viewer.currentCursor(), nullptr);
    leave(viewer);
    viewer.flushCursorQueue();
    EXPECT_EQ(NSCursor::stackDepth(), depth) << "nothing popped that was not pushed";
}

TEST_F(ViewerTest, OnlyALaidOutViewerTakesDrops) {
    EXPECT_TRUE(viewer.registeredDraggedTypes().empty());
    Viewer laidOut(Viewer::Origin::layout);
    const auto& types = laidOut.registeredDraggedTypes();
    ASSERT_FALSE(types.empty());
    EXPECT_EQ(types.front(), NSPasteboardTypeFileURL);
    EXPECT_EQ(types.size(), 1 + NSFilePromiseReceiver::readableDraggedTypes().size());
}

TEST_F(ViewerTest, TheClearColourIsTheWindowBackground) {
    QPalette palette = viewer.palette();
    palette.setColor(QPalette::Window, QColor(51, 102, 204));
    viewer.setPalette(palette);
    const MTLClearColor c = viewer.backgroundClearColor();
    EXPECT_NEAR(c.red, 0.2, 1e-3);
    EXPECT_NEAR(c.green, 0.4, 1e-3);
    EXPECT_NEAR(c.blue, 0.8, 1e-3);
    EXPECT_EQ(c.alpha, 1);
}

TEST_F(ViewerTest, AnIdleViewDrawsOnlyWhenAsked) {
    struct Counting : MTKViewDelegate {
        void mtkView(MTKView&, CGSize) override {}
        void draw(MTKView&) override { ++frames; }
        int frames = 0;
    };
    const auto counting = std::make_shared<Counting>();
    viewer.view()->setDelegate(counting);
    MainQueue::runUntil(std::chrono::steady_clock::now() + std::chrono::milliseconds(60));
    EXPECT_EQ(counting->frames, 0);
    viewer.view()->setNeedsDisplay(true);
    viewer.view()->setNeedsDisplay(true);
    MainQueue::runUntilIdle();
    EXPECT_EQ(counting->frames, 1);
}
