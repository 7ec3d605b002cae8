#pragma once

#include "desktop/NSCursor.hpp"
#include "desktop/NSEvent.hpp"
#include "graphics/CGGeometry.hpp"

#include <memory>

namespace velmora {

// What gives a canvas tool its behaviour: the canvas view forwards its pointer,
// modifier, scroll and swipe events to the responder of the current tool.
// Points are in the view's points, y up.
class ToolResponder {
public:
    virtual ~ToolResponder() = default;

    // The cursor to show over the canvas.
    virtual std::shared_ptr<NSCursor> cursor() const = 0;
    virtual void flagsChanged(const NSEvent& event) = 0;
    virtual void mouseDown(const NSEvent& event, CGPoint point) = 0;
    virtual void mouseDragged(const NSEvent& event, CGPoint point) = 0;
    virtual void mouseUp(const NSEvent& event, CGPoint point) = 0;
    virtual void scrollWheel(const NSEvent& event, CGPoint point) = 0;
    virtual void swipe(const NSEvent& event) = 0;
};

} // namespace velmora
