#include "ToolResponders/MoveToolResponder.hpp"
#include "ToolTestSupport.hpp"

#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::testing;

namespace {

// The move tool's owner over a drawing controller of a canvas of any size.
struct MoveDelegate : MoveToolResponderDelegate {
    std::shared_ptr<UndoManager> undoManager() override { return nullptr; }
    std::shared_ptr<MTKView> canvasView() override { return view; }
    std::shared_ptr<DisplayViewModel> displayViewModel() const override { return model; }
    std::shared_ptr<DrawingController> drawingController() const override { return controller; }
    void presentPopover(NSRectEdge edge) override { popovers.push_back(edge); }

    std::shared_ptr<MTKView> view;
    std::shared_ptr<DisplayViewModel> model = std::make_shared<DisplayViewModel>();
    std::shared_ptr<DrawingController> controller;
    std::vector<NSRectEdge> popovers;
};

std::shared_ptr<RasterLayer> opaqueLayer(int64_t width, int64_t height) {
    auto bitmap =
        NSBitmapImageRep::makeRGBA8(width, height, ColorManagement::workingNSColorSpace());
    for (int64_t r = 0; r < height; ++r) {
        std::fill_n(bitmap->row(r), width * 4, uint8_t(200));
    }
    return RasterLayer::make("Layer", *bitmap);
}

class MoveToolResponderTest : public ::testing::Test {
protected:
    void SetUp() override {
        rig.settings.settings.setPersistentTool(DrawingTool::move);
        delegate->view = rig.view;
        delegate->model = rig.displayViewModel;
        delegate->controller = rig.controller;
        tool = MoveToolResponder::make(delegate);
    }
    void TearDown() override {
        rig.settle();
        while (NSCursor::stackDepth() > 0) {
            NSCursor::pop();
        }
    }

    // Shows a canvas of that size whose one layer covers it.
    std::shared_ptr<RasterLayer> showCanvas(int64_t width, int64_t height) {
        auto layer = opaqueLayer(width, height);
        canvas = LayeredCanvas::make({width, height, 1}, layer);
        delegate->controller =
            DrawingController::make(rig.renderer, rig.displayViewModel, canvas, rig.document,
                                    rig.document->undoManager, rig.document, rig.settings.settings);
        delegate->controller->setDelegate(rig.delegate);
        return layer;
    }

    void press(CGPoint p) { tool->mouseDown(pointerEvent(NSEventType::leftMouseDown), p); }
    void drag(CGPoint p) { tool->mouseDragged(pointerEvent(NSEventType::leftMouseDragged), p); }
    void release(CGPoint p) { tool->mouseUp(pointerEvent(NSEventType::leftMouseUp), p); }
    // One drag from `from` by `by`, in one step.
    void move(CGPoint from, CGVector by) {
        press(from);
        drag({from.x + by.dx, from.y + by.dy});
        release({from.x + by.dx, from.y + by.dy});
        endTurn();
    }

