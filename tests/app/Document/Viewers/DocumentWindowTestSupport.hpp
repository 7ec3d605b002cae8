#pragma once

#include "Document/Document.hpp"
#include "Document/Viewers/DocumentViewController.hpp"
#include "Document/Viewers/DrawingViewController.hpp"
#include "DrawingTestSupport.hpp"
#include "desktop/NSWindowController.hpp"
#include "foundation/MainQueue.hpp"

#include <memory>

namespace velmora::testing {

// Shows the document in its window and fits its canvas to a view of
// side x side points, where a pen can draw.
inline std::shared_ptr<DrawingViewController> showForDrawing(Document& document) {
    document.makeWindowControllers();
    document.showWindows();
    const auto drawing = std::dynamic_pointer_cast<DocumentViewController>(
                             document.windowControllers().front()->contentViewController())
                             ->drawingViewController();
    // Fixed, as the maximised window's layout may come a turn later on a
    // loaded machine and would refit the canvas, or resize it mid-stroke.
    drawing->view()->setFixedSize(side, side);
    drawing->viewer().updateViewGeometry();
    MainQueue::runUntilIdle(); // the fit
    return drawing;
}

} // namespace velmora::testing
