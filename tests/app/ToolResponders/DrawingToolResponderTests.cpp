#include "ToolResponders/DrawingToolResponder.hpp"
#include "ToolTestSupport.hpp"
#include "desktop/NSFont.hpp"
#include "desktop/NotificationCenter.hpp"
#include "foundation/LogCapture.hpp"

#include <QPixmap>
#include <gtest/gtest.h>
#include <latch>

using namespace velmora;
using namespace velmora::testing;

namespace {

constexpr auto optionCommand = NSEventModifierFlags::option | NSEventModifierFlags::command;
constexpr int64_t stylusID = 7;

// Straight RGBA of canvas pixel (x, y).
Pixels pixelAt(const Pixels& pixels, int64_t x, int64_t y) {
    const auto at = pixels.begin() + 4 * (y * side + x);
    return Pixels(at, at + 4);
}

class DrawingToolResponderTest : public ::testing::Test {
protected:
    void SetUp() override {
        rig.settings.settings.modifyLiveBrush([](Brush& b) { b.size = 20; });
        // Strokes are drawn by the view's own frames, at a screen's pace, as in the program.
        rig.view->setPreferredFramesPerSecond(60);
        devices->proximityChanged([] {
            NSEvent::Values v;
            v.deviceID = stylusID;
            v.isEnteringProximity = true;
            return NSEvent(v);
        }());
        tool = DrawingToolResponder::make(delegate, rig.settings.settings, preferences, devices);
        NSEvent::setMouseCoalescingEnabled(true);
    }
    void TearDown() override {
        settleCursor();
        // Hand-backs run in order: once this close is done, every sample is in.
        rig.close();
        rig.settle();
        NSEvent::setMouseCoalescingEnabled(true);
    }

    void settleCursor() {
        tool->serialQueue().sync([] {});
        MainQueue::runUntilIdle();
    }
    // A closed stroke leaves the queue with whichever frame comes next (the live
    // view's clock, or one asked for), so the queue shows it only for a moment;
    // the undo step its blend opens lasts.
    bool waitForUndoSteps(int count) {
        const bool reached =
            MainQueue::runUntil([&] { return undoStepsOpened == count; }, std::chrono::seconds(20));
        endTurn();
        return reached;
    }

