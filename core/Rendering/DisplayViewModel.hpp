#pragma once

#include "MulticastDelegate/MulticastDelegate.hpp"
#include "graphics/CGGeometry.hpp"

#include <functional>
#include <memory>
#include <optional>

namespace velmora {

class DisplayViewModel;

class DisplayViewModelDelegate {
public:
    virtual ~DisplayViewModelDelegate() = default;
    virtual void displayViewModelDidUpdateZoom(DisplayViewModel& model, CGFloat zoom) = 0;
    // Degrees, between -180 and 180.
    virtual void displayViewModelDidUpdateRotation(DisplayViewModel& model, CGFloat rotation) = 0;
};

// The transform from canvas pixels to drawable pixels (both y up): zoom, rotation and
// pan, with zoom snapping to 1 and rotation to multiples of 90 degrees while a gesture
// runs. Main thread only.
class DisplayViewModel {
public:
    using Snap = std::function<CGAffineTransform(const CGAffineTransform&)>;

    // Zoom never goes below this, so the transform stays invertible.
    static constexpr CGFloat minZoom = 0.01;

    DisplayViewModel() = default;
    DisplayViewModel(const DisplayViewModel&) = delete;
    DisplayViewModel& operator=(const DisplayViewModel&) = delete;

    MulticastDelegate<DisplayViewModelDelegate> delegates;
    CGFloat maxZoom = 120.0;

    // What is drawn and what pointer input is mapped back through.
    CGAffineTransform transform() const { return effectiveTransform(internalTransform_); }

    // Centres the canvas at scale 1, or fitted into 95 % of the tighter side; returns
    // the transform it replaces. Snaps are left as they are.
    CGAffineTransform resetTransform(CGSize framebufferSize, CGSize renderingResolution, bool fit);
    void restoreTransform(const CGAffineTransform& transform);
    // About a canvas point. A factor that is not a positive number changes nothing
    // but a gesture's end still fixes the snap.
    void magnify(CGFloat factor, CGPoint at, bool gestureEnd);
    void rotate(CGFloat degrees, CGPoint at, bool gestureEnd);
    // Moves the canvas by (dx, -dy) framebuffer pixels, whatever the zoom and rotation.
    void pan(CGVector by);

    const std::optional<Snap>& snappedScaler() const { return snappedScaler_; }
    const std::optional<Snap>& snappedRotater() const { return snappedRotater_; }

private:
    CGAffineTransform effectiveTransform(const CGAffineTransform& t) const;
    // Runs `change`, then tells the delegates once what changed on screen.
    void changing(const std::function<void()>& change);

    CGAffineTransform internalTransform_ = CGAffineTransform::identity();
    std::optional<Snap> snappedScaler_;
    std::optional<Snap> snappedRotater_;
};

} // namespace velmora