    DrawingRig rig;
    std::shared_ptr<MoveDelegate> delegate = std::make_shared<MoveDelegate>();
    std::shared_ptr<MoveToolResponder> tool;
    std::shared_ptr<LayeredCanvas> canvas;
};

TEST_F(MoveToolResponderTest, FractionsAddUpToWholePixels) {
    press({10, 10});
    const std::pair<double, int64_t> steps[] = {{10.4, 0}, {10.8, 0}, {11.2, 1},
                                                {11.6, 1}, {12.0, 2}, {12.4, 2}};
    for (const auto& [x, offset] : steps) {
        drag({x, 10});
        EXPECT_EQ(tool->dragSession()->offset, MTLVector(offset, 0)) << x;
    }
    EXPECT_NEAR(tool->residualMoveOffset().dx, 0.4, 1e-9);
    release({12.4, 10});
    // A new drag starts from nothing: the last one's fraction is not carried.
    press({20, 20});
    drag({20.7, 20});
    EXPECT_EQ(tool->dragSession()->offset, MTLVector(0, 0));
    drag({21.1, 19.0});
    EXPECT_EQ(tool->dragSession()->offset, MTLVector(1, -1));
    release({21.1, 19});
}

TEST_F(MoveToolResponderTest, UndoAndRedoRestoreThePixelsExactly) {
    const Pixels original = layerPixels(*rig.background);
    move({10, 10}, {5, -3});
    const Pixels moved = layerPixels(*rig.background);
    EXPECT_NE(moved, original);
    EXPECT_EQ(rig.background->boundingRect(), makeMTLRegion(5, -3, side, side));
    auto& undo = *rig.document->undoManager;
    EXPECT_EQ(undo.undoActionName(), MoveToolResponder::actionName);
    EXPECT_EQ(rig.document->locksHeld, 0);
    undo.undo();
    EXPECT_EQ(layerPixels(*rig.background), original);
    EXPECT_EQ(undo.redoActionName(), MoveToolResponder::actionName);
    undo.redo();
    EXPECT_EQ(layerPixels(*rig.background), moved);
    EXPECT_EQ(undo.undoActionName(), MoveToolResponder::actionName);
}

TEST_F(MoveToolResponderTest, EmptyLayerAndFullyCutDragsRegisterNothing) {
    auto empty = RasterLayer::make("Empty");
    rig.canvas->insertLayer(empty, IndexPath({1}));
    rig.canvas->setActiveLayer(empty);
    endTurn();
    rig.document->undoManager->removeAllActions();
    move({10, 10}, {6, 6});
    EXPECT_FALSE(rig.document->undoManager->canUndo());

    showCanvas(8000, 4);
    move({10, 2}, {30, 0});
    EXPECT_FALSE(rig.document->undoManager->canUndo());
    EXPECT_EQ(delegate->popovers, std::vector<NSRectEdge>{NSRectEdge::minX});
    move({10, 2}, {-30, 0});
    EXPECT_EQ(delegate->popovers.back(), NSRectEdge::maxX);
    EXPECT_FALSE(rig.document->undoManager->canUndo());
}

TEST_F(MoveToolResponderTest, LayerAndCanvasSpanAtMostTheLargestCanvas) {
    const auto layer = showCanvas(1000, 4);
    move({0, 2}, {6999, 0});
    EXPECT_TRUE(delegate->popovers.empty());
    move({0, 2}, {5, 0});
    EXPECT_EQ(layer->boundingRect().origin.x, 7000) << "cut to what is left";
    EXPECT_EQ(delegate->popovers, std::vector<NSRectEdge>{NSRectEdge::minX});
    move({0, 2}, {1, 0});
    EXPECT_EQ(layer->boundingRect().origin.x, 7000);
    // Upwards the canvas is only 4 high: 7996 more fit.
    move({0, 2}, {0, 8000});
    EXPECT_EQ(layer->boundingRect().origin.y, 7996);
    EXPECT_EQ(delegate->popovers.back(), NSRectEdge::minY);
    move({0, 2}, {-7000, -7996});
    EXPECT_EQ(layer->boundingRect().origin, MTLOriginZero);
}

TEST_F(MoveToolResponderTest, OnTheLargestCanvasOnlyTheLayerMovesNotTheCanvas) {
    const int64_t largest = CanvasMaximumSize.width;
    const auto small = opaqueLayer(500, 500);
    // Spans the whole canvas, by two small corners (a group: nothing 8000
    // pixels wide is rendered for it).
    const auto full = GroupLayer::make("Corners");
    const auto corner = opaqueLayer(4, 4), farCorner = opaqueLayer(4, 4);
    farCorner->moveContents({largest - 4, largest - 4, 0});
    canvas = LayeredCanvas::make({largest, largest, 1}, small);
    canvas->insertLayer(full, IndexPath({1}));
    canvas->insertLayer(corner, IndexPath({1, 0}));
    canvas->insertLayer(farCorner, IndexPath({1, 1}));
    delegate->controller =
        DrawingController::make(rig.renderer, rig.displayViewModel, canvas, rig.document,
                                rig.document->undoManager, rig.document, rig.settings.settings);
    delegate->controller->setDelegate(rig.delegate);
    ASSERT_EQ(full->boundingRect(), makeMTLRegion(0, 0, largest, largest));
    auto& undo = *rig.document->undoManager;

    canvas->setActiveLayer(small);
    move({10, 10}, {3000, 3000});
    EXPECT_EQ(small->boundingRect(), makeMTLRegion(3000, 3000, 500, 500));
    move({3010, 3010}, {-3000, -3000});
    EXPECT_EQ(small->boundingRect(), makeMTLRegion(0, 0, 500, 500));
    EXPECT_TRUE(delegate->popovers.empty());
    undo.undo();
    EXPECT_EQ(small->boundingRect(), makeMTLRegion(3000, 3000, 500, 500));
    undo.redo();
    EXPECT_EQ(small->boundingRect(), makeMTLRegion(0, 0, 500, 500));

    canvas->setActiveLayer(full);
    move({10, 10}, {1, 0});
    EXPECT_EQ(full->boundingRect(), makeMTLRegion(0, 0, largest, largest));
    EXPECT_EQ(delegate->popovers, std::vector<NSRectEdge>{NSRectEdge::minX});
    undo.undo();
    EXPECT_EQ(small->boundingRect(), makeMTLRegion(3000, 3000, 500, 500))
        << "the held move made no entry";
}

TEST_F(MoveToolResponderTest, GroupChildAndGroupAgainKeepTheLimit) {
    showCanvas(1000, 4);
    auto group = GroupLayer::make("Group");
    auto child = opaqueLayer(1000, 4);
    canvas->insertLayer(group, IndexPath({1}));
    canvas->insertLayer(child, IndexPath({1, 0}));
    canvas->setActiveLayer(group);
    move({0, 2}, {3000, 0});
    canvas->setActiveLayer(child);
    move({0, 2}, {3000, 0});
    canvas->setActiveLayer(group);
    move({0, 2}, {2000, 0});
    EXPECT_EQ(right(child->boundingRect()), 8000) << "the child went as far as it could";
    EXPECT_EQ(delegate->popovers.back(), NSRectEdge::minX);
}

TEST_F(MoveToolResponderTest, LayerAlreadyTooFarOutMayOnlyComeBack) {
    const auto layer = showCanvas(1000, 4);
    layer->moveContents({8500, 0}); // as a drop may place it
    move({0, 2}, {10, 0});
    EXPECT_EQ(layer->boundingRect().origin.x, 8500);
    move({0, 2}, {-300, 0});
    EXPECT_EQ(layer->boundingRect().origin.x, 8200);
    rig.document->undoManager->undo();
    EXPECT_EQ(layer->boundingRect().origin.x, 8500) << "undo is not held to the limit";
}

TEST_F(MoveToolResponderTest, ClosedHandIsPoppedOnlyByTheDragThatPushedIt) {
    const size_t depth = NSCursor::stackDepth();
    press({1, 1});
    EXPECT_EQ(NSCursor::stackDepth(), depth + 1);
    EXPECT_EQ(NSCursor::currentCursor(), NSCursor::closedHandCursor());
    drag({4, 1});
    press({6, 1}); // the release was lost: that drag ends first
    EXPECT_EQ(NSCursor::stackDepth(), depth + 1);
    EXPECT_EQ(rig.background->boundingRect().origin.x, 3) << "committed, not lost";
    EXPECT_EQ(rig.document->locksHeld, 1) << "the old drag's lock went with it";
    release({6, 1});
    EXPECT_EQ(NSCursor::stackDepth(), depth);
    // A drag that never had a press pushed nothing and pops nothing.
    NSCursor::arrowCursor()->push();
    drag({9, 1});
    release({9, 1});
    EXPECT_EQ(NSCursor::stackDepth(), depth + 1);
    EXPECT_EQ(rig.document->locksHeld, 0);
}

TEST_F(MoveToolResponderTest, NewCanvasDropsRecordsAndEntries) {
    move({10, 10}, {3, 0});
    EXPECT_TRUE(rig.document->undoManager->canUndo());
    showCanvas(64, 64);
    tool->canvasDidChange();
    EXPECT_FALSE(rig.document->undoManager->canUndo());
}

TEST_F(MoveToolResponderTest, WithoutDrawingControllerThePointerIsIgnored) {
    delegate->controller = nullptr;
    const size_t depth = NSCursor::stackDepth();
    press({1, 1});
    drag({5, 5});
    release({5, 5});
    EXPECT_EQ(NSCursor::stackDepth(), depth);
    EXPECT_EQ(rig.document->locksMade, 0);
}

} // namespace
