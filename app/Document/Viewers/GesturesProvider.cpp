#include "Document/Viewers/GesturesProvider.hpp"

#include "App/AppLogHandles.hpp"
#include "foundation/FatalError.hpp"

#include <algorithm>

namespace velmora {

namespace {

std::optional<GesturePhase> gesturePhase(NSEventPhase phase) {
    switch (phase) {
    case NSEventPhase::began:
        return GesturePhase::began;
    case NSEventPhase::changed:
        return GesturePhase::changed;
    case NSEventPhase::ended:
        return GesturePhase::ended;
    case NSEventPhase::none:
        return GesturePhase::none;
    default:
        return std::nullopt;
    }
}

} // namespace

GesturesProvider::GesturesProvider(Token, Viewer& view,
                                   std::shared_ptr<ScrollProvider> scrollProvider,
                                   const std::shared_ptr<GesturesProviderDelegate>& delegate)
    : view_(&view), scrollProvider_(std::move(scrollProvider)), delegate_(delegate) {}

std::shared_ptr<GesturesProvider>
GesturesProvider::make(Viewer& view, const std::shared_ptr<ScrollProvider>& scrollProvider,
                       const std::shared_ptr<GesturesProviderDelegate>& delegate) {
    precondition(scrollProvider != nullptr, "A gestures provider needs a scroll provider");
    auto provider = std::make_shared<GesturesProvider>(Token{}, view, scrollProvider, delegate);
    view.addGestureRecognizer(provider);
    std::weak_ptr<GesturesProvider> weak = provider;
    scrollProvider->setScrollHandler([weak](const NSEvent& event) {
        if (const auto self = weak.lock()) {
            self->scroll(event);
        }
    });
    return provider;
}

GesturesProvider::~GesturesProvider() {
    if (view_ != nullptr) {
        view_->removeGestureRecognizer(*this);
    }
}

void GesturesProvider::beginGesture(const NSEvent&) {
    magnification_ = {};
    rotation_ = {};
}

void GesturesProvider::magnify(const NSEvent& event) {
    GesturePhase phase = GesturePhase::changed;
    if (!magnification_.active) {
        magnification_ = {true, 0};
        previousGestureMagnification_ = 0;
        phase = GesturePhase::began;
    }
    magnification_.total += event.magnification();
    const CGFloat factor = magnification_.total + 1 - previousGestureMagnification_;
    const auto d = delegate();
    if (d != nullptr && view_ != nullptr) {
        d->zoom(factor, event.location(*view_), phase);
    }
    previousGestureMagnification_ = magnification_.total;
}

void GesturesProvider::rotate(const NSEvent& event) {
    GesturePhase phase = GesturePhase::changed;
    if (!rotation_.active) {
        rotation_ = {true, 0};
        previousGestureRotation_ = 0;
        phase = GesturePhase::began;
    }
    rotation_.total += event.rotation();
    const CGFloat degrees = rotation_.total - previousGestureRotation_;
    const auto d = delegate();
    if (d != nullptr && view_ != nullptr) {
        d->rotate(degrees, event.location(*view_), phase);
    }
    previousGestureRotation_ = rotation_.total;
}

void GesturesProvider::endGesture(const NSEvent& event) {
    const auto d = delegate();
    const CGPoint at = view_ != nullptr ? event.location(*view_) : CGPoint{};
    // A recognizer that began ends with what changed since its last event.
    if (std::exchange(magnification_.active, false) && d != nullptr) {
        d->zoom(magnification_.total + 1 - previousGestureMagnification_, at, GesturePhase::ended);
        previousGestureMagnification_ = magnification_.total;
    }
    if (std::exchange(rotation_.active, false) && d != nullptr) {
        d->rotate(rotation_.total - previousGestureRotation_, at, GesturePhase::ended);
        previousGestureRotation_ = rotation_.total;
    }
}

std::optional<GesturePhase> GesturesProvider::scrollPhase(const NSEvent& event) {
    if (event.phase() != NSEventPhase::none) {
        return gesturePhase(event.phase());
    }
    return gesturePhase(event.momentumPhase());
}

void GesturesProvider::scroll(const NSEvent& event) {
    const auto phase = scrollPhase(event);
    if (!phase) {
        logDeviceInput().log("Discarding scroll with phase %d and momentum %d",
                             uint64_t(event.phase()), uint64_t(event.momentumPhase()));
        return;
    }
    const bool precise = event.hasPreciseScrollingDeltas();
    const auto d = delegate();
    // Alt as the platform has it, and Ctrl, the zoom that Linux desktops use.
    if (contains(event.modifierFlags(), NSEventModifierFlags::option) ||
        contains(event.modifierFlags(), NSEventModifierFlags::command)) {
        // Alt turns an X11 wheel's steps sideways when nothing turns them back.
        const CGFloat delta =
            event.scrollingDeltaY() != 0 ? event.scrollingDeltaY() : event.scrollingDeltaX();
        CGFloat factor = 1;
        if (precise) {
            factor = std::clamp(delta / 200 + 1, CGFloat(0.1), CGFloat(10));
        } else if (delta != 0) {
            factor = delta > 0 ? 1.4142135623730951 : 0.7071067811865475;
        }
        if (d != nullptr && view_ != nullptr) {
            d->zoom(factor, event.location(*view_), *phase);
        }
        return;
    }
    const CGFloat step = precise ? 1.0 : 20.0;
    if (d == nullptr || view_ == nullptr) {
        return;
    }
    const auto& metal = *view_->view();
    const CGSize bounds = metal.boundsSize(), drawable = metal.drawableSize();
    const CGFloat sx = bounds.width > 0 ? drawable.width / bounds.width : 1;
    const CGFloat sy = bounds.height > 0 ? drawable.height / bounds.height : 1;
    if (const auto model = d->displayViewModel()) {
        model->pan({event.scrollingDeltaX() * step * sx, event.scrollingDeltaY() * step * sy});
    }
    d->updateLiveScope("Pan", *phase);
}

} // namespace velmora
