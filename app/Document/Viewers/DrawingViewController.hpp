#pragma once

#include "BezelNotification/BezelNotification.hpp"
#include "CursorPreview/CursorPreviewController.hpp"
#include "Document/Viewers/CanvasInfoTitlebarViewController.hpp"
#include "Document/Viewers/DrawingController.hpp"
#include "Document/Viewers/GesturesProvider.hpp"
#include "Document/Viewers/Viewer.hpp"
#include "Popover/AutoDismissViewController.hpp"
#include "Popover/PopoverWindow.hpp"
#include "Rendering/DisplayViewModel.hpp"
#include "Rendering/DrawingSettings.hpp"
#include "ToolResponders/CommonToolResponder.hpp"
#include "ToolResponders/DrawingToolResponder.hpp"
#include "ToolResponders/MoveToolResponder.hpp"
#include "desktop/NSViewController.hpp"
#include "desktop/NotificationCenter.hpp"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// The canvas tab of a document window: its view is the canvas view. Owns the
// window's display transform, the tool responders and the gestures provider,
// and the drawing controller of the canvas shown; carries the canvas commands
// (reset and fit, rotate, zoom, tool selection) and turns gestures into
// display changes, drawing continuously while one lasts. Main thread only.
class DrawingViewController : public NSViewController,
                              public DrawingSettingsDelegate,
                              public DisplayViewModelDelegate,
                              public GesturesProviderDelegate,
                              public ViewerDelegate,
                              public DrawingControllerDelegate,
                              public DrawingToolResponderDelegate,
                              public MoveToolResponderDelegate,
                              public CanvasInfoDataSource {
public:
    explicit DrawingViewController(DrawingSettings& settings = DrawingSettings::shared());
    ~DrawingViewController() override;

    // The canvas view, made as the window's layout makes it.
    void loadView() override;
    void viewDidLoad() override;
    Viewer& viewer();

    std::shared_ptr<DisplayViewModel> displayViewModel() const override {
        return displayViewModel_;
    }
    std::shared_ptr<DrawingController> drawingController() const override {
        return drawingController_;
    }
    const std::shared_ptr<GesturesProvider>& gesturesProvider() const { return gesturesProvider_; }
    const std::shared_ptr<CommonToolResponder>& activeCommonToolResponder() const {
        return activeCommonToolResponder_;
    }
    bool hasLiveScope(const std::string& name) const { return liveScopes_.contains(name); }

    // Shows the canvas: a new drawing controller on a new renderer, unless the
    // canvas is shown already; then fits it, a main-queue turn later and again
    // at each new size of the view until the user first works in it (a window's
    // maximising comes after). A canvas shown without an active layer gets its
    // top-most raster layer as the active one.
    void setUpCanvas(const std::shared_ptr<LayeredCanvas>& canvas,
                     const std::shared_ptr<UndoLockable>& undoLockable,
                     const std::shared_ptr<UndoManager>& undoManager,
                     const std::shared_ptr<BitmapReceiver>& bitmapReceiver);

    // Menu commands, also reachable as responder actions by their selectors.
    // The reset answers the transform it replaced; none without a canvas.
    std::optional<CGAffineTransform> resetCanvasTransform(bool fit);
    void rotateCanvas(CGFloat degrees);
    void zoomCanvas(CGFloat factor);
    // "moveTool", "brushTool" or "eraserTool"; none does nothing and any other
    // identifier stops the program.
    void selectTool(const std::optional<std::string>& identifier);
    // An item that is no tool is enabled; a tool item only while an undo
    // manager can be reached (none while an undo lock is held).
    bool validateItem(std::string_view identifier);
    bool validateMenuItem(const NSMenuItem& item) override;

    // The tool in force is the view's responder and the gestures' scroll source.
    void updateActiveToolResponder();
    // The tool's cursor changed.
    void updateViewerCursor() override;

    // DrawingToolResponderDelegate.
    CGFloat backingScaleFactor() override { return viewer().devicePixelRatioF(); }
    void showDontDrawInGroupLayerNotification(const std::string& text) override;
    void showBrushSizeBezel(const NSAttributedString& text) override;
    void dismissBrushSizeBezel() override;
    void showDrawWithMouseWarningIfNotDisabled() override;
    void setCursorPreviewCursor(const std::shared_ptr<NSCursor>& cursor) override {
        cursorPreview().setCursor(cursor);
    }
    void showCursorPreview() override {
        cursorPreview().showWindow();
        cursorPreview().followMouse();
    }
    void closeCursorPreview() override { cursorPreview().close(); }
    // MoveToolResponderDelegate: the popover saying the layer cannot grow,
    // pointing from the middle of that canvas edge (or from the nearest point
    // inside the view when the edge is off screen). Shown once per edge while
    // it stays up.
    void presentPopover(NSRectEdge edge) override;
    // From storyboard "Document", "maximumLayerSizeReachedPopover", made on first use.
    const std::shared_ptr<AutoDismissViewController>& popoverViewController();
    std::optional<NSRectEdge> popoverCurrentEdge() const { return popoverCurrentEdge_; }
    const std::shared_ptr<PopoverWindow>& popoverWindow() const { return popoverWindow_; }
    // Dismisses itself 2 seconds after it faded in.
    const std::shared_ptr<BezelNotification>& dontDrawInGroupLayerNotification() const {
        return dontDrawInGroupLayerNotification_;
    }
    // Stays while the size is edited.
    const std::shared_ptr<BezelNotification>& brushSizeBezel() const { return brushSizeBezel_; }

    // The view has a new size.
    void viewDidLayout();
    // A press in the view: a new canvas is no longer fitted to the view's size.
    void viewWillTakePress() { newCanvasFit_.reset(); }

    // From view points to canvas pixels through the display transform.
    CGPoint canvasPoint(CGPoint viewPoint);

    // NSResponder, CommonToolResponderDelegate.
    std::shared_ptr<UndoManager> undoManager() override;

    // DrawingSettingsDelegate.
    void drawingSettingsWillChangeActiveBrush(DrawingSettings&, const Brush&) override {}
    void drawingSettingsDidChangeActiveBrush(DrawingSettings&, const Brush&) override {}
    void drawingSettingsDidUpdateActiveTool(DrawingSettings&, DrawingTool) override;

    // DisplayViewModelDelegate: the canvas information comes with the tools.
    void displayViewModelDidUpdateZoom(DisplayViewModel&, CGFloat) override { updateCanvasInfo(); }
    void displayViewModelDidUpdateRotation(DisplayViewModel&, CGFloat) override {
        updateCanvasInfo();
    }

    // CanvasInfoDataSource.
    std::shared_ptr<Document> representedDocument() const override;
    // The canvas information at the status bar's right end, made on first use.
    const std::shared_ptr<CanvasInfoTitlebarViewController>& titlebarViewController();
    void updateCanvasInfo();
    // Also follows its window into and out of the versions browser.
    void viewDidAppear() override;

    // The versions browser: the canvas is fitted while it is open and shown
    // again exactly as it was when it closes, a version restored meanwhile too.
    void windowDidEnterVersionBrowser();
    void windowDidExitVersionBrowser();
    const std::optional<CGAffineTransform>& transformOutsideVersionBrowser() const {
        return transformOutsideVersionBrowser_;
    }

    // GesturesProviderDelegate.
    void zoom(CGFloat factor, CGPoint at, GesturePhase phase) override;
    void rotate(CGFloat degrees, CGPoint at, GesturePhase phase) override;
    void updateLiveScope(const std::string& name, GesturePhase phase) override;

    // ViewerDelegate: dropped images become layers through the document's drop
    // handler, centred on the canvas pixel under the pointer.
    NSDragOperation viewerDraggingEntered(Viewer&, const NSDraggingInfo&) override;
    bool viewerPerformDragOperation(Viewer&, const NSDraggingInfo&) override;

    // DrawingControllerDelegate.
    std::shared_ptr<MTKView> canvasView() override { return metalView_; }

private:
    // The fit of a newly shown canvas: the transform it made at that view size.
    struct Fit {
        std::optional<CGAffineTransform> transform;
        CGSize size;
    };
    void fitNewCanvas();
    CGSize pointsToPixels();
    void presentAsPopover(const std::shared_ptr<NSViewController>& controller, CGRect rect,
                          NSRectEdge edge);
    std::shared_ptr<DrawingViewController> self();
    // The floating brush cursor while the brush size is edited, made on first use.
    CursorPreviewController& cursorPreview() {
        if (!cursorPreviewController_) {
            cursorPreviewController_ = CursorPreviewController::instantiate();
        }
        return *cursorPreviewController_;
    }

    DrawingSettings& settings_;
    std::shared_ptr<DisplayViewModel> displayViewModel_ = std::make_shared<DisplayViewModel>();
    // Kept past the view's widget, so a renderer finishing a stroke after the
    // window closed still finds its view.
    std::shared_ptr<MTKView> metalView_;
    std::shared_ptr<GesturesProvider> gesturesProvider_;
    std::shared_ptr<DrawingController> drawingController_;
    std::map<std::string, std::shared_ptr<Renderer::LiveScope>> liveScopes_;
    std::shared_ptr<CommonToolResponder> activeCommonToolResponder_;
    std::shared_ptr<DrawingToolResponder> drawingToolResponder_;
    std::shared_ptr<MoveToolResponder> moveToolResponder_;
    std::shared_ptr<CanvasInfoTitlebarViewController> titlebarViewController_;
    std::shared_ptr<AutoDismissViewController> popoverViewController_;
    std::optional<NSRectEdge> popoverCurrentEdge_;
    std::shared_ptr<BezelNotification> dontDrawInGroupLayerNotification_ =
        std::make_shared<BezelNotification>(NSAttributedString(), 2.0);
    std::shared_ptr<BezelNotification> brushSizeBezel_ =
        std::make_shared<BezelNotification>(NSAttributedString());
    std::shared_ptr<PopoverWindow> popoverWindow_;
    std::vector<NotificationCenter::ObserverToken> windowObservations_;
    std::optional<CGAffineTransform> transformOutsideVersionBrowser_;
    std::shared_ptr<CursorPreviewController> cursorPreviewController_;
    // From a canvas set-up until a press, or a change of the transform by the user.
    std::optional<Fit> newCanvasFit_;
};

} // namespace velmora
