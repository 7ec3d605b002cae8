#pragma once

#include "ToolResponders/CommonToolResponderDelegate.hpp"
#include "foundation/NSGeometry.hpp"
#include "gpu/MTKView.hpp"

#include <memory>

namespace velmora {

class DisplayViewModel;
class DrawingController;

// The owner of the move tool (the drawing view controller).
class MoveToolResponderDelegate : public virtual CommonToolResponderDelegate {
public:
    // The canvas view's GPU view (bounds in points, drawable in pixels); none once gone.
    virtual std::shared_ptr<MTKView> canvasView() = 0;
    virtual std::shared_ptr<DisplayViewModel> displayViewModel() const = 0;
    // None until the document holds a layered canvas.
    virtual std::shared_ptr<DrawingController> drawingController() const = 0;
    // Tells the user, at that edge of the canvas, that the layer can go no further.
    virtual void presentPopover(NSRectEdge edge) = 0;
};

} // namespace velmora
