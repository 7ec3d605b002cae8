#pragma once

#include "desktop/NSDraggingInfo.hpp"
#include "desktop/NSEvent.hpp"
#include "gpu/MTKView.hpp"

#include <QImage>
#include <QWidget>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace velmora {

// The window of a GPU view: shows the last presented drawable pixel for pixel
// in device pixels, keeps the view's bounds (points), drawable size (bounds ×
// devicePixelRatioF()) and frame rate (the screen's refresh) up to date, and
// hands its input to the overridable handlers below as platform events.
// Tablet events are taken here, so Qt makes no pointer events from them.
class MTKViewHostWidget : public QWidget {
    Q_OBJECT

public:
    explicit MTKViewHostWidget(std::shared_ptr<MTKView> view, QWidget* parent = nullptr);
    ~MTKViewHostWidget() override;

    const std::shared_ptr<MTKView>& view() const { return view_; }

    // The drawable on screen, none before the first frame.
    std::shared_ptr<CAMetalDrawable> shownDrawable() const { return shown_; }

    // Called after each painted frame with its drawable number and the time
    // its painting ended.
    using FramePaintedHook =
        std::function<void(uint64_t drawableID, std::chrono::steady_clock::time_point painted)>;
    void setFramePaintedHook(FramePaintedHook hook) { framePainted_ = std::move(hook); }

    // Drags offering none of these types are refused before the handlers are asked.
    void registerForDraggedTypes(std::vector<NSPasteboardType> types);
    const std::vector<NSPasteboardType>& registeredDraggedTypes() const { return draggedTypes_; }

    // Brings the view's sizes and frame rate in line with the widget and its screen.
    void updateViewGeometry();

protected:
    // Input, in the platform's terms; each does nothing unless overridden.
    virtual void mouseDown(const NSEvent&) {}
    virtual void mouseDragged(const NSEvent&) {}
    virtual void mouseUp(const NSEvent&) {}
    virtual void rightMouseDown(const NSEvent&) {}
    virtual void rightMouseDragged(const NSEvent&) {}
    virtual void rightMouseUp(const NSEvent&) {}
    virtual void otherMouseDown(const NSEvent&) {}
    virtual void otherMouseDragged(const NSEvent&) {}
    virtual void otherMouseUp(const NSEvent&) {}
    virtual void mouseMoved(const NSEvent&) {}
    virtual void mouseEntered(const NSEvent&) {}
    virtual void mouseExited(const NSEvent&) {}
    virtual void scrollWheel(const NSEvent&) {}
    virtual void magnify(const NSEvent&) {}
    virtual void rotate(const NSEvent&) {}
    virtual void swipe(const NSEvent&) {}
    virtual void beginGesture(const NSEvent&) {}
    virtual void endGesture(const NSEvent&) {}
    virtual void flagsChanged(const NSEvent&) {}
    virtual void keyDown(const NSEvent&) {}
    virtual void keyUp(const NSEvent&) {}
    virtual NSDragOperation draggingEntered(const NSDraggingInfo&) { return NSDragOperation::none; }
    virtual void draggingExited() {}
    virtual bool performDragOperation(const NSDraggingInfo&) { return false; }

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void tabletEvent(QTabletEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    class Host;

    void dispatch(const NSEvent& event);
    // Takes the newest presented drawable, if one came, and paints it.
    void showPresented();
    // The part of the widget where `drawable` may differ from what the widget
    // shows, in device pixel rows; the whole of it when that is not known.
    QRect changedRows(const CAMetalDrawable& drawable) const;
    QImage imageOf(CAMetalDrawable& drawable);
    bool offersRegisteredType(const NSDraggingInfo& info) const;

    std::shared_ptr<MTKView> view_;
    std::shared_ptr<Host> host_;
    std::shared_ptr<CAMetalDrawable> shown_;
    // Each drawable texture's change count when the widget last showed it whole.
    // What the widget shows differs from a drawable only where that drawable was
    // redrawn since: each redraw covers every change since its last one.
    struct ShownTexture {
        std::weak_ptr<MTLTexture> texture;
        uint64_t generation = 0;
    };
    std::vector<ShownTexture> shownTextures_;
    std::vector<uint8_t> converted_;
    FramePaintedHook framePainted_;
    std::vector<NSPasteboardType> draggedTypes_;
    NSDragOperation dragOperation_ = NSDragOperation::none;
};

} // namespace velmora
