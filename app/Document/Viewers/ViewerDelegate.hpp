#pragma once

#include "desktop/NSDraggingInfo.hpp"

namespace velmora {

class Viewer;

// Takes the files and image data dragged onto a canvas view.
class ViewerDelegate {
public:
    virtual ~ViewerDelegate() = default;
    // What the drop would do.
    virtual NSDragOperation viewerDraggingEntered(Viewer& viewer, const NSDraggingInfo& info) = 0;
    // True when the drop was taken.
    virtual bool viewerPerformDragOperation(Viewer& viewer, const NSDraggingInfo& info) = 0;
};

} // namespace velmora
