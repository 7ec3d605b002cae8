#include "Rendering/DisplayViewModel.hpp"

#include "Extensions/CGAffineTransformExtensions.hpp"

#include <algorithm>
#include <cmath>

namespace velmora {

namespace {
bool finite(CGPoint p) {
    return std::isfinite(p.x) && std::isfinite(p.y);
}
} // namespace

CGAffineTransform DisplayViewModel::effectiveTransform(const CGAffineTransform& t) const {
    CGAffineTransform result = t;
    if (snappedScaler_) {
        result = (*snappedScaler_)(result);
    }
    if (snappedRotater_) {
        result = (*snappedRotater_)(result);
    }
    return result;
}

void DisplayViewModel::changing(const std::function<void()>& change) {
    if (delegates.isEmpty()) {
        change();
        return;
    }
    const CGAffineTransform before = transform();
    change();
    const CGAffineTransform after = transform();
    const CGFloat z0 = scaling(before).dx, z1 = scaling(after).dx;
    if (z0 != z1 || std::isnan(z0) || std::isnan(z1)) {
        delegates |
            [&](DisplayViewModelDelegate& d) { d.displayViewModelDidUpdateZoom(*this, z1); };
    }
    const CGFloat r0 = rotationInDegrees(before), r1 = rotationInDegrees(after);
    if (r0 != r1 || std::isnan(r0) || std::isnan(r1)) {
        delegates |
            [&](DisplayViewModelDelegate& d) { d.displayViewModelDidUpdateRotation(*this, r1); };
    }
}

CGAffineTransform DisplayViewModel::resetTransform(CGSize framebufferSize,
                                                   CGSize renderingResolution, bool fit) {
    const CGAffineTransform old = internalTransform_;
    const CGFloat fw = framebufferSize.width, fh = framebufferSize.height;
    const CGFloat rw = renderingResolution.width, rh = renderingResolution.height;
    CGAffineTransform t = CGAffineTransform::identity().translatedBy((fw - rw) / 2, (fh - rh) / 2);
    if (fit) {
        const CGFloat s = std::min(fh / rh, fw / rw) * 0.95;
        // An empty framebuffer (a view not laid out yet) would scale the canvas to nothing.
        if (std::isfinite(s) && s >= minZoom) {
            t = t.translatedBy(rw * 0.5, rh * 0.5)
                    .scaledBy(s, s)
                    .translatedBy(-rw * 0.5, -rh * 0.5);
        } else if (std::isfinite(s) && s >= 0) {
            t = t.translatedBy(rw * 0.5, rh * 0.5)
                    .scaledBy(minZoom, minZoom)
                    .translatedBy(-rw * 0.5, -rh * 0.5);
        }
    }
    if (std::isfinite(t.tx) && std::isfinite(t.ty)) {
        changing([&] { internalTransform_ = t; });
    }
    return old;
}

void DisplayViewModel::restoreTransform(const CGAffineTransform& transform) {
    changing([&] { internalTransform_ = transform; });
}

void DisplayViewModel::magnify(CGFloat factor, CGPoint at, bool gestureEnd) {
    changing([&] {
        if (std::isfinite(factor) && factor > 0 && finite(at)) {
            const CGFloat current = scaling(internalTransform_).dx;
            CGFloat f = factor;
            if (current * f > maxZoom) {
                f = maxZoom / current;
            } else if (current * f < minZoom) {
                f = minZoom / current;
            }
            internalTransform_ = scaledBy(internalTransform_, f, at);
            const CGFloat s = scaling(internalTransform_).dx;
            if (std::fabs(s - 1.0) < 0.05) {
                snappedScaler_ = [s, at](const CGAffineTransform& t) {
                    return scaledBy(t, 1 / s, at);
                };
            } else {
                snappedScaler_ = [](const CGAffineTransform& t) { return t; };
            }
        }
        if (gestureEnd) {
            // Only this gesture's snap becomes permanent; a rotation still under way
            // keeps its own, which stays valid since scaling does not turn the canvas.
            if (snappedScaler_) {
                internalTransform_ = (*snappedScaler_)(internalTransform_);
            }
            snappedScaler_.reset();
        }
    });
}

void DisplayViewModel::rotate(CGFloat degrees, CGPoint at, bool gestureEnd) {
    changing([&] {
        if (std::isfinite(degrees) && finite(at)) {
            internalTransform_ = rotated(internalTransform_, degrees, at);
            const CGFloat r = std::remainder(rotationInDegrees(internalTransform_), 90.0);
            if (std::fabs(r) < 3.0) {
                snappedRotater_ = [r, at](const CGAffineTransform& t) {
                    return rotated(t, -r, at);
                };
            } else {
                snappedRotater_ = [](const CGAffineTransform& t) { return t; };
            }
        }
        if (gestureEnd) {
            // The zoom snap applies before the rotation snap, so folding the rotation
            // alone would move the canvas: both become permanent, and a magnify still
            // under way snaps afresh at its next step.
            internalTransform_ = effectiveTransform(internalTransform_);
            snappedScaler_.reset();
            snappedRotater_.reset();
        }
    });
}

void DisplayViewModel::pan(CGVector by) {
    if (!std::isfinite(by.dx) || !std::isfinite(by.dy)) {
        return;
    }
    changing([&] { internalTransform_ = translatedBy(internalTransform_, by, true); });
}

} // namespace velmora
