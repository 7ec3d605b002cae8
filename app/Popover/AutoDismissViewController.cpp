#include "Popover/AutoDismissViewController.hpp"

namespace velmora {

AutoDismissViewController::~AutoDismissViewController() {
    if (dismissTimer_) {
        dismissTimer_->invalidate();
    }
}

void AutoDismissViewController::viewDidAppear() {
    NSViewController::viewDidAppear();
    scheduleDismissal();
}

void AutoDismissViewController::viewDidDisappear() {
    NSViewController::viewDidDisappear();
    if (dismissTimer_) {
        dismissTimer_->invalidate();
        dismissTimer_ = nullptr;
    }
}

void AutoDismissViewController::scheduleDismissal() {
    if (dismissTimer_) {
        dismissTimer_->invalidate();
    }
    dismissTimer_ = Timer::scheduledTimer(Timer::Interval(timeout_), false,
                                          [weak = weakAs<AutoDismissViewController>()](Timer&) {
                                              if (const auto controller = weak.lock()) {
                                                  controller->dismissController(nullptr);
                                              }
                                          });
}

} // namespace velmora
