#include "DrawingTestSupport.hpp"
#include "foundation/LogCapture.hpp"

#include <algorithm>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using namespace velmora;
using namespace velmora::testing;

namespace {

int changedPixels(const Pixels& a, const Pixels& b) {
    int n = 0;
    for (size_t i = 0; i < a.size(); i += 4) {
        n += !std::equal(a.begin() + long(i), a.begin() + long(i) + 4, b.begin() + long(i));
    }
    return n;
}

} // namespace

TEST(DrawingControllerStrokes, FramesStampBeforeCompositingAndFollowTheActiveLayer) {
    DrawingRig rig;
    const auto& c = rig.controller;
    ASSERT_EQ(rig.renderer->computables.size(), 2u);
    EXPECT_EQ(rig.renderer->computables[0].base.lock(),
              std::static_pointer_cast<RendererComputable>(c));
    EXPECT_EQ(rig.renderer->computables[1].base.lock(),
              std::static_pointer_cast<RendererComputable>(c->renderedCanvas()));
    ASSERT_EQ(rig.renderer->drawables.size(), 1u);
    EXPECT_EQ(rig.renderer->drawables[0].base.lock(),
              std::static_pointer_cast<RendererDrawable>(c));
    EXPECT_EQ(rig.document->bitmapProvider(), std::static_pointer_cast<BitmapProvider>(c));
    ASSERT_NE(c->currentRenderedLayer(), nullptr);
    EXPECT_EQ(c->currentRenderedLayer()->layer(), rig.background);
    rig.canvas->setActiveLayer(nullptr);
    EXPECT_EQ(c->currentRenderedLayer(), nullptr);
}

TEST(DrawingControllerStrokes, WithoutAnActiveLayerStrokesWaitUntilThereIsOne) {
    DrawingRig rig;
    const Pixels before = layerPixels(*rig.background);
    rig.canvas->setActiveLayer(nullptr);
    rig.stroke(diagonal());
    rig.drawUntilIdle();
    EXPECT_NE(rig.controller->strokesViewModel()->front(), nullptr);
    EXPECT_EQ(rig.document->locksMade, 0);
    EXPECT_FALSE(rig.document->undoManager->canUndo());

    rig.canvas->setActiveLayer(rig.background);
    rig.drawUntilIdle();
    EXPECT_EQ(rig.controller->strokesViewModel()->front(), nullptr);
    EXPECT_GT(changedPixels(before, layerPixels(*rig.background)), 20);
    EXPECT_EQ(rig.document->undoManager->undoActionName(), "Stroke");
}

TEST(DrawingControllerStrokes, OverlappingStrokesTakeOneLockAndLeaveTwoEntries) {
    DrawingRig rig;
    const Pixels start = layerPixels(*rig.background);
    rig.stroke(diagonal(8, 20));
    rig.enqueue(diagonal(30, 44));
    // One frame blends the first stroke and begins the second.
    rig.view->draw();
    rig.settle();
    endTurn();
    EXPECT_TRUE(rig.controller->isDrawing());
    EXPECT_TRUE(rig.renderer->isLiveRendering());
    EXPECT_EQ(rig.document->locksHeld, 1);
    const Pixels afterFirst = layerPixels(*rig.background);

    rig.close();
    rig.drawUntilIdle();
    EXPECT_FALSE(rig.controller->isDrawing());
    EXPECT_FALSE(rig.renderer->isLiveRendering());
    EXPECT_EQ(rig.document->locksMade, 1);
    EXPECT_EQ(rig.document->locksHeld, 0);

    auto& undo = *rig.document->undoManager;
    undo.undo();
    rig.settle();
    EXPECT_EQ(layerPixels(*rig.background), afterFirst);
    undo.undo();
    rig.settle();
    EXPECT_EQ(layerPixels(*rig.background), start);
    EXPECT_FALSE(undo.canUndo());
}

