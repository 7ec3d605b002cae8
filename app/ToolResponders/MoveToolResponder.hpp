#pragma once

#include "Document/UndoLock.hpp"
#include "MetalExtensions/MTLRegionExtensions.hpp"
#include "MetalExtensions/MTLVector.hpp"
#include "ToolResponders/CommonToolResponder.hpp"
#include "ToolResponders/MoveToolResponderDelegate.hpp"
#include "foundation/UUID.hpp"

#include <memory>
#include <optional>

namespace velmora {

class DrawingController;
class Layer;
class LayeredCanvas;
class UndoManager;

// The move tool: a drag shifts the active layer's contents by whole canvas
// pixels, live, as long as the layer's content and the canvas, which stays in
// place, together span no more than the largest canvas (or, for a layer already
// beyond it, than they span now); each drag is one undoable "Move Layer
// Contents". Main thread only.
class MoveToolResponder : public CommonToolResponder,
                          public std::enable_shared_from_this<MoveToolResponder> {
public:
    static constexpr const char* actionName = "Move Layer Contents";

    // The drag in progress: holds the document's undo lock while it lives.
    struct DragSession {
        MTLOrigin startPosition;
        MTLVector offset;
        std::shared_ptr<UndoLock> undoLock;
        // Only a drag that began with a press pushed the closed hand.
        bool pushedCursor = false;
        // The layer the drag moves, from its first step on.
        std::optional<UUID> layerID;
    };

    static std::shared_ptr<MoveToolResponder>
    make(const std::shared_ptr<MoveToolResponderDelegate>& delegate);
    explicit MoveToolResponder(const std::shared_ptr<MoveToolResponderDelegate>& delegate);

    std::shared_ptr<NSCursor> cursor() const override { return NSCursor::openHandCursor(); }
    void mouseDown(const NSEvent& event, CGPoint point) override;
    void mouseDragged(const NSEvent& event, CGPoint point) override;
    void mouseUp(const NSEvent& event, CGPoint point) override;

    std::shared_ptr<MoveToolResponderDelegate> moveToolDelegate() const {
        return moveToolDelegate_.lock();
    }
    const std::optional<DragSession>& dragSession() const { return dragSession_; }
    CGVector residualMoveOffset() const { return residualMoveOffset_; }
    const MTLRegion& accumulatedMovedBbox() const { return accumulatedMovedBbox_; }

    // A new canvas is shown: the drag and undo entries of the old one go.
    void canvasDidChange();

private:
    std::shared_ptr<DrawingController> drawingController() const;
    std::optional<CGPoint> canvasPoint(CGPoint viewPoint) const;
    // Drops what belongs to a canvas no longer shown; false without a canvas.
    bool followCanvas();
    void startDrag(CGPoint canvasPoint, bool pushCursor);
    void endDrag();
    // The vector applied, cut short at the size limit when `limited`.
    std::optional<MTLVector> applyMove(Layer& layer, MTLVector requested, bool drawImmediately,
                                       bool limited);
    // The moves since the last commit reach the active layer's rendered copy.
    void commitMove();
    void registerMoveUndo(const UUID& layerID, const MTLVector& offset);
    void revertMove(const std::weak_ptr<LayeredCanvas>& canvas, const UUID& layerID,
                    const MTLVector& vector);

    std::weak_ptr<MoveToolResponderDelegate> moveToolDelegate_;
    std::optional<DragSession> dragSession_;
    CGVector residualMoveOffset_{};
    MTLRegion accumulatedMovedBbox_{};
    std::weak_ptr<LayeredCanvas> recordsCanvas_;
    std::weak_ptr<UndoManager> entriesUndoManager_;
};

} // namespace velmora
