#pragma once

#include "ToolResponders/CommonToolResponderDelegate.hpp"
#include "ToolResponders/ScrollProvider.hpp"
#include "ToolResponders/ToolResponder.hpp"

#include <memory>

namespace velmora {

// What every tool shares: the arrow cursor, a sideways swipe as undo or redo,
// scrolling handed to a pluggable handler, and nothing for the pointer.
class CommonToolResponder : public ToolResponder, public ScrollProvider {
public:
    explicit CommonToolResponder(const std::shared_ptr<CommonToolResponderDelegate>& delegate)
        : commonToolDelegate_(delegate) {}

    std::shared_ptr<NSCursor> cursor() const override;

    std::shared_ptr<CommonToolResponderDelegate> commonToolDelegate() const {
        return commonToolDelegate_.lock();
    }
    void setCommonToolDelegate(const std::shared_ptr<CommonToolResponderDelegate>& delegate) {
        commonToolDelegate_ = delegate;
    }

    // A leftward swipe (deltaX > 0) redoes, a rightward one undoes.
    void swipe(const NSEvent& event) override;
    void flagsChanged(const NSEvent&) override {}
    void mouseDown(const NSEvent&, CGPoint) override {}
    void mouseDragged(const NSEvent&, CGPoint) override {}
    void mouseUp(const NSEvent&, CGPoint) override {}

    const ScrollHandler& scrollHandler() const { return scrollHandler_; }
    void scrollWheel(const NSEvent& event, CGPoint point) override;
    void setScrollHandler(ScrollHandler handler) override { scrollHandler_ = std::move(handler); }

private:
    std::weak_ptr<CommonToolResponderDelegate> commonToolDelegate_;
    ScrollHandler scrollHandler_;
};

} // namespace velmora
