#pragma once

#include "gpu/MTKView.hpp"

#include <memory>

namespace velmora {

// The owner of a drawing controller (the drawing view controller), asked only
// for the canvas view that shows the controller's frames.
class DrawingControllerDelegate {
public:
    virtual ~DrawingControllerDelegate() = default;
    // The canvas view's GPU view; none once the view is gone.
    virtual std::shared_ptr<MTKView> canvasView() = 0;
};

} // namespace velmora