    DrawingRig rig;
    UserDefaults defaults{std::nullopt};
    Preferences preferences{defaults};
    std::shared_ptr<PointingDeviceManager> devices = PointingDeviceManager::make();
    std::shared_ptr<TestToolDelegate> delegate = std::make_shared<TestToolDelegate>(rig);
    std::shared_ptr<DrawingToolResponder> tool;
    int undoStepsOpened = 0;
    NotificationCenter::ObserverToken undoSteps = NotificationCenter::defaultCenter().addObserver(
        UndoManager::didOpenUndoGroupNotification, rig.document->undoManager.get(), std::nullopt,
        [this](const Notification&) { undoStepsOpened += 1; });
};

TEST_F(DrawingToolResponderTest, OnlyOptionWithCommandEditsTheSize) {
    struct Case {
        NSEventModifierFlags flags;
        bool editing;
    } cases[] = {
        {NSEventModifierFlags::option, false},
        {NSEventModifierFlags::command, false},
        {optionCommand, true},
        {optionCommand | NSEventModifierFlags::shift, true},
        {optionCommand | NSEventModifierFlags::control, true},
        {NSEventModifierFlags::none, false},
    };
    for (const auto& c : cases) {
        tool->flagsChanged(pointerEvent(NSEventType::flagsChanged, c.flags));
        EXPECT_EQ(tool->editingBrushSize(), c.editing) << uint64_t(c.flags);
    }
    // The editing rows are one stretch: shown once, dismissed once.
    EXPECT_EQ(delegate->sizeBezels.size(), 1u);
    EXPECT_EQ(delegate->sizeBezels[0].string(), "Brush Size: 20 pixels.");
    EXPECT_EQ(delegate->sizeBezelDismissals, 1);
}

TEST_F(DrawingToolResponderTest, BezelTextRoundsAndCountsPixels) {
    const std::pair<float, const char*> cases[] = {
        {0.6f, "Brush Size: 1 pixel."},
        {1.0f, "Brush Size: 1 pixel."},
        {2.0f, "Brush Size: 2 pixels."},
        {24.6f, "Brush Size: 25 pixels."},
    };
    for (const auto& [size, text] : cases) {
        const NSAttributedString s = DrawingToolResponder::brushSizeText(size);
        EXPECT_EQ(s.string(), text);
        ASSERT_EQ(s.runs().size(), 3u);
        EXPECT_EQ(s.runs()[1].font, NSFont::monospacedDigitSystemFont(18, NSFontWeight::regular));
        EXPECT_EQ(s.runs()[0].font, NSFont::systemFont(18));
    }
}

TEST_F(DrawingToolResponderTest, SizeFollowsTheHorizontalDragOnScreen) {
    struct Case {
        CGFloat rotation;
        CGFloat dx;
        float size;
    } cases[] = {
        {0, 10, 40}, {0, -500, 1}, {0, 5000, 1000}, {90, 10, 40}, {180, 10, 40}, {180, -4, 12},
    };
    for (const auto& c : cases) {
        rig.settings.settings.modifyLiveBrush([](Brush& b) { b.size = 20; });
        rig.displayViewModel->restoreTransform(CGAffineTransform::identity());
        rig.displayViewModel->rotate(c.rotation, {32, 32}, true);
        tool->mouseDown(pointerEvent(NSEventType::leftMouseDown, optionCommand), {20, 30});
        tool->mouseDragged(pointerEvent(NSEventType::leftMouseDragged, optionCommand),
                           {20 + c.dx, 41});
        tool->mouseUp(pointerEvent(NSEventType::leftMouseUp, optionCommand), {20 + c.dx, 41});
        EXPECT_EQ(rig.settings.settings.liveBrush().size, c.size) << c.rotation << " " << c.dx;
    }
    EXPECT_EQ(delegate->previewShown, 6);
    EXPECT_EQ(delegate->previewClosed, 6);
    EXPECT_EQ(rig.controller->strokesViewModel()->front(), nullptr) << "editing draws nothing";
    // Keys let go elsewhere: the next plain press draws instead of editing.
    tool->mouseDown(pointerEvent(NSEventType::leftMouseDown, {}, stylusID), {10, 10});
    EXPECT_FALSE(tool->editingBrushSize());
    EXPECT_GE(delegate->sizeBezelDismissals, 1);
    tool->mouseUp(pointerEvent(NSEventType::leftMouseUp, {}, stylusID), {10, 10});
}

TEST_F(DrawingToolResponderTest, GroupLayerShowsTheBezelAndDrawsNothing) {
    auto group = GroupLayer::make("Group");
    rig.canvas->insertLayer(group, IndexPath({1}));
    rig.canvas->setActiveLayer(group);
    tool->mouseDown(pointerEvent(NSEventType::leftMouseDown, {}, stylusID), {10, 10});
    tool->mouseDragged(pointerEvent(NSEventType::leftMouseDragged, {}, stylusID), {12, 10});
    tool->mouseUp(pointerEvent(NSEventType::leftMouseUp, {}, stylusID), {12, 10});
    MainQueue::runUntilIdle();
    EXPECT_EQ(delegate->groupBezels,
              std::vector<std::string>{DrawingToolResponder::groupLayerText});
    EXPECT_EQ(rig.controller->strokesViewModel()->front(), nullptr);
    EXPECT_TRUE(NSEvent::isMouseCoalescingEnabled());
}

TEST_F(DrawingToolResponderTest, RefusedMousePressLogsWarnsAndNeverDraws) {
    LogCapture logs;
    tool->mouseDown(pointerEvent(NSEventType::leftMouseDown), {10.7, 20.2});
    EXPECT_TRUE(NSEvent::isMouseCoalescingEnabled());
    // Allowed while the press lasts: the press still does not draw.
    preferences.setAllowDrawingWithMouse(true);
    tool->mouseDragged(pointerEvent(NSEventType::leftMouseDragged), {11, 20});
    tool->mouseUp(pointerEvent(NSEventType::leftMouseUp), {11, 20});
    MainQueue::runUntilIdle();
    EXPECT_EQ(
        logs.messages("Device Input"),
        (std::vector<std::string>{"Ignoring pointer event at 10x20 coming from mouse",
                                  "Ignoring pointer event at 11x20 coming from mouse",
                                  "Ignoring pointer release event coming from mouse at 11x20."}));
    EXPECT_EQ(delegate->warnings, 2);
    EXPECT_EQ(rig.controller->strokesViewModel()->front(), nullptr);
    EXPECT_TRUE(NSEvent::isMouseCoalescingEnabled());
    // The next press asks again, and may now draw.
    tool->mouseDown(pointerEvent(NSEventType::leftMouseDown), {10, 20});
    EXPECT_FALSE(NSEvent::isMouseCoalescingEnabled());
    tool->mouseUp(pointerEvent(NSEventType::leftMouseUp), {10, 20});
    EXPECT_TRUE(NSEvent::isMouseCoalescingEnabled());
}

TEST_F(DrawingToolResponderTest, StylusPressReleasedAsMouseClosesItsStroke) {
    const Pixels start = layerPixels(*rig.background);
    tool->mouseDown(pointerEvent(NSEventType::leftMouseDown, {}, stylusID), {10, 10});
    tool->mouseDragged(pointerEvent(NSEventType::leftMouseDragged, {}, stylusID), {20, 14});
    EXPECT_FALSE(NSEvent::isMouseCoalescingEnabled());
    // The release comes from another device number, as a mouse.
    tool->mouseUp(pointerEvent(NSEventType::leftMouseUp), {20, 14});
    EXPECT_TRUE(NSEvent::isMouseCoalescingEnabled());
    ASSERT_TRUE(waitForUndoSteps(1));
    EXPECT_EQ(rig.document->undoManager->undoActionName(), "Stroke");
    EXPECT_NE(layerPixels(*rig.background), start);
}

TEST_F(DrawingToolResponderTest, PressAfterALostReleaseClosesTheOpenStroke) {
    const Pixels start = layerPixels(*rig.background);
    tool->mouseDown(pointerEvent(NSEventType::leftMouseDown, {}, stylusID), {10, 10});
    tool->mouseDragged(pointerEvent(NSEventType::leftMouseDragged, {}, stylusID), {20, 14});
    tool->mouseDown(pointerEvent(NSEventType::leftMouseDown, {}, stylusID), {40, 40});
    // The first stroke is blended as its own undo step and ends where the drag did.
    ASSERT_TRUE(waitForUndoSteps(1));
    const Pixels first = layerPixels(*rig.background);
    EXPECT_EQ(pixelAt(first, 40, 40), pixelAt(start, 40, 40));
    EXPECT_FALSE(NSEvent::isMouseCoalescingEnabled()) << "the new press draws";
    tool->mouseUp(pointerEvent(NSEventType::leftMouseUp, {}, stylusID), {40, 40});
    EXPECT_TRUE(NSEvent::isMouseCoalescingEnabled());
    ASSERT_TRUE(waitForUndoSteps(2));
    EXPECT_NE(pixelAt(layerPixels(*rig.background), 40, 40), pixelAt(first, 40, 40));
    rig.document->undoManager->undo();
    rig.settle();
    EXPECT_EQ(layerPixels(*rig.background), first);
}

TEST_F(DrawingToolResponderTest, EraserEndFollowsThePointerType) {
    auto& settings = rig.settings.settings;
    const struct {
        NSPointingDeviceType type;
        DrawingTool tool;
    } presses[] = {{NSPointingDeviceType::eraser, DrawingTool::eraser},
                   {NSPointingDeviceType::pen, DrawingTool::brush},
                   {NSPointingDeviceType::eraser, DrawingTool::eraser}};
    for (const auto& p : presses) {
        tool->mouseDown(pointerEvent(NSEventType::leftMouseDown, {}, stylusID, p.type), {5, 5});
        EXPECT_EQ(settings.currentTool(), p.tool);
        tool->mouseUp(pointerEvent(NSEventType::leftMouseUp, {}, stylusID, p.type), {5, 5});
    }
    // A mouse press leaves the stylus's end alone.
    preferences.setAllowDrawingWithMouse(true);
    tool->mouseDown(pointerEvent(NSEventType::leftMouseDown), {5, 5});
    EXPECT_TRUE(settings.usingStylusEraser());
    tool->mouseUp(pointerEvent(NSEventType::leftMouseUp), {5, 5});
}

TEST_F(DrawingToolResponderTest, ZoomBrushAndToolRemakeTheCursorRotationDoesNot) {
    settleCursor();
    struct Case {
        const char* change;
        std::function<void()> apply;
        bool remade;
    } cases[] = {
        {"zoom",
         [&] {
             rig.displayViewModel->magnify(2, {32, 32}, true);
         },
         true},
        {"rotation",
         [&] {
             rig.displayViewModel->rotate(30, {32, 32}, true);
         },
         false},
        {"brush", [&] { rig.settings.settings.modifyLiveBrush([](Brush& b) { b.size = 33; }); },
         true},
        {"tool", [&] { rig.settings.settings.setPersistentTool(DrawingTool::eraser); }, true},
    };
    for (const auto& c : cases) {
        const auto before = tool->cursor();
        const int updates = delegate->cursorUpdates;
        c.apply();
        settleCursor();
        EXPECT_EQ(tool->cursor() != before, c.remade) << c.change;
        EXPECT_EQ(delegate->cursorUpdates - updates, c.remade ? 1 : 0) << c.change;
    }
    // The eraser's own brush at zoom 2, at ratio 1, with the margin.
    EXPECT_EQ(tool->cursor()->imageSize().width,
              std::ceil(rig.settings.settings.liveBrush().size * 2 + 4));
    EXPECT_EQ(delegate->previewCursor, tool->cursor());
}

TEST_F(DrawingToolResponderTest, OnlyTheLastPendingCursorJobRuns) {
    settleCursor();
    std::latch started(1), release(1);
    tool->serialQueue().async([&] {
        started.count_down();
        release.wait();
    });
    started.wait();
    for (float size : {30.f, 40.f, 50.f}) {
        rig.settings.settings.modifyLiveBrush([size](Brush& b) { b.size = size; });
    }
    const int updates = delegate->cursorUpdates;
    release.count_down();
    settleCursor();
    EXPECT_EQ(delegate->cursorUpdates - updates, 1);
    EXPECT_EQ(tool->cursor()->imageSize().width, 54);
}

TEST_F(DrawingToolResponderTest, CursorBitmapAndHotSpotForEachRatio) {
    Brush brush;
    brush.size = 20; // d = 24 points
    for (const CGFloat ratio : {1.0, 2.0, 1.5}) {
        const auto cursor = DrawingToolResponder::makeCursor(brush, 1, ratio);
        const QCursor q = cursor->qCursor(ratio);
        const QPixmap pixmap = q.pixmap();
        EXPECT_EQ(pixmap.width(), int(std::ceil(24 * ratio))) << ratio;
        EXPECT_DOUBLE_EQ(pixmap.devicePixelRatio(), ratio);
        // The hot spot is in points; on the bitmap it is the ring's centre.
        EXPECT_EQ(q.hotSpot(), QPoint(12, 12));
        EXPECT_NEAR(q.hotSpot().x() * pixmap.devicePixelRatio(), pixmap.width() / 2.0, 0.5);
    }
    brush.size = 1000;
    EXPECT_EQ(DrawingToolResponder::makeCursor(brush, 2, 2), NSCursor::crosshairCursor());
}

TEST_F(DrawingToolResponderTest, ACursorMadeOnTheCursorQueueIsReadyForTheMainThread) {
    Brush brush;
    brush.size = 256; // d = 260 points
    for (const CGFloat ratio : {2.0, 1.5}) {
        std::shared_ptr<NSCursor> made;
        DispatchQueue("CursorGeneratorQueue", DispatchQoS::userInitiated).sync([&] {
            made = DrawingToolResponder::makeCursor(brush, 1, ratio);
        });
        EXPECT_TRUE(made->isPrepared(ratio)) << ratio;
        EXPECT_FALSE(made->isPrepared(1)) << "prepared for its own ratio only";
        // The same cursor as one made on the main thread when shown.
        const auto plain =
            NSCursor::make(made->representations(), made->imageSize(), made->hotSpot());
        const QCursor shown = made->qCursor(ratio), expected = plain->qCursor(ratio);
        EXPECT_EQ(shown.hotSpot(), expected.hotSpot()) << ratio;
        EXPECT_DOUBLE_EQ(shown.pixmap().devicePixelRatio(), ratio);
        EXPECT_EQ(shown.pixmap().toImage(), expected.pixmap().toImage()) << ratio;
    }
}

TEST_F(DrawingToolResponderTest, WithoutDrawingControllerThePointerIsIgnored) {
    delegate->hasController = false;
    tool->mouseDown(pointerEvent(NSEventType::leftMouseDown, {}, stylusID), {10, 10});
    tool->mouseUp(pointerEvent(NSEventType::leftMouseUp, {}, stylusID), {10, 10});
    EXPECT_TRUE(NSEvent::isMouseCoalescingEnabled());
    EXPECT_EQ(delegate->previewClosed, 1);
}

} // namespace
