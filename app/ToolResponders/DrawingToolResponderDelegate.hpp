#pragma once

#include "ToolResponders/CommonToolResponderDelegate.hpp"
#include "desktop/NSAttributedString.hpp"
#include "desktop/NSCursor.hpp"
#include "gpu/MTKView.hpp"

#include <memory>
#include <string>

namespace velmora {

class DisplayViewModel;
class DrawingController;

// The owner of the brush and eraser tool (the drawing view controller): the
// canvas it paints on and the heads-up feedback the application shows for it.
class DrawingToolResponderDelegate : public virtual CommonToolResponderDelegate {
public:
    // The canvas view's GPU view (bounds in points, drawable in pixels); none once gone.
    virtual std::shared_ptr<MTKView> canvasView() = 0;
    // The canvas view's device pixel ratio.
    virtual CGFloat backingScaleFactor() = 0;
    virtual std::shared_ptr<DisplayViewModel> displayViewModel() const = 0;
    // None until the document holds a layered canvas.
    virtual std::shared_ptr<DrawingController> drawingController() const = 0;
    // The tool's cursor changed: the canvas view takes it.
    virtual void updateViewerCursor() = 0;

    // The group-layer bezel, which dismisses itself.
    virtual void showDontDrawInGroupLayerNotification(const std::string& text) = 0;
    // The brush-size bezel: stays until dismissed; showing again replaces its text.
    virtual void showBrushSizeBezel(const NSAttributedString& text) = 0;
    virtual void dismissBrushSizeBezel() = 0;
    // The warning that drawing needs a stylus, unless the user turned it off.
    virtual void showDrawWithMouseWarningIfNotDisabled() = 0;
    // The floating copy of the brush cursor under the mouse while the size is edited.
    virtual void setCursorPreviewCursor(const std::shared_ptr<NSCursor>& cursor) = 0;
    virtual void showCursorPreview() = 0;
    virtual void closeCursorPreview() = 0;
};

} // namespace velmora
