#include "Document/Viewers/Viewer.hpp"

#include "MetalExtensions/ShaderValueConversions.hpp"
#include "desktop/NSEvent.hpp"
#include "desktop/NSFilePromiseReceiver.hpp"
#include "desktop/NSPasteboardItem.hpp"
#include "foundation/FatalError.hpp"
#include "graphics/ColorManagement.hpp"
#include "graphics/NSColor.hpp"

#include <QInputDevice>
#include <QMouseEvent>
#include <QPointingDevice>
#include <algorithm>

namespace velmora {

namespace {

// A pen's own events come as tablet events; the mouse events made from them
// would reach the tool a second time.
bool madeByPen(const QMouseEvent& event) {
    return NSEvent::isTabletDevice(event.pointingDevice());
}

} // namespace

Viewer::Viewer(Origin origin, QWidget* parent)
    : MTKViewHostWidget(MTKView::make(MTLCreateSystemDefaultDevice()), parent) {
    // The canvas takes the keyboard, so the window's canvas commands reach its
    // controller through the responder chain.
    setFocusPolicy(Qt::StrongFocus);
    // Draws when asked, as under a renderer: a view with no renderer yet (the
    // preview tab before a version is shown) must not run a frame clock for nothing.
    view()->setPaused(true);
    view()->setEnableSetNeedsDisplay(true);
    if (origin == Origin::layout) {
        std::vector<NSPasteboardType> types{NSPasteboardTypeFileURL};
        const auto& promised = NSFilePromiseReceiver::readableDraggedTypes();
        types.insert(types.end(), promised.begin(), promised.end());
        registerForDraggedTypes(std::move(types));
    }
}

Viewer::~Viewer() {
    popCurrentCursor();
    flushCursorQueue();
}

void Viewer::flushCursorQueue() const {
    cursorSetQueue_.sync([] {});
}

void Viewer::mousePressEvent(QMouseEvent* event) {
    if (madeByPen(*event)) {
        event->accept();
        return;
    }
    MTKViewHostWidget::mousePressEvent(event);
}

void Viewer::mouseReleaseEvent(QMouseEvent* event) {
    if (madeByPen(*event)) {
        event->accept();
        return;
    }
    MTKViewHostWidget::mouseReleaseEvent(event);
}

void Viewer::mouseDoubleClickEvent(QMouseEvent* event) {
    if (madeByPen(*event)) {
        event->accept();
        return;
    }
    MTKViewHostWidget::mouseDoubleClickEvent(event);
}

void Viewer::mouseMoveEvent(QMouseEvent* event) {
    if (madeByPen(*event)) {
        event->accept();
        return;
    }
    MTKViewHostWidget::mouseMoveEvent(event);
}

void Viewer::flagsChanged(const NSEvent& event) {
    if (const auto tool = toolResponder()) {
        tool->flagsChanged(event);
    }
}

void Viewer::mouseDown(const NSEvent& event) {
    // A stylus press gives no click focus of its own.
    setFocus(Qt::MouseFocusReason);
    if (const auto tool = toolResponder()) {
        tool->mouseDown(event, event.location(*this));
    }
}

void Viewer::mouseDragged(const NSEvent& event) {
    if (const auto tool = toolResponder()) {
        tool->mouseDragged(event, event.location(*this));
    }
}

void Viewer::mouseUp(const NSEvent& event) {
    if (const auto tool = toolResponder()) {
        tool->mouseUp(event, event.location(*this));
    }
}

void Viewer::scrollWheel(const NSEvent& event) {
    if (const auto tool = toolResponder()) {
        tool->scrollWheel(event, event.location(*this));
    }
}

void Viewer::swipe(const NSEvent& event) {
    if (const auto tool = toolResponder()) {
        tool->swipe(event);
    }
}

void Viewer::mouseEntered(const NSEvent&) {
    mouseInsideViewer_ = true;
    const auto tool = toolResponder();
    if (tool == nullptr) {
        return;
    }
    currentCursor_ = tool->cursor();
    if (pushed_) {
        // Entered twice without leaving: the one pushed stays, showing this one.
        applyCurrentCursor();
        return;
    }
    if (currentCursor_ != nullptr) {
        cursorSetQueue_.sync([cursor = currentCursor_] { cursor->push(); });
        pushed_ = true;
    }
}

void Viewer::mouseExited(const NSEvent&) {
    mouseInsideViewer_ = false;
    popCurrentCursor();
}

void Viewer::mouseMoved(const NSEvent&) {
    applyCurrentCursor();
}

void Viewer::popCurrentCursor() {
    if (currentCursor_ == nullptr) {
        return;
    }
    if (pushed_) {
        cursorSetQueue_.sync([] { NSCursor::pop(); });
        pushed_ = false;
    }
    currentCursor_ = nullptr;
}

void Viewer::applyCurrentCursor() {
    if (!mouseInsideViewer_ || currentCursor_ == nullptr ||
        currentCursor_ == NSCursor::currentCursor()) {
        return;
    }
    DispatchWorkItem item([cursor = currentCursor_] { cursor->set(); });
    if (lastScheduledCursorSet_) {
        lastScheduledCursorSet_->cancel();
    }
    lastScheduledCursorSet_ = item;
    cursorSetQueue_.async(item);
}

void Viewer::refreshCursor() {
    const auto tool = toolResponder();
    if (tool == nullptr) {
        return;
    }
    const auto cursor = tool->cursor();
    if (currentCursor_ == nullptr || currentCursor_ != cursor) {
        currentCursor_ = cursor;
        applyCurrentCursor();
    }
}

void Viewer::updateTrackingAreas() {
    popCurrentCursor();
    // Qt sends no new entering while the mouse stays inside a resized view.
    if (mouseInsideViewer_) {
        mouseEntered(NSEvent());
    }
}

void Viewer::resizeEvent(QResizeEvent* event) {
    MTKViewHostWidget::resizeEvent(event);
    updateTrackingAreas();
}

void Viewer::addGestureRecognizer(const std::shared_ptr<ViewerGestureRecognizer>& recognizer) {
    recognizers_.push_back(recognizer);
}

void Viewer::removeGestureRecognizer(const ViewerGestureRecognizer& recognizer) {
    std::erase_if(recognizers_, [&](const auto& weak) {
        const auto live = weak.lock();
        return live == nullptr || live.get() == &recognizer;
    });
}

size_t Viewer::gestureRecognizerCount() const {
    return size_t(std::count_if(recognizers_.begin(), recognizers_.end(),
                                [](const auto& weak) { return !weak.expired(); }));
}

std::vector<std::shared_ptr<ViewerGestureRecognizer>> Viewer::liveRecognizers() {
    std::vector<std::shared_ptr<ViewerGestureRecognizer>> live;
    for (const auto& weak : recognizers_) {
        if (auto r = weak.lock()) {
            live.push_back(std::move(r));
        }
    }
    return live;
}

void Viewer::beginGesture(const NSEvent& event) {
    for (const auto& r : liveRecognizers()) {
        r->beginGesture(event);
    }
}

void Viewer::magnify(const NSEvent& event) {
    for (const auto& r : liveRecognizers()) {
        r->magnify(event);
    }
}

void Viewer::rotate(const NSEvent& event) {
    for (const auto& r : liveRecognizers()) {
        r->rotate(event);
    }
}

void Viewer::endGesture(const NSEvent& event) {
    for (const auto& r : liveRecognizers()) {
        r->endGesture(event);
    }
}

NSDragOperation Viewer::draggingEntered(const NSDraggingInfo& info) {
    const auto d = viewerDelegate();
    return d ? d->viewerDraggingEntered(*this, info) : NSDragOperation::none;
}

bool Viewer::performDragOperation(const NSDraggingInfo& info) {
    const auto d = viewerDelegate();
    return d ? d->viewerPerformDragOperation(*this, info) : false;
}

MTLClearColor Viewer::backgroundClearColor() const {
    const QColor window = palette().color(QPalette::Window).toRgb();
    const auto color =
        NSColor::colorWithSRGBRed(window.redF(), window.greenF(), window.blueF(), window.alphaF())
            ->colorUsingColorSpace(ColorManagement::workingNSColorSpace());
    if (color == nullptr) {
        fatalError("Internal inconcistency");
    }
    return mtlClearColor(*color);
}

} // namespace velmora
