#include "ToolResponders/MoveToolResponder.hpp"

#include "Canvas/CanvasSize.hpp"
#include "Canvas/LayeredCanvas.hpp"
#include "Document/Viewers/DrawingController.hpp"
#include "desktop/UndoManager.hpp"
#include "foundation/FatalError.hpp"

#include <algorithm>
#include <cstdlib>

namespace velmora {

namespace {

MTLRegion canvasRegion(const LayeredCanvas& canvas) {
    return {MTLOriginZero, canvas.size()};
}

// Toward zero by `excess`, never past it.
int64_t shortened(int64_t d, int64_t excess) {
    if (d > 0) {
        return std::max<int64_t>(d - excess, 0);
    }
    if (d < 0) {
        return std::min<int64_t>(d + excess, 0);
    }
    return 0;
}

} // namespace

std::shared_ptr<MoveToolResponder>
MoveToolResponder::make(const std::shared_ptr<MoveToolResponderDelegate>& delegate) {
    return std::make_shared<MoveToolResponder>(delegate);
}

MoveToolResponder::MoveToolResponder(const std::shared_ptr<MoveToolResponderDelegate>& delegate)
    : CommonToolResponder(delegate), moveToolDelegate_(delegate) {}

std::shared_ptr<DrawingController> MoveToolResponder::drawingController() const {
    const auto delegate = moveToolDelegate();
    return delegate != nullptr ? delegate->drawingController() : nullptr;
}

std::optional<CGPoint> MoveToolResponder::canvasPoint(CGPoint viewPoint) const {
    const auto delegate = moveToolDelegate();
    const auto view = delegate != nullptr ? delegate->canvasView() : nullptr;
    const auto model = delegate != nullptr ? delegate->displayViewModel() : nullptr;
    if (view == nullptr || model == nullptr) {
        return std::nullopt;
    }
    const CGSize bounds = view->boundsSize(), drawable = view->drawableSize();
    const CGPoint pixels{viewPoint.x * (bounds.width > 0 ? drawable.width / bounds.width : 1),
                         viewPoint.y * (bounds.height > 0 ? drawable.height / bounds.height : 1)};
    return model->transform().inverted().apply(pixels);
}

void MoveToolResponder::canvasDidChange() {
    if (dragSession_) {
        if (dragSession_->pushedCursor) {
            NSCursor::pop();
        }
        dragSession_.reset();
    }
    accumulatedMovedBbox_ = {};
    // Entries naming layers of a canvas no longer shown would move nothing.
    if (const auto undoManager = entriesUndoManager_.lock()) {
        undoManager->removeAllActions(shared_from_this());
    }
    entriesUndoManager_.reset();
    const auto controller = drawingController();
    recordsCanvas_ = controller != nullptr ? controller->canvas() : nullptr;
}

bool MoveToolResponder::followCanvas() {
    const auto controller = drawingController();
    const auto canvas = controller != nullptr ? controller->canvas() : nullptr;
    if (canvas == nullptr) {
        return false;
    }
    if (recordsCanvas_.lock() != canvas) {
        canvasDidChange();
    }
    return true;
}

void MoveToolResponder::startDrag(CGPoint point, bool pushCursor) {
    const auto controller = drawingController();
    DragSession session;
    session.startPosition = makeMTLOrigin(point);
    session.undoLock =
        controller->undoLockable() ? controller->undoLockable()->makeUndoLock() : nullptr;
    session.pushedCursor = pushCursor;
    dragSession_ = std::move(session);
    residualMoveOffset_ = {};
    if (pushCursor) {
        NSCursor::closedHandCursor()->push();
    }
}

void MoveToolResponder::mouseDown(const NSEvent&, CGPoint point) {
    if (!followCanvas()) {
        return;
    }
    const auto p = canvasPoint(point);
    if (!p) {
        return;
    }
    if (dragSession_) {
        // Its release never came.
        endDrag();
    }
    startDrag(*p, true);
}

void MoveToolResponder::mouseDragged(const NSEvent&, CGPoint point) {
    if (!followCanvas()) {
        return;
    }
    const auto p = canvasPoint(point);
    const auto canvas = drawingController()->canvas();
    if (!p) {
        return;
    }
    if (!dragSession_) {
        if (canvas->activeLayer() == nullptr) {
            return;
        }
        startDrag(*p, false);
    }
    DragSession& drag = *dragSession_;
    const auto layer = drag.layerID ? (*canvas)[*drag.layerID] : canvas->activeLayer();
    if (layer == nullptr) {
        return;
    }
    drag.layerID = layer->uuid();
    const CGPoint reached{double(drag.startPosition.x + drag.offset.dx),
                          double(drag.startPosition.y + drag.offset.dy)};
    // Only the fraction is carried: the whole part is measured from where the
    // layer is, so nothing lags behind the pointer.
    const MTLVector step({p->x - reached.x, p->y - reached.y}, residualMoveOffset_);
    if (step.isNull()) {
        return;
    }
    if (const auto applied = applyMove(*layer, step, false, true)) {
        drag.offset += *applied;
    }
}

void MoveToolResponder::mouseUp(const NSEvent&, CGPoint) {
    if (dragSession_) {
        endDrag();
    }
}

void MoveToolResponder::endDrag() {
    DragSession drag = std::move(*dragSession_);
    dragSession_.reset();
    if (drag.pushedCursor) {
        NSCursor::pop();
    }
    const auto controller = drawingController();
    const auto canvas = controller != nullptr ? controller->canvas() : nullptr;
    if (drag.offset.isNull() || !drag.layerID || canvas == nullptr) {
        return;
    }
    if ((*canvas)[*drag.layerID] != nullptr) {
        commitMove();
        registerMoveUndo(*drag.layerID, drag.offset);
    }
    // The drag's undo lock goes with it, after its entry is in.
}

std::optional<MTLVector> MoveToolResponder::applyMove(Layer& layer, MTLVector requested,
                                                      bool drawImmediately, bool limited) {
    const auto controller = drawingController();
    const auto canvas = controller != nullptr ? controller->canvas() : nullptr;
    const MTLRegion before = layer.boundingRect();
    if (canvas == nullptr || isEmpty(before) || requested.isNull()) {
        return std::nullopt;
    }
    MTLVector cut = requested;
    if (limited) {
        // Only the layer's content moves; the canvas stays where it is. A layer
        // already beyond the largest size may come back, not go further.
        const MTLRegion canvasArea = canvasRegion(*canvas);
        const MTLRegion current = unionWith(before, canvasArea);
        const int64_t maxWidth = std::max(CanvasMaximumSize.width, current.size.width);
        const int64_t maxHeight = std::max(CanvasMaximumSize.height, current.size.height);
        const MTLRegion prospect = unionWith(translated(before, requested), canvasArea);
        const int64_t excessX = std::max<int64_t>(prospect.size.width - maxWidth, 0);
        const int64_t excessY = std::max<int64_t>(prospect.size.height - maxHeight, 0);
        if (excessX > 0 || excessY > 0) {
            NSRectEdge edge;
            if (excessX > 0) {
                edge = requested.dx <= 0 ? NSRectEdge::maxX : NSRectEdge::minX;
            } else {
                edge = requested.dy <= 0 ? NSRectEdge::maxY : NSRectEdge::minY;
            }
            if (const auto delegate = moveToolDelegate()) {
                delegate->presentPopover(edge);
            }
            cut = {shortened(requested.dx, excessX), shortened(requested.dy, excessY),
                   requested.dz};
        }
    }
    if (cut.isNull()) {
        return std::nullopt;
    }
    layer.moveContents(cut);
    const MTLRegion dirty = unionWith(layer.boundingRect(), before);
    controller->renderedCanvas()->needsUpdate(dirty, layer.shared_from_this());
    const auto owner = controller->delegate();
    if (const auto view = owner != nullptr ? owner->canvasView() : nullptr) {
        if (drawImmediately) {
            view->draw();
        } else {
            view->setNeedsDisplay(true);
        }
    }
    accumulatedMovedBbox_ = unionWith(dirty, accumulatedMovedBbox_);
    return cut;
}

void MoveToolResponder::commitMove() {
    const auto controller = drawingController();
    if (controller == nullptr) {
        return;
    }
    if (controller->currentRenderedLayer() != nullptr && !isEmpty(accumulatedMovedBbox_)) {
        controller->currentRenderedLayer()->updateRegion(accumulatedMovedBbox_);
    }
    accumulatedMovedBbox_ = {};
}

void MoveToolResponder::registerMoveUndo(const UUID& layerID, const MTLVector& offset) {
    const auto controller = drawingController();
    const auto undoManager = controller != nullptr ? controller->undoManager() : nullptr;
    if (undoManager == nullptr) {
        return;
    }
    std::weak_ptr<LayeredCanvas> canvas = controller->canvas();
    undoManager->registerUndo<MoveToolResponder>(
        shared_from_this(), [canvas, layerID, offset](MoveToolResponder& responder) {
            responder.revertMove(canvas, layerID, -offset);
        });
    undoManager->setActionName(actionName);
    entriesUndoManager_ = std::dynamic_pointer_cast<UndoManager>(undoManager);
}

void MoveToolResponder::revertMove(const std::weak_ptr<LayeredCanvas>& canvas, const UUID& layerID,
                                   const MTLVector& vector) {
    const auto controller = drawingController();
    const auto shown = controller != nullptr ? controller->canvas() : nullptr;
    if (shown == nullptr || shown != canvas.lock()) {
        return;
    }
    const auto layer = (*shown)[layerID];
    if (layer == nullptr) {
        return;
    }
    // Replayed in full: the limit held when the move was made.
    const auto applied = applyMove(*layer, vector, true, false);
    if (applied != vector) {
        return;
    }
    commitMove();
    registerMoveUndo(layerID, vector);
}

} // namespace velmora