TEST(DrawingControllerStrokes, StrokesFinishedInOneTurnAreUndoneOneAtATime) {
    DrawingRig rig;
    auto& undo = *rig.document->undoManager;
    const auto other = RasterLayer::make("Other");
    rig.canvas->insertLayer(other, {1});
    rig.canvas->setActiveLayer(rig.background);
    endTurn();
    undo.removeAllActions();
    const Pixels start = layerPixels(*rig.background);
    rig.stroke(diagonal(8, 20));
    rig.stroke(diagonal(24, 34));
    rig.stroke(diagonal(38, 50));
    // The user's edit of this turn comes before the GPU hands the strokes back.
    other->setOpacity(0.5f);
    for (int i = 0; i < 50 && rig.controller->strokesViewModel()->front() != nullptr; ++i) {
        rig.view->draw();
    }
    rig.settle();
    rig.settle();
    endTurn();

    undo.undo();
    EXPECT_EQ(other->opacity(), 1.0f);
    EXPECT_EQ(undo.undoActionName(), "Stroke");
    Pixels previous = layerPixels(*rig.background);
    for (int stroke = 3; stroke >= 1; --stroke) {
        SCOPED_TRACE(stroke);
        ASSERT_TRUE(undo.canUndo());
        undo.undo();
        rig.settle();
        const Pixels now = layerPixels(*rig.background);
        EXPECT_GT(changedPixels(previous, now), 20) << "one stroke taken back";
        EXPECT_EQ(now == start, stroke == 1);
        previous = now;
    }
    EXPECT_FALSE(undo.canUndo());
    undo.redo();
    rig.settle();
    EXPECT_TRUE(undo.canRedo()) << "one stroke put back";
}

TEST(DrawingControllerStrokes, UndoAndRedoRestoreThePixelsExactly) {
    DrawingRig rig;
    const Pixels before = layerPixels(*rig.background);
    rig.stroke(diagonal());
    // No waiting after the commit: undo waits for the encoding itself.
    for (int i = 0; i < 50 && rig.controller->strokesViewModel()->front() != nullptr; ++i) {
        rig.view->draw();
    }
    rig.settle();
    endTurn();
    auto& undo = *rig.document->undoManager;
    ASSERT_TRUE(undo.canUndo());
    EXPECT_EQ(undo.undoActionName(), "Stroke");
    undo.undo();
    rig.settle();
    EXPECT_EQ(layerPixels(*rig.background), before);
    EXPECT_EQ(undo.redoMenuItemTitle(), "Redo Stroke");

    const uint64_t frames = rig.host->presentedCount();
    undo.redo();
    rig.settle();
    const Pixels after = layerPixels(*rig.background);
    EXPECT_GT(changedPixels(before, after), 20);
    EXPECT_GT(rig.host->presentedCount(), frames) << "the redo is drawn at once";
    undo.undo();
    rig.settle();
    EXPECT_EQ(layerPixels(*rig.background), before);
    undo.redo();
    rig.settle();
    EXPECT_EQ(layerPixels(*rig.background), after);
    EXPECT_EQ(undo.undoActionName(), "Stroke");
}

TEST(DrawingControllerStrokes, AnUndoEncodesASnapshotNoWorkerHasStarted) {
    DrawingRig rig;
    const Pixels before = layerPixels(*rig.background);
    // Every worker of the encoding queue stays busy until released; a watchdog
    // releases them if the undo hangs on them.
    const unsigned workers = std::max(2u, std::thread::hardware_concurrency());
    std::mutex mutex;
    std::condition_variable changed;
    unsigned busy = 0;
    bool released = false, rescued = false;
    for (unsigned i = 0; i < workers; ++i) {
        DispatchQueue::global(DispatchQoS::defaultQoS).async([&] {
            std::unique_lock lock(mutex);
            busy += 1;
            changed.notify_all();
            changed.wait(lock, [&] { return released; });
        });
    }
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(
            changed.wait_for(lock, std::chrono::seconds(10), [&] { return busy == workers; }));
    }
    std::thread watchdog([&] {
        std::unique_lock lock(mutex);
        if (!changed.wait_for(lock, std::chrono::seconds(20), [&] { return released; })) {
            rescued = released = true;
            changed.notify_all();
        }
    });

    rig.stroke(diagonal());
    rig.drawUntilIdle();
    auto& undo = *rig.document->undoManager;
    ASSERT_TRUE(undo.canUndo());
    undo.undo();
    rig.settle();
    EXPECT_EQ(layerPixels(*rig.background), before);
    {
        const std::lock_guard lock(mutex);
        released = true;
    }
    changed.notify_all();
    watchdog.join();
    EXPECT_FALSE(rescued) << "the undo waited for a busy worker";
    // The worker that gets to the job later finds it done; redo still works.
    undo.redo();
    rig.settle();
    EXPECT_GT(changedPixels(before, layerPixels(*rig.background)), 20);
}

