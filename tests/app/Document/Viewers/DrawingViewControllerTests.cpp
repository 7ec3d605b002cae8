#include "App/AppDelegate.hpp"
#include "App/Preferences.hpp"
#include "Document/Document.hpp"
#include "Document/Viewers/DocumentStoryboard.hpp"
#include "Document/Viewers/DrawingViewController.hpp"
#include "DrawingTestSupport.hpp"
#include "app/Document/DocumentTestSupport.hpp"
#include "coding/JSONDecoder.hpp"
#include "coding/JSONEncoder.hpp"
#include "desktop/NSMenu.hpp"
#include "desktop/NSMenuItem.hpp"
#include "foundation/LogCapture.hpp"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QWheelEvent>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::testing;

namespace {

// Stands for the window and its document up the responder chain: the undo
// manager is hidden while a lock is held.
struct DocumentResponder : NSResponder {
    std::shared_ptr<UndoManager> undoManager() override {
        return document->locksHeld > 0 ? nullptr : document->undoManager;
    }
    std::shared_ptr<TestDocument> document;
};

CGFloat scaleOf(const CGAffineTransform& t) {
    return std::hypot(t.a, t.b);
}

CGFloat degreesOf(const CGAffineTransform& t) {
    return std::atan2(t.b, t.a) * 180 / M_PI;
}

class DrawingViewControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        chain->document = document;
        controller->setNextResponder(chain);
        controller->view()->resize(side, side);
        controller->view()->show();
        controller->viewer().updateViewGeometry();
    }
    void TearDown() override {
        controller = nullptr;
        MainQueue::runUntilIdle();
    }
    void setUpCanvas() {
        controller->setUpCanvas(canvas, document, document->undoManager, document);
        MainQueue::runUntilIdle(); // the fit
    }
    void settle() {
        const auto barrier = device->newCommandQueue()->commandBuffer();
        barrier->commit();
        barrier->waitUntilCompleted();
        MainQueue::runUntilIdle();
    }
    // A stroke queued and taken by a frame: the lock is held until it is done.
    void beginStroke() {
        const auto strokes = controller->drawingController()->strokesViewModel();
        int done = 0;
        for (const auto& p : diagonal()) {
            strokes->enqueuePointEvent(p, 0.8f, [&](bool) { done += 1; });
        }
        MainQueue::runUntil([&] { return done == int(diagonal().size()); },
                            std::chrono::seconds(20));
        controller->canvasView()->draw();
    }

    // A mouse event as the window system delivers it to the canvas, y down.
    void mouse(QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons buttons,
               Qt::KeyboardModifiers modifiers = {}) {
        Viewer& viewer = controller->viewer();
        QMouseEvent event(type, at, viewer.mapToGlobal(at), button, buttons, modifiers);
        QApplication::sendEvent(&viewer, &event);
    }
    void key(QEvent::Type type, Qt::Key key, Qt::KeyboardModifiers modifiers) {
        QKeyEvent event(type, key, modifiers);
        QApplication::sendEvent(&controller->viewer(), &event);
    }
    // Frames until a stroke was blended and its undo entry made.
    bool finishStroke(const UndoManager& undo) {
        const auto drawing = controller->drawingController();
        return MainQueue::runUntil(
            [&] {
                QCoreApplication::processEvents(); // ends the undo group's turn
                if (undo.canUndo() && drawing->strokesViewModel()->front() == nullptr &&
                    !drawing->isDrawing()) {
                    return true;
                }
                controller->canvasView()->draw();
                settle();
                return false;
            },
            std::chrono::seconds(20));
    }

    TestDrawingSettings settings;
    std::shared_ptr<MTLDevice> device = MTLCreateSystemDefaultDevice();
    std::shared_ptr<TestDocument> document = std::make_shared<TestDocument>();
    std::shared_ptr<DocumentResponder> chain = std::make_shared<DocumentResponder>();
    std::shared_ptr<LayeredCanvas> canvas = LayeredCanvas::make({side, side, 1});
    std::shared_ptr<DrawingViewController> controller =
        std::make_shared<DrawingViewController>(settings.settings);
};

