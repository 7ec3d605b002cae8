#include "Document/Viewers/DrawingViewController.hpp"

#include "App/DrawWithMouseWindowController.hpp"
#include "Canvas/GroupLayer.hpp"
#include "Canvas/RasterLayer.hpp"
#include "Document/Document.hpp"
#include "Extensions/NSRectEdgeExtensions.hpp"
#include "desktop/NSMenuItem.hpp"
#include "desktop/NSStoryboard.hpp"
#include "desktop/NSWindow.hpp"
#include "foundation/DispatchQueue.hpp"
#include "foundation/FatalError.hpp"

#include <QEvent>
#include <algorithm>

namespace velmora {

namespace {

constexpr CGFloat squareRootOfTwo = 1.4142135623730951;
constexpr CGFloat halfSquareRootOfTwo = 0.7071067811865475;

// Tells the controller of each new size of its view and of each press into it.
class ViewWatcher : public QObject {
public:
    ViewWatcher(QWidget* view, std::weak_ptr<DrawingViewController> controller)
        : QObject(view), controller_(std::move(controller)) {
        view->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const auto controller = controller_.lock();
        switch (controller != nullptr ? event->type() : QEvent::None) {
        case QEvent::Resize:
            // Ahead of the view's own handler, which sizes the drawable.
            static_cast<Viewer*>(watched)->updateViewGeometry();
            controller->viewDidLayout();
            break;
        case QEvent::MouseButtonPress:
        case QEvent::TabletPress:
            controller->viewWillTakePress();
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::weak_ptr<DrawingViewController> controller_;
};

// The top-most raster layer as the Layers panel lists the tree, groups opened.
std::shared_ptr<Layer> topmostRasterLayer(const LayerContainer& container) {
    const auto& layers = container.immediateLayers();
    for (auto layer = layers.rbegin(); layer != layers.rend(); ++layer) {
        if (std::dynamic_pointer_cast<RasterLayer>(*layer) != nullptr) {
            return *layer;
        }
        if (const auto group = std::dynamic_pointer_cast<GroupLayer>(*layer)) {
            if (auto inside = topmostRasterLayer(*group)) {
                return inside;
            }
        }
    }
    return nullptr;
}

} // namespace

DrawingViewController::DrawingViewController(DrawingSettings& settings) : settings_(settings) {
    setAction("resetCanvasTransform:", [this](NSObject*) { resetCanvasTransform(false); });
    setAction("resetCanvasTransformAndFit:", [this](NSObject*) { resetCanvasTransform(true); });
    setAction("rotateClockwise:", [this](NSObject*) { rotateCanvas(-22.5); });
    setAction("rotateCounterClockwise:", [this](NSObject*) { rotateCanvas(22.5); });
    setAction("zoomIn:", [this](NSObject*) { zoomCanvas(squareRootOfTwo); });
    setAction("zoomOut:", [this](NSObject*) { zoomCanvas(halfSquareRootOfTwo); });
    setAction("selectTool:", [this](NSObject* sender) {
        // Only an item that carries an identifier names a tool.
        const auto* item = dynamic_cast<const NSMenuItem*>(sender);
        if (item != nullptr && !item->identifier().empty()) {
            selectTool(item->identifier());
        }
    });
}

DrawingViewController::~DrawingViewController() {
    if (popoverWindow_) {
        popoverWindow_->didCloseHandler = nullptr;
        popoverWindow_->dismiss();
    }
    // Scopes first: they hold the renderer the controller owns.
    liveScopes_.clear();
    drawingController_ = nullptr;
    gesturesProvider_ = nullptr;
}

std::shared_ptr<DrawingViewController> DrawingViewController::self() {
    return sharedAs<DrawingViewController>();
}

void DrawingViewController::loadView() {
    auto* viewer = new Viewer(Viewer::Origin::layout);
    metalView_ = viewer->view();
    setView(viewer);
    new ViewWatcher(viewer, weakAs<DrawingViewController>());
}

Viewer& DrawingViewController::viewer() {
    auto* viewer = dynamic_cast<Viewer*>(view());
    if (viewer == nullptr) {
        fatalError("The canvas tab's view is not a canvas view");
    }
    return *viewer;
}

void DrawingViewController::viewDidLoad() {
    NSViewController::viewDidLoad();
    updateActiveToolResponder();
    viewer().setViewerDelegate(self());
    settings_.delegates += std::static_pointer_cast<DrawingSettingsDelegate>(self());
    displayViewModel_->delegates += std::static_pointer_cast<DisplayViewModelDelegate>(self());
}

std::shared_ptr<UndoManager> DrawingViewController::undoManager() {
    return NSViewController::undoManager();
}

void DrawingViewController::setUpCanvas(const std::shared_ptr<LayeredCanvas>& canvas,
                                        const std::shared_ptr<UndoLockable>& undoLockable,
                                        const std::shared_ptr<UndoManager>& undoManager,
                                        const std::shared_ptr<BitmapReceiver>& bitmapReceiver) {
    Viewer& view = viewer();
    const auto previous = drawingController_;
    drawingController_ =
        DrawingController::setUp(previous, metalView_, displayViewModel_, canvas, undoLockable,
                                 undoManager, bitmapReceiver, settings_);
    if (drawingController_ == previous) {
        return;
    }
    // A decoded canvas has no active layer, and strokes need one. Not an edit:
    // nothing to undo, the document stays as it was read.
    if (canvas->activeLayer() == nullptr) {
        if (const auto layer = topmostRasterLayer(*canvas)) {
            canvas->setActiveLayer(layer);
        }
    }
    if (moveToolResponder_ != nullptr) {
        moveToolResponder_->canvasDidChange();
    }
    // A new canvas at an unchanged zoom has a new size to show.
    updateCanvasInfo();
    // Gestures under way held the old renderer.
    liveScopes_.clear();
    metalView_->setClearColor(view.backgroundClearColor());
    drawingController_->setDelegate(self());
    metalView_->setNeedsDisplay(true);
    newCanvasFit_ = Fit{std::nullopt, {}};
    // Once the window has laid the view out.
    DispatchQueue::main().async([weak = std::weak_ptr<DrawingViewController>(self())] {
        if (const auto controller = weak.lock()) {
            controller->fitNewCanvas();
        }
    });
}

void DrawingViewController::viewDidLayout() {
    metalView_->setNeedsDisplay(true);
    fitNewCanvas();
}

void DrawingViewController::fitNewCanvas() {
    if (!newCanvasFit_) {
        return;
    }
    // The user zoomed, turned or panned since: their view stays.
    if (newCanvasFit_->transform && *newCanvasFit_->transform != displayViewModel_->transform()) {
        newCanvasFit_.reset();
        return;
    }
    const CGSize size = metalView_->boundsSize();
    if (size.width <= 0 || size.height <= 0 ||
        (newCanvasFit_->transform && newCanvasFit_->size == size)) {
        return;
    }
    if (resetCanvasTransform(true)) {
        newCanvasFit_ = Fit{displayViewModel_->transform(), size};
    }
}

CGSize DrawingViewController::pointsToPixels() {
    const CGSize bounds = metalView_->boundsSize(), drawable = metalView_->drawableSize();
    return {bounds.width > 0 ? drawable.width / bounds.width : 1,
            bounds.height > 0 ? drawable.height / bounds.height : 1};
}

CGPoint DrawingViewController::canvasPoint(CGPoint viewPoint) {
    const CGSize scale = pointsToPixels();
    const CGPoint pixels{viewPoint.x * scale.width, viewPoint.y * scale.height};
    return displayViewModel_->transform().inverted().apply(pixels);
}

std::optional<CGAffineTransform> DrawingViewController::resetCanvasTransform(bool fit) {
    if (drawingController_ == nullptr) {
        return std::nullopt;
    }
    const CGSize bounds = metalView_->boundsSize(), scale = pointsToPixels();
    const MTLSize resolution = drawingController_->canvasResolution();
    const CGAffineTransform replaced = displayViewModel_->resetTransform(
        {bounds.width * scale.width, bounds.height * scale.height},
        {CGFloat(resolution.width), CGFloat(resolution.height)}, fit);
    metalView_->setNeedsDisplay(true);
    return replaced;
}

void DrawingViewController::rotateCanvas(CGFloat degrees) {
    const CGSize bounds = metalView_->boundsSize();
    displayViewModel_->rotate(degrees, canvasPoint({bounds.width / 2, bounds.height / 2}), true);
    metalView_->setNeedsDisplay(true);
}

void DrawingViewController::zoomCanvas(CGFloat factor) {
    const CGSize bounds = metalView_->boundsSize();
    displayViewModel_->magnify(factor, canvasPoint({bounds.width / 2, bounds.height / 2}), true);
    metalView_->setNeedsDisplay(true);
}

void DrawingViewController::selectTool(const std::optional<std::string>& identifier) {
    if (!identifier) {
        return;
    }
    if (*identifier == "moveTool") {
        settings_.setPersistentTool(DrawingTool::move);
    } else if (*identifier == "brushTool") {
        settings_.setPersistentTool(DrawingTool::brush);
    } else if (*identifier == "eraserTool") {
        settings_.setPersistentTool(DrawingTool::eraser);
    } else {
        fatalError("Unknown identifier: " + *identifier);
    }
}

bool DrawingViewController::validateItem(std::string_view identifier) {
    if (!identifier.ends_with("Tool")) {
        return true;
    }
    // Tools are not switched while a stroke or a drag holds an undo lock.
    return undoManager() != nullptr;
}

bool DrawingViewController::validateMenuItem(const NSMenuItem& item) {
    return validateItem(item.identifier());
}

void DrawingViewController::drawingSettingsDidUpdateActiveTool(DrawingSettings&, DrawingTool) {
    updateActiveToolResponder();
}

void DrawingViewController::updateActiveToolResponder() {
    if (settings_.currentTool() == DrawingTool::move) {
        if (moveToolResponder_ == nullptr) {
            moveToolResponder_ = MoveToolResponder::make(self());
        }
        activeCommonToolResponder_ = moveToolResponder_;
    } else {
        if (drawingToolResponder_ == nullptr) {
            drawingToolResponder_ = DrawingToolResponder::make(self(), settings_);
        }
        activeCommonToolResponder_ = drawingToolResponder_;
    }
    Viewer& view = viewer();
    view.setToolResponder(activeCommonToolResponder_);
    gesturesProvider_ = nullptr;
    gesturesProvider_ = GesturesProvider::make(view, activeCommonToolResponder_, self());
    updateViewerCursor();
}

void DrawingViewController::updateViewerCursor() {
    viewer().refreshCursor();
}

void DrawingViewController::zoom(CGFloat factor, CGPoint at, GesturePhase phase) {
    displayViewModel_->magnify(factor, canvasPoint(at), phase == GesturePhase::ended);
    updateLiveScope("Magnify", phase);
}

void DrawingViewController::rotate(CGFloat degrees, CGPoint at, GesturePhase phase) {
    displayViewModel_->rotate(degrees, canvasPoint(at), phase == GesturePhase::ended);
    updateLiveScope("Rotate", phase);
}

void DrawingViewController::updateLiveScope(const std::string& name, GesturePhase phase) {
    // A gesture before any canvas has no renderer to keep running.
    const auto renderer = drawingController_ ? drawingController_->renderer() : nullptr;
    switch (phase) {
    case GesturePhase::began:
        if (renderer != nullptr) {
            liveScopes_[name] = renderer->makeLiveScope();
        }
        break;
    case GesturePhase::changed:
        break;
    case GesturePhase::ended:
        liveScopes_.erase(name);
        break;
    case GesturePhase::none:
        if (renderer != nullptr) {
            renderer->needsDisplay();
        }
        break;
    }
}

NSDragOperation DrawingViewController::viewerDraggingEntered(Viewer&, const NSDraggingInfo& info) {
    const auto document = representedDocument();
    if (document == nullptr || document->imageDropHandler() == nullptr ||
        !contains(info.draggingSourceOperationMask(), NSDragOperation::copy)) {
        return NSDragOperation::none;
    }
    return NSDragOperation::copy;
}

bool DrawingViewController::viewerPerformDragOperation(Viewer& viewer, const NSDraggingInfo& info) {
    const auto document = representedDocument();
    const auto handler = document ? document->imageDropHandler() : nullptr;
    if (handler == nullptr) {
        return false;
    }
    return handler->performDrop(info, std::nullopt, canvasPoint(info.location(viewer)));
}

std::shared_ptr<Document> DrawingViewController::representedDocument() const {
    return std::dynamic_pointer_cast<Document>(representedObject());
}

const std::shared_ptr<CanvasInfoTitlebarViewController>&
DrawingViewController::titlebarViewController() {
    if (titlebarViewController_ == nullptr) {
        titlebarViewController_ = std::make_shared<CanvasInfoTitlebarViewController>();
        titlebarViewController_->setCanvasInfoDataSource(self());
        titlebarViewController_->loadViewIfNeeded();
    }
    return titlebarViewController_;
}

void DrawingViewController::updateCanvasInfo() {
    titlebarViewController()->update();
}

void DrawingViewController::viewDidAppear() {
    NSViewController::viewDidAppear();
    const auto shownIn = window();
    if (shownIn == nullptr) {
        return;
    }
    auto& center = NotificationCenter::defaultCenter();
    const auto weak = weakAs<DrawingViewController>();
    windowObservations_ = {
        center.addObserver(std::string(NSWindow::didEnterVersionBrowserNotification), shownIn.get(),
                           DispatchQueue::main(),
                           [weak](const Notification&) {
                               if (const auto self = weak.lock()) {
                                   self->windowDidEnterVersionBrowser();
                               }
                           }),
        center.addObserver(std::string(NSWindow::didExitVersionBrowserNotification), shownIn.get(),
                           DispatchQueue::main(),
                           [weak](const Notification&) {
                               if (const auto self = weak.lock()) {
                                   self->windowDidExitVersionBrowser();
                               }
                           }),
    };
    const auto& titlebar = titlebarViewController();
    const auto& present = shownIn->titlebarAccessoryViewControllers();
    if (std::find(present.begin(), present.end(), titlebar) == present.end()) {
        shownIn->addTitlebarAccessoryViewController(titlebar);
    }
}

const std::shared_ptr<AutoDismissViewController>& DrawingViewController::popoverViewController() {
    if (popoverViewController_ == nullptr) {
        popoverViewController_ = NSStoryboard::instantiateController<AutoDismissViewController>(
            "Document", "maximumLayerSizeReachedPopover");
    }
    return popoverViewController_;
}

void DrawingViewController::presentPopover(NSRectEdge edge) {
    const auto& popover = popoverViewController();
    if (popoverWindow_ && popoverWindow_->isShown() && popoverCurrentEdge_ == edge) {
        return;
    }
    if (const auto presenting = popover->presentingViewController()) {
        presenting->dismissViewController(popover);
    }
    const auto canvas = drawingController_ ? drawingController_->canvas() : nullptr;
    if (canvas == nullptr) {
        return;
    }
    const MTLSize size = canvas->size();
    const CGPoint unit = normalizedPosition(edge);
    const CGPoint pixels = displayViewModel_->transform().apply(
        CGPoint{unit.x * CGFloat(size.width), unit.y * CGFloat(size.height)});
    const CGSize scale = pointsToPixels(), bounds = metalView_->boundsSize();
    // An edge scrolled off screen points from just inside the view's border.
    const CGPoint anchor{
        std::clamp(pixels.x / scale.width, CGFloat(1), std::max(CGFloat(1), bounds.width - 1)),
        std::clamp(pixels.y / scale.height, CGFloat(1), std::max(CGFloat(1), bounds.height - 1))};
    presentAsPopover(popover, {anchor, {1, 1}}, edge);
    popoverCurrentEdge_ = edge;
}

void DrawingViewController::presentAsPopover(const std::shared_ptr<NSViewController>& controller,
                                             CGRect rect, NSRectEdge edge) {
    if (popoverWindow_ == nullptr) {
        popoverWindow_ = PopoverWindow::make();
    }
    // A popover that closed by itself (a press outside) is no longer presented.
    popoverWindow_->didCloseHandler = [weakSelf = std::weak_ptr<DrawingViewController>(self()),
                                       weakShown = std::weak_ptr<NSViewController>(controller)] {
        const auto shown = weakShown.lock();
        if (const auto presenter = weakSelf.lock(); presenter && shown) {
            presenter->dismissViewController(shown);
        }
    };
    recordPresentation(controller, [weakWindow = std::weak_ptr<PopoverWindow>(popoverWindow_)] {
        if (const auto window = weakWindow.lock()) {
            window->dismiss();
        }
    });
    popoverWindow_->show(controller, rect, &viewer(), edge);
}

void DrawingViewController::showDontDrawInGroupLayerNotification(const std::string& text) {
    dontDrawInGroupLayerNotification_->setText(text);
    dontDrawInGroupLayerNotification_->show();
}

void DrawingViewController::showBrushSizeBezel(const NSAttributedString& text) {
    brushSizeBezel_->setAttributedString(text);
    brushSizeBezel_->show();
}

void DrawingViewController::dismissBrushSizeBezel() {
    brushSizeBezel_->dismiss();
}

void DrawingViewController::showDrawWithMouseWarningIfNotDisabled() {
    DrawWithMouseWindowController::showIfNotDisabled();
}

void DrawingViewController::windowDidEnterVersionBrowser() {
    transformOutsideVersionBrowser_ = resetCanvasTransform(true);
}

void DrawingViewController::windowDidExitVersionBrowser() {
    if (transformOutsideVersionBrowser_) {
        // A canvas restored while browsing is not fitted when it is due, after
        // this: the view of before browsing stays.
        newCanvasFit_.reset();
        displayViewModel_->restoreTransform(*transformOutsideVersionBrowser_);
        metalView_->setNeedsDisplay(true);
    }
}

} // namespace velmora
