#pragma once

#include "Rendering/DisplayViewModel.hpp"
#include "graphics/CGGeometry.hpp"

#include <memory>
#include <string>

namespace velmora {

// Where a gesture is: its first event, one in between, its last, or a single
// event outside any gesture (a wheel step).
enum class GesturePhase { began = 0, changed = 1, ended = 2, none = 3 };

// Turns zoom, rotate and pan requests into display changes, keeping the view
// drawing continuously while a gesture lasts. Points are in the view's points.
class GesturesProviderDelegate {
public:
    virtual ~GesturesProviderDelegate() = default;
    virtual void zoom(CGFloat factor, CGPoint at, GesturePhase phase) = 0;
    virtual void rotate(CGFloat degrees, CGPoint at, GesturePhase phase) = 0;
    // What a pan moves.
    virtual std::shared_ptr<DisplayViewModel> displayViewModel() const = 0;
    // Opens the live scope of that name at `began`, closes it at `ended`, and
    // asks for one frame for `none`.
    virtual void updateLiveScope(const std::string& name, GesturePhase phase) = 0;
};

} // namespace velmora