TEST(DrawingControllerStrokes, TheEntryNamesTheLayerPastedIntoNotTheOneActiveLater) {
    DrawingRig rig;
    const auto other = RasterLayer::make("Other");
    rig.canvas->insertLayer(other, {1});
    rig.canvas->setActiveLayer(rig.background);
    endTurn();
    const Pixels before = layerPixels(*rig.background);
    rig.stroke(diagonal());
    for (int i = 0; i < 50 && rig.controller->strokesViewModel()->front() != nullptr; ++i) {
        rig.view->draw();
    }
    // Pen up, stroke pasted; the user picks another layer before the GPU is done.
    rig.canvas->setActiveLayer(other);
    rig.settle();
    rig.settle();
    endTurn();
    const Pixels painted = layerPixels(*rig.background);
    EXPECT_GT(changedPixels(before, painted), 20);
    rig.document->undoManager->undo();
    rig.settle();
    EXPECT_EQ(layerPixels(*rig.background), before);
    EXPECT_EQ(changedPixels(layerPixels(*other), Pixels(before.size(), 0)), 0);
}

TEST(DrawingControllerStrokes, AGroupMadeActiveWhileAStrokeWaitsGetsNothing) {
    LogCapture logs;
    DrawingRig rig;
    const auto group = GroupLayer::make("Group");
    rig.canvas->insertLayer(group, {1});
    endTurn();
    const Pixels before = layerPixels(*rig.background);
    rig.stroke(diagonal());
    rig.canvas->setActiveLayer(group);
    rig.drawUntilIdle();
    EXPECT_EQ(layerPixels(*rig.background), before);
    EXPECT_EQ(rig.document->locksHeld, 0);
    EXPECT_FALSE(rig.controller->isDrawing());
    // Only the insertion can be undone.
    EXPECT_EQ(rig.document->undoManager->undoActionName(), "Add Layer");
    rig.document->undoManager->undo();
    EXPECT_FALSE(rig.document->undoManager->canUndo());
    bool logged = false;
    for (const auto& m : logs.messages("Drawing Engine")) {
        logged |= m.find("not a raster layer") != std::string::npos;
    }
    EXPECT_TRUE(logged);
}

TEST(DrawingControllerLifetime, ClosingMidStrokeFreesTheDocument) {
    std::weak_ptr<TestDocument> document;
    std::weak_ptr<DrawingController> controller;
    {
        DrawingRig rig;
        document = rig.document;
        controller = rig.controller;
        rig.stroke(diagonal());
        rig.enqueue(diagonal(32, 50));
        rig.view->draw();
        ASSERT_EQ(rig.document->locksHeld, 1);
        // The window goes while the first stroke's completion is still pending.
        rig.document = nullptr;
        rig.controller = nullptr;
        EXPECT_TRUE(controller.expired());
        rig.settle();
    }
    EXPECT_TRUE(document.expired());
}

TEST(DrawingControllerLifetime, SetUpKeepsTheCanvasShownAndDropsEntriesOfOneReplaced) {
    DrawingRig rig;
    auto& undo = *rig.document->undoManager;
    // An entry of someone else stays.
    struct Other {};
    const auto other = std::make_shared<Other>();
    undo.registerUndo<Other>(other, [](Other&) {});
    undo.setActionName("Other");
    endTurn();
    rig.stroke(diagonal());
    rig.drawUntilIdle();
    ASSERT_EQ(undo.undoActionName(), "Stroke");

    const auto setUp = [&](const std::shared_ptr<LayeredCanvas>& canvas) {
        return DrawingController::setUp(rig.controller, rig.view, rig.displayViewModel, canvas,
                                        rig.document, rig.document->undoManager, rig.document,
                                        rig.settings.settings);
    };
    EXPECT_EQ(setUp(rig.canvas), rig.controller);
    EXPECT_EQ(undo.undoActionName(), "Stroke");

    const auto replacement = setUp(LayeredCanvas::make({side, side, 1}));
    EXPECT_NE(replacement, rig.controller);
    EXPECT_EQ(rig.document->bitmapProvider(),
              std::static_pointer_cast<BitmapProvider>(replacement));
    EXPECT_EQ(undo.undoActionName(), "Other");
    rig.controller = replacement;
}