// Mouse presses draw while it lives.
struct DrawingWithMouse {
    bool was = Preferences::shared().allowDrawingWithMouse();
    DrawingWithMouse() { Preferences::shared().setAllowDrawingWithMouse(true); }
    ~DrawingWithMouse() { Preferences::shared().setAllowDrawingWithMouse(was); }
};

} // namespace

TEST_F(DrawingViewControllerTest, ZoomAndRotateCommandsTurnAboutTheViewCentre) {
    setUpCanvas();
    const auto fitted = controller->displayViewModel()->transform();
    const CGPoint centre = controller->canvasPoint({side / 2.0, side / 2.0});
    EXPECT_NEAR(scaleOf(fitted), 0.95, 1e-9) << "fitted a main-queue turn after the set-up";
    for (const auto* action : {"zoomIn:", "zoomIn:", "zoomOut:", "zoomOut:"}) {
        EXPECT_TRUE(controller->tryToPerform(action, nullptr));
    }
    EXPECT_NEAR(scaleOf(controller->displayViewModel()->transform()), scaleOf(fitted), 1e-9);
    for (int i = 0; i < 4; ++i) {
        controller->tryToPerform("rotateClockwise:", nullptr);
    }
    EXPECT_NEAR(degreesOf(controller->displayViewModel()->transform()), -90, 1e-6);
    const CGPoint after = controller->canvasPoint({side / 2.0, side / 2.0});
    EXPECT_NEAR(after.x, centre.x, 1e-6);
    EXPECT_NEAR(after.y, centre.y, 1e-6);
}

TEST_F(DrawingViewControllerTest, EveryViewAndToolMenuItemReachesTheCanvas) {
    setUpCanvas();
    const auto menu = AppDelegate::makeMainMenu();
    int reached = 0;
    for (const char* title : {"View", "Tool"}) {
        const auto submenu = menu->itemWithTitle(title)->submenu();
        ASSERT_TRUE(submenu) << title;
        for (const auto& item : submenu->items()) {
            if (!item->action().empty()) {
                EXPECT_TRUE(controller->validateMenuItem(*item)) << item->title();
                EXPECT_TRUE(controller->tryToPerform(item->action(), item.get())) << item->title();
                ++reached;
            }
        }
    }
    EXPECT_EQ(reached, 9);
}

TEST_F(DrawingViewControllerTest, ToolItemsAreDisabledWhileAStrokeHoldsTheLock) {
    setUpCanvas();
    NSMenuItem brush("Brush", "selectTool:");
    brush.setIdentifier("brushTool");
    EXPECT_TRUE(controller->validateMenuItem(brush));
    beginStroke();
    ASSERT_EQ(document->locksHeld, 1);
    EXPECT_FALSE(controller->validateMenuItem(brush));
    EXPECT_FALSE(controller->validateItem("moveTool"));
    EXPECT_TRUE(controller->validateItem("zoomIn"));
    EXPECT_TRUE(controller->validateItem(""));
    controller->drawingController()->strokesViewModel()->closeStroke([] {});
    // The close comes back from the stabiliser's thread, which a loaded machine may
    // not run for many turns: wait for it by the clock, not by a count of frames.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (controller->drawingController()->isDrawing() &&
           std::chrono::steady_clock::now() < deadline) {
        MainQueue::runUntil(std::chrono::steady_clock::now() + std::chrono::milliseconds(5));
        controller->canvasView()->draw();
        settle();
    }
    EXPECT_FALSE(controller->drawingController()->isDrawing());
    EXPECT_TRUE(controller->validateItem("eraserTool"));
}

