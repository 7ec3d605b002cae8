#pragma once

#include "Document/Viewers/ViewerDelegate.hpp"
#include "Document/Viewers/ViewerGestureRecognizer.hpp"
#include "ToolResponders/ToolResponder.hpp"
#include "desktop/MTKViewHostWidget.hpp"
#include "desktop/NSCursor.hpp"
#include "foundation/DispatchQueue.hpp"
#include "foundation/DispatchWorkItem.hpp"
#include "gpu/MTLRenderPassDescriptor.hpp"

#include <memory>
#include <optional>
#include <vector>

namespace velmora {

// The view a document's canvas is shown and drawn on. It forwards pointer,
// modifier, scroll and swipe events to its tool responder, keeps the tool's
// cursor on screen while the mouse is inside, hands magnify and rotate
// gestures to its recognizers and file drags to its delegate. Main thread only.
class Viewer : public MTKViewHostWidget {
    Q_OBJECT

public:
    // A viewer made as the document window's layout makes it takes dropped
    // files and image data; one made in code takes no drops.
    enum class Origin { code, layout };

    explicit Viewer(Origin origin = Origin::code, QWidget* parent = nullptr);
    ~Viewer() override;

    std::shared_ptr<ToolResponder> toolResponder() const { return toolResponder_.lock(); }
    void setToolResponder(const std::shared_ptr<ToolResponder>& responder) {
        toolResponder_ = responder;
    }
    std::shared_ptr<ViewerDelegate> viewerDelegate() const { return viewerDelegate_.lock(); }
    void setViewerDelegate(const std::shared_ptr<ViewerDelegate>& d) { viewerDelegate_ = d; }

    const std::shared_ptr<NSCursor>& currentCursor() const { return currentCursor_; }
    bool mouseInsideViewer() const { return mouseInsideViewer_; }
    const DispatchQueue& cursorSetQueue() const { return cursorSetQueue_; }
    // Waits until the cursor calls given so far have run.
    void flushCursorQueue() const;

    // The tool's cursor may have changed: show the new one without pushing it.
    void refreshCursor();

    // Recognizers are held weakly and told in the order they were added.
    void addGestureRecognizer(const std::shared_ptr<ViewerGestureRecognizer>& recognizer);
    void removeGestureRecognizer(const ViewerGestureRecognizer& recognizer);
    size_t gestureRecognizerCount() const;

    // The window's background colour in the working space: what the renderer
    // clears the view to around the canvas.
    MTLClearColor backgroundClearColor() const;

    // The view changed its size: the cursor pushed on entering is taken off,
    // the next entering pushes again.
    void updateTrackingAreas();

protected:
    void mouseDown(const NSEvent& event) override;
    void mouseDragged(const NSEvent& event) override;
    void mouseUp(const NSEvent& event) override;
    void mouseMoved(const NSEvent& event) override;
    void mouseEntered(const NSEvent& event) override;
    void mouseExited(const NSEvent& event) override;
    void scrollWheel(const NSEvent& event) override;
    void swipe(const NSEvent& event) override;
    void flagsChanged(const NSEvent& event) override;
    void beginGesture(const NSEvent& event) override;
    void magnify(const NSEvent& event) override;
    void rotate(const NSEvent& event) override;
    void endGesture(const NSEvent& event) override;
    NSDragOperation draggingEntered(const NSDraggingInfo& info) override;
    bool performDragOperation(const NSDraggingInfo& info) override;

    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void popCurrentCursor();
    void applyCurrentCursor();
    std::vector<std::shared_ptr<ViewerGestureRecognizer>> liveRecognizers();

    std::weak_ptr<ToolResponder> toolResponder_;
    std::weak_ptr<ViewerDelegate> viewerDelegate_;
    std::shared_ptr<NSCursor> currentCursor_;
    // Only a cursor this view pushed is ever popped by it.
    bool pushed_ = false;
    bool mouseInsideViewer_ = false;
    DispatchQueue cursorSetQueue_{"NSCursor.set() queue", DispatchQoS::userInitiated};
    std::optional<DispatchWorkItem> lastScheduledCursorSet_;
    std::vector<std::weak_ptr<ViewerGestureRecognizer>> recognizers_;
};

} // namespace velmora
