#include "Utils/ThrottledClipView.hpp"

#include <QAbstractScrollArea>
#include <QScrollBar>
#include <algorithm>
#include <chrono>
#include <cmath>

namespace velmora {

ThrottledClipView::ThrottledClipView(QAbstractScrollArea& scrollArea, Clock clock)
    : QObject(&scrollArea), scrollArea_(&scrollArea), clock_(std::move(clock)) {}

ThrottledClipView::Clock ThrottledClipView::steadyClock() {
    return [] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    };
}

void ThrottledClipView::setMaxScrollingPerSecond(std::optional<double> limit) {
    maxScrollingPerSecond_ = limit;
    lastOrigin_.reset();
    lastScrollDate_.reset();
}

CGPoint ThrottledClipView::origin() const {
    if (!scrollArea_) {
        return {};
    }
    return {double(scrollArea_->horizontalScrollBar()->value()),
            double(scrollArea_->verticalScrollBar()->value())};
}

void ThrottledClipView::scrollBase(CGPoint point) {
    if (!scrollArea_ || !std::isfinite(point.x) || !std::isfinite(point.y)) {
        return;
    }
    // Scroll bars clamp to their range; the rounding stays within a point.
    const auto toValue = [](double v) {
        return int(std::clamp(std::lround(v), long(INT32_MIN), long(INT32_MAX)));
    };
    scrollArea_->horizontalScrollBar()->setValue(toValue(point.x));
    scrollArea_->verticalScrollBar()->setValue(toValue(point.y));
}

void ThrottledClipView::scroll(CGPoint point) {
    if (!maxScrollingPerSecond_ || !autoscrolling_) {
        scrollBase(point);
        return;
    }
    const double now = clock_();
    if (lastOrigin_ && lastScrollDate_) {
        const double dy = point.y - lastOrigin_->y;
        const double step = *maxScrollingPerSecond_ * std::max(0.0, now - *lastScrollDate_);
        const double y = dy > 0 ? lastOrigin_->y + std::min(step, dy)
                                : lastOrigin_->y - std::min(step, std::fabs(dy));
        point = {point.x, y};
    }
    scrollBase(point);
    lastOrigin_ = point;
    lastScrollDate_ = now;
}

void ThrottledClipView::throttleAutoscroll(const std::function<void()>& step) {
    if (!maxScrollingPerSecond_ || !scrollArea_) {
        step();
        return;
    }
    const CGPoint before = origin();
    step();
    const CGPoint after = origin();
    if (after == before) {
        return;
    }
    // Undo the step's own move and make it again through the limit.
    scrollArea_->verticalScrollBar()->setValue(int(before.y));
    autoscrolling_ = true;
    scroll(after);
    autoscrolling_ = false;
}

} // namespace velmora