TEST_F(DrawingViewControllerTest, AGestureKeepsOneLiveScopeAndAWheelStepOneFrame) {
    setUpCanvas();
    const auto& renderer = *controller->drawingController()->renderer();
    controller->zoom(1.2, {10, 10}, GesturePhase::began);
    controller->zoom(1.1, {10, 10}, GesturePhase::changed);
    EXPECT_TRUE(controller->hasLiveScope("Magnify"));
    EXPECT_EQ(renderer.activeLiveRenderingCount(), 1);
    controller->zoom(1.0, {10, 10}, GesturePhase::ended);
    EXPECT_FALSE(controller->hasLiveScope("Magnify"));
    EXPECT_FALSE(renderer.isLiveRendering());

    settle();
    const int64_t frames = renderer.drawCounter();
    controller->updateLiveScope("Pan", GesturePhase::none);
    controller->updateLiveScope("Pan", GesturePhase::none);
    // A frame still in flight puts the asked-for one off until it completes.
    settle();
    EXPECT_EQ(renderer.drawCounter(), frames + 1);
    EXPECT_FALSE(renderer.isLiveRendering());
}

TEST_F(DrawingViewControllerTest, CtrlWithTheWheelZoomsAboutThePointerAndTheWheelAlonePans) {
    setUpCanvas();
    const QPointF at{20, 12};
    const CGPoint viewPoint{at.x(), side - at.y()}; // y up
    const auto wheel = [&](int steps, Qt::KeyboardModifiers modifiers) {
        Viewer& viewer = controller->viewer();
        QWheelEvent event(at, viewer.mapToGlobal(at), {}, {0, 120 * steps}, Qt::NoButton, modifiers,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(&viewer, &event);
    };
    const auto& model = *controller->displayViewModel();
    const struct {
        int steps;
        Qt::KeyboardModifiers modifiers;
        CGFloat zoom;
    } cases[] = {{1, Qt::ControlModifier, 1.4142135623730951},
                 {-1, Qt::ControlModifier, 0.7071067811865475},
                 {1, Qt::AltModifier, 1.4142135623730951},
                 {1, Qt::NoModifier, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.steps << " " << c.modifiers.toInt());
        const CGFloat scale = scaleOf(model.transform());
        const CGPoint under = controller->canvasPoint(viewPoint);
        wheel(c.steps, c.modifiers);
        EXPECT_NEAR(scaleOf(model.transform()) / scale, c.zoom, 1e-9);
        const CGPoint now = controller->canvasPoint(viewPoint);
        if (c.zoom != 1) {
            EXPECT_NEAR(now.x, under.x, 1e-6) << "about the pointer";
            EXPECT_NEAR(now.y, under.y, 1e-6);
        } else {
            EXPECT_GT(std::abs(now.y - under.y), 1) << "panned";
        }
    }
}

TEST_F(DrawingViewControllerTest, ChoosingAToolRebuildsTheGesturesAndKeepsTheResponder) {
    const std::weak_ptr<GesturesProvider> first = controller->gesturesProvider();
    const auto responder = controller->activeCommonToolResponder();
    ASSERT_FALSE(first.expired());
    EXPECT_EQ(controller->viewer().toolResponder(),
              std::static_pointer_cast<ToolResponder>(responder));
    NSMenuItem move("Move", "selectTool:");
    move.setIdentifier("moveTool");
    EXPECT_TRUE(controller->tryToPerform("selectTool:", &move));
    EXPECT_EQ(settings.settings.persistentTool(), DrawingTool::move);
    EXPECT_TRUE(first.expired()) << "the provider was rebuilt";
    EXPECT_NE(std::dynamic_pointer_cast<MoveToolResponder>(controller->viewer().toolResponder()),
              nullptr);
    EXPECT_EQ(controller->viewer().gestureRecognizerCount(), 1u);
    controller->selectTool("brushTool");
    EXPECT_EQ(controller->activeCommonToolResponder(), responder);
    EXPECT_NE(std::dynamic_pointer_cast<DrawingToolResponder>(responder), nullptr);
    controller->selectTool(std::nullopt);
    EXPECT_EQ(settings.settings.persistentTool(), DrawingTool::brush);
}

TEST_F(DrawingViewControllerTest, TheSameCanvasKeepsItsController) {
    setUpCanvas();
    const auto shown = controller->drawingController();
    setUpCanvas();
    EXPECT_EQ(controller->drawingController(), shown);
}

TEST_F(DrawingViewControllerTest, AWindowClosedMidStrokeLetsTheDocumentGo) {
    setUpCanvas();
    beginStroke();
    ASSERT_EQ(document->locksHeld, 1);
    controller->drawingController()->strokesViewModel()->closeStroke([] {});
    controller->canvasView()->draw();
    // The window's widgets go first; the stroke's completion is still pending.
    delete controller->view();
    settle();
    std::weak_ptr<TestDocument> weak = document;
    document = nullptr;
    chain->document = nullptr;
    controller = nullptr;
    settle();
    EXPECT_TRUE(weak.expired());
}

TEST_F(DrawingViewControllerTest, CanvasInfoFollowsZoomAndRotation) {
    setUpCanvas();
    controller->resetCanvasTransform(false);
    const auto& info = controller->titlebarViewController();
    EXPECT_EQ(info->canvasZoomLabel()->text(), "100%");
    controller->zoomCanvas(2);
    EXPECT_EQ(info->canvasZoomLabel()->text(), "200%");
    controller->rotateCanvas(-22.5);
    EXPECT_EQ(info->canvasRotationLabel()->text(), QString::fromUtf8("23°"));
}

TEST_F(DrawingViewControllerTest, AnImageDroppedOnTheCanvasIsCentredUnderThePointer) {
    QTemporaryDir folder;
    const std::string path = folder.filePath("Stamp.png").toStdString();
    velmora::test::writeFile(path, velmora::test::pngOf(*velmora::test::asymmetricPicture(4, 4)));
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
    // Sent as the window system sends them; y down, 16 points from the top.
    const auto drag = [&](Qt::DropActions allowed) {
        QDragEnterEvent enter(QPoint(16, 16), allowed, &files, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&controller->viewer(), &enter);
        QDropEvent drop(QPointF(16, 16), allowed, &files, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&controller->viewer(), &drop);
        MainQueue::runUntilIdle();
        return enter.isAccepted() && drop.isAccepted();
    };

    auto shown = std::make_shared<Document>();
    controller->setRepresentedObject(shown);
    // A drop chooses the move tool in the shared settings.
    const auto tool = DrawingSettings::shared().persistentTool();
    EXPECT_FALSE(drag(Qt::CopyAction)) << "no canvas, no drop handler";
    shown->setContent(canvas);
    setUpCanvas();
    EXPECT_FALSE(drag(Qt::MoveAction)) << "the source must allow a copy";
    ASSERT_EQ(canvas->immediateLayers().size(), 1u);
    ASSERT_TRUE(drag(Qt::CopyAction | Qt::MoveAction));

    ASSERT_EQ(canvas->immediateLayers().size(), 2u);
    const auto layer = canvas->activeLayer();
    EXPECT_EQ(layer->name(), "Stamp");
    // Fitted at 0.95 about the centre: view point (16, 48) is canvas (15.2, 48.8).
    const MTLRegion bounds = layer->boundingRect();
    EXPECT_EQ(bounds.origin.x, 13);
    EXPECT_EQ(bounds.origin.y, 46);
    EXPECT_EQ(bounds.size.width, 4);
    EXPECT_EQ(bounds.size.height, 4);
    DrawingSettings::shared().setPersistentTool(tool);
}

class CanvasEdgePopoverTest : public DrawingViewControllerTest {
protected:
    void SetUp() override {
        registerDocumentStoryboard();
        DrawingViewControllerTest::SetUp();
        // Room on every side of the view for the popover.
        controller->view()->move(300, 250);
        setUpCanvas();
    }
    bool shown() const {
        const auto& window = controller->popoverWindow();
        return window && window->isShown();
    }
    // Where the arrow points, in the viewer's points (y down): the 1 × 1
    // anchor's right side for maxX, its left side for minX.
    int anchorX() const {
        const auto& window = controller->popoverWindow();
        const QPoint tip = window->widget()->pos() + window->placement().arrowTip;
        return controller->viewer().mapFromGlobal(tip).x();
    }
};

TEST_F(CanvasEdgePopoverTest, OnePopoverPerEdgeUntilItTimesOut) {
    const auto& popover = controller->popoverViewController();
    EXPECT_DOUBLE_EQ(popover->timeout(), 3.0);
    popover->setTimeout(0.05);
    controller->presentPopover(NSRectEdge::maxX);
    ASSERT_TRUE(shown());
    const auto timer = popover->dismissTimer();
    ASSERT_NE(timer, nullptr);
    controller->presentPopover(NSRectEdge::maxX);
    EXPECT_EQ(popover->dismissTimer(), timer) << "the same edge again changes nothing";
    EXPECT_EQ(popover->presentingViewController(),
              std::static_pointer_cast<NSViewController>(controller));

    // A refused step at the other axis moves it and restarts the countdown.
    controller->presentPopover(NSRectEdge::minY);
    EXPECT_TRUE(shown());
    EXPECT_NE(popover->dismissTimer(), timer);
    EXPECT_EQ(controller->popoverCurrentEdge(), NSRectEdge::minY);
    EXPECT_EQ(controller->presentedViewControllers().size(), 1u);

    EXPECT_TRUE(MainQueue::runUntil([&] { return !shown(); }, std::chrono::seconds(5)));
    EXPECT_EQ(popover->presentingViewController(), nullptr);
    EXPECT_TRUE(controller->presentedViewControllers().empty());
    controller->presentPopover(NSRectEdge::minY);
    EXPECT_TRUE(shown()) << "the next refused step shows it again";
}

TEST_F(CanvasEdgePopoverTest, AnEdgeOffScreenPointsFromJustInsideTheView) {
    // Fitted at 0.95: the right edge's middle is 62.4 points from the left.
    controller->presentPopover(NSRectEdge::maxX);
    EXPECT_EQ(anchorX(), 62 + 1);
    controller->popoverWindow()->dismiss();
    controller->zoomCanvas(4);
    controller->presentPopover(NSRectEdge::maxX);
    EXPECT_EQ(anchorX(), (side - 1) + 1);
    controller->popoverWindow()->dismiss();
    controller->presentPopover(NSRectEdge::minX);
    EXPECT_EQ(anchorX(), 1);
}

TEST_F(CanvasEdgePopoverTest, APressOutsideOrADeactivationClosesItButADragKeepsItsRelease) {
    controller->presentPopover(NSRectEdge::minY);
    ASSERT_TRUE(shown());
    // Nothing grabs the pointer: the release of the drag that hit the limit
    // still reaches the canvas.
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
    EXPECT_TRUE(controller->popoverWindow()->widget()->windowFlags().testFlag(Qt::ToolTip));
    QTest::mouseRelease(&controller->viewer(), Qt::LeftButton, {}, QPoint(5, 5));
    QCoreApplication::processEvents();
    EXPECT_TRUE(shown()) << "a release is no press";

    QWidget elsewhere;
    elsewhere.resize(20, 20);
    elsewhere.show();
    QTest::mouseClick(&elsewhere, Qt::LeftButton, {}, QPoint(5, 5));
    QCoreApplication::processEvents();
    EXPECT_FALSE(shown());
    EXPECT_TRUE(controller->presentedViewControllers().empty());
    EXPECT_EQ(controller->popoverViewController()->dismissTimer(), nullptr);

    controller->presentPopover(NSRectEdge::minY);
    ASSERT_TRUE(shown()) << "shown again at the same edge once closed";
    QEvent deactivate(QEvent::ApplicationDeactivate);
    QCoreApplication::sendEvent(qApp, &deactivate);
    QCoreApplication::processEvents();
    EXPECT_FALSE(shown());
}

TEST_F(DrawingViewControllerTest, TheBrushShowsItsBezelsInTheWindow) {
    setUpCanvas();
    Viewer& viewer = controller->viewer();
    // Alt+Ctrl at the press edits the size: its bezel stays until the keys go.
    QTest::mousePress(&viewer, Qt::LeftButton, Qt::AltModifier | Qt::ControlModifier, {20, 20});
    const auto& size = *controller->brushSizeBezel();
    EXPECT_TRUE(size.window()->isVisible());
    EXPECT_EQ(size.text(), "Brush Size: 9 pixels.");
    EXPECT_EQ(size.dismissInterval(), std::nullopt);
    QTest::mouseRelease(&viewer, Qt::LeftButton, Qt::AltModifier | Qt::ControlModifier, {20, 20});
    QTest::keyRelease(&viewer, Qt::Key_Alt, Qt::ControlModifier);
    QTest::keyRelease(&viewer, Qt::Key_Control, Qt::NoModifier);
    // The fade-out, run to its end as the clock would.
    ASSERT_NE(size.currentAnimation(), nullptr);
    size.currentAnimation()->setCurrentTime(size.currentAnimation()->totalDuration());
    EXPECT_FALSE(size.isVisible());

    // A press on a group layer draws nothing and says why.
    const auto group = GroupLayer::make("Group");
    canvas->insertLayer(group, IndexPath{1});
    canvas->setActiveLayer(group);
    QTest::mouseClick(&viewer, Qt::LeftButton, {}, {20, 20});
    const auto& notice = *controller->dontDrawInGroupLayerNotification();
    EXPECT_TRUE(notice.window()->isVisible());
    EXPECT_EQ(notice.text(), "You cannot draw in a group layer, please select a raster layer.");
    EXPECT_EQ(notice.dismissInterval(), 2.0);
    EXPECT_EQ(document->locksMade, 0);
}

TEST_F(DrawingViewControllerTest, ANewCanvasIsFittedWhenTheViewReachesItsSizeLater) {
    DrawingWithMouse allowed;
    const struct {
        const char* name;
        std::function<void()> before;
        bool fitted;
    } cases[] = {
        {"the window grows", [] {}, true},
        {"a press first",
         [&] {
             QTest::mouseClick(&controller->viewer(), Qt::LeftButton);
             EXPECT_TRUE(finishStroke(*document->undoManager));
         },
         false},
        {"a zoom first", [&] { controller->tryToPerform("zoomIn:", nullptr); }, false},
    };
    for (const auto& c : cases) {
        controller->view()->resize(side, side);
        canvas = LayeredCanvas::make({side, side, 1});
        setUpCanvas();
        EXPECT_NEAR(scaleOf(controller->displayViewModel()->transform()), 0.95, 1e-9) << c.name;
        c.before();
        const auto before = controller->displayViewModel()->transform();
        // As a window maximised after it was shown.
        controller->view()->resize(4 * side, 2 * side);
        const auto after = controller->displayViewModel()->transform();
        if (!c.fitted) {
            EXPECT_EQ(after, before) << c.name;
        } else {
            EXPECT_NEAR(scaleOf(after), 0.95 * 2, 1e-9) << c.name;
            const CGPoint middle = controller->canvasPoint({2.0 * side, 1.0 * side});
            EXPECT_NEAR(middle.x, side / 2.0, 1e-6) << c.name;
            EXPECT_NEAR(middle.y, side / 2.0, 1e-6) << c.name;
        }
    }
}

TEST_F(DrawingViewControllerTest, AnOpenedCanvasDrawsInItsTopmostRasterLayer) {
    DrawingWithMouse allowed;
    const struct {
        const char* name;
        std::vector<std::string> layers; // bottom first; "G" is a group, "G/x" a layer in it
        std::string active;
    } cases[] = {
        {"a group on top", {"Background", "G", "G/Inside"}, "Inside"},
        {"an empty group alone", {"G"}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto made = LayeredCanvas::make({side, side, 1});
        made->removeLayer(IndexPath{0});
        int top = 0;
        for (const std::string& name : c.layers) {
            if (name == "G") {
                made->insertLayer(GroupLayer::make(name), IndexPath{top++});
            } else if (name.starts_with("G/")) {
                made->insertLayer(RasterLayer::make(name.substr(2)), IndexPath{top - 1, 0});
            } else {
                made->insertLayer(RasterLayer::make(name), IndexPath{top++});
            }
        }
        // As a document reads its canvas: no layer is active.
        const auto read =
            JSONDecoder().decode<std::shared_ptr<LayeredCanvas>>(JSONEncoder().encode(made));
        ASSERT_EQ(read->activeLayer(), nullptr);
        auto document = std::make_shared<Document>();
        controller->setRepresentedObject(document);
        document->setContent(read);
        // As the document window shows it.
        controller->setUpCanvas(read, document, document->NSDocument::undoManager(), document);
        MainQueue::runUntilIdle();
        const auto active = read->activeLayer();
        EXPECT_EQ(active ? active->name() : "", c.active);
        EXPECT_EQ(controller->drawingController()->currentRenderedLayer() != nullptr,
                  !c.active.empty());
        EXPECT_FALSE(document->undoManager()->canUndo());
        EXPECT_FALSE(document->isDocumentEdited());

        QTest::mouseClick(&controller->viewer(), Qt::LeftButton, {}, {20, 20});
        const auto& notice = *controller->dontDrawInGroupLayerNotification();
        if (c.active.empty()) {
            EXPECT_TRUE(notice.window()->isVisible()) << "a press says why nothing is drawn";
            EXPECT_EQ(notice.text(), DrawingToolResponder::groupLayerText);
            EXPECT_EQ(controller->drawingController()->strokesViewModel()->front(), nullptr);
        } else {
            ASSERT_TRUE(finishStroke(*document->undoManager()));
            EXPECT_EQ(document->undoManager()->undoActionName(), "Stroke");
            EXPECT_NE(active->boundingRect().size.width, 0);
        }
        controller->setRepresentedObject(nullptr);
    }
}

TEST_F(DrawingViewControllerTest, KeysLetGoBeforeTheButtonEndTheBrushSizeEdit) {
    setUpCanvas();
    const auto& bezel = *controller->brushSizeBezel();
    key(QEvent::KeyPress, Qt::Key_Control, Qt::ControlModifier);
    key(QEvent::KeyPress, Qt::Key_Alt, Qt::ControlModifier | Qt::AltModifier);
    const auto editing = Qt::ControlModifier | Qt::AltModifier;
    mouse(QEvent::MouseButtonPress, {20, 20}, Qt::LeftButton, Qt::LeftButton, editing);
    mouse(QEvent::MouseMove, {30, 20}, Qt::NoButton, Qt::LeftButton, editing);
    const float edited = settings.settings.liveBrush().size;
    EXPECT_GT(edited, 9) << "the drag to the right grows the brush";
    EXPECT_TRUE(bezel.window()->isVisible());

    // The keys go up while the button is still held.
    key(QEvent::KeyRelease, Qt::Key_Alt, editing);
    key(QEvent::KeyRelease, Qt::Key_Control, Qt::ControlModifier);
    mouse(QEvent::MouseMove, {50, 20}, Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(settings.settings.liveBrush().size, edited) << "the edit ended with the keys";
    ASSERT_NE(bezel.currentAnimation(), nullptr);
    bezel.currentAnimation()->setCurrentTime(bezel.currentAnimation()->totalDuration());
    EXPECT_FALSE(bezel.isVisible()) << "the size is no longer shown";
    mouse(QEvent::MouseButtonRelease, {50, 20}, Qt::LeftButton, Qt::NoButton);
    EXPECT_FALSE(bezel.isVisible());
    EXPECT_EQ(controller->drawingController()->strokesViewModel()->front(), nullptr)
        << "the press drew nothing";
}

TEST_F(DrawingViewControllerTest, AMouseStrokeOfOneMoveEndsWhereItWasReleased) {
    DrawingWithMouse allowed;
    controller->view()->resize(480, 120);
    canvas = LayeredCanvas::make({480, 120, 1});
    setUpCanvas();
    mouse(QEvent::MouseButtonPress, {40, 60}, Qt::LeftButton, Qt::LeftButton);
    mouse(QEvent::MouseMove, {440, 60}, Qt::NoButton, Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, {440, 60}, Qt::LeftButton, Qt::NoButton);
    ASSERT_TRUE(finishStroke(*document->undoManager));
    const auto flat = controller->drawingController()->bitmap();
    ASSERT_NE(flat, nullptr);
    // Painted: the brush's red over the white backdrop.
    const auto paintedAt = [&](double viewX) {
        const CGPoint p = controller->canvasPoint({viewX, 60});
        const auto row = flat->pixelsHigh() - 1 - int64_t(p.y);
        return flat->row(row)[4 * int64_t(p.x) + 1] < 200;
    };
    EXPECT_TRUE(paintedAt(40)) << "the press";
    EXPECT_TRUE(paintedAt(240)) << "the way";
    EXPECT_TRUE(paintedAt(440)) << "the release";
}

TEST_F(DrawingViewControllerTest, AStrokeOfMovesDeliveredAtOnceStartsAtItsPressAndPassesEach) {
    DrawingWithMouse allowed;
    controller->view()->resize(480, 120);
    std::vector<QPointF> arc;
    for (int i = 1; i <= 10; ++i) {
        arc.emplace_back(40 + 40 * i, 60 - 30 * std::sin(M_PI * i / 10));
    }
    const struct {
        const char* name;
        std::vector<QPointF> moves;
    } bursts[] = {{"one move of 400 points", {{440, 60}}}, {"ten moves along an arc", arc}};
    for (const uint64_t stabilization : {uint64_t(0), uint64_t(2), uint64_t(4)}) {
        for (const auto& burst : bursts) {
            SCOPED_TRACE(std::string(burst.name) + ", stabilisation " +
                         std::to_string(stabilization));
            Brush brush = settings.settings.liveBrush();
            brush.size = 12;
            brush.hardness = 1;
            brush.stabilization = stabilization;
            settings.settings.setBaseBrush(brush);
            canvas = LayeredCanvas::make({480, 120, 1});
            setUpCanvas();
            document->undoManager->removeAllActions();
            LogCapture logs;
            // Press, moves and release reach the canvas before any sample is handed back.
            const QPointF press{40, 60};
            mouse(QEvent::MouseButtonPress, press, Qt::LeftButton, Qt::LeftButton);
            for (const QPointF& p : burst.moves) {
                mouse(QEvent::MouseMove, p, Qt::NoButton, Qt::LeftButton);
            }
            mouse(QEvent::MouseButtonRelease, burst.moves.back(), Qt::LeftButton, Qt::NoButton);
            ASSERT_TRUE(finishStroke(*document->undoManager));

            // Canvas pixels under a point of the view, whose y goes down.
            const auto under = [&](QPointF view) {
                return controller->canvasPoint({view.x(), controller->view()->height() - view.y()});
            };
            const CGPoint start = under(press);
            const auto messages = logs.messages("User Actions");
            const auto started = std::ranges::find_if(messages, [](const std::string& m) {
                return m.starts_with("Starting stroke at ");
            });
            ASSERT_NE(started, messages.end());
            EXPECT_TRUE(started->starts_with("Starting stroke at " +
                                             std::to_string(int64_t(start.x)) + "x" +
                                             std::to_string(int64_t(start.y)) + ":"))
                << *started;
            const auto flat = controller->drawingController()->bitmap();
            ASSERT_NE(flat, nullptr);
            const auto paintedAt = [&](QPointF view) {
                const CGPoint p = under(view);
                const auto row = flat->pixelsHigh() - 1 - int64_t(p.y);
                return flat->row(row)[4 * int64_t(p.x) + 1] < 200;
            };
            EXPECT_TRUE(paintedAt(press)) << "the press";
            for (const QPointF& p : burst.moves) {
                EXPECT_TRUE(paintedAt(p)) << "the move to " << p.x() << ", " << p.y();
            }
        }
    }
}
