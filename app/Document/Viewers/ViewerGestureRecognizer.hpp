#pragma once

#include "desktop/NSEvent.hpp"

namespace velmora {

// Receives the magnify and rotate gestures made on a canvas view, as the
// platform's gesture recognizers would.
class ViewerGestureRecognizer {
public:
    virtual ~ViewerGestureRecognizer() = default;
    virtual void beginGesture(const NSEvent& event) = 0;
    virtual void magnify(const NSEvent& event) = 0;
    virtual void rotate(const NSEvent& event) = 0;
    virtual void endGesture(const NSEvent& event) = 0;
};

} // namespace velmora
