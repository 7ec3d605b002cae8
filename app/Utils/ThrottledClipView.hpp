#pragma once

#include "graphics/CGGeometry.hpp"

#include <QObject>
#include <QPointer>
#include <functional>
#include <optional>

class QAbstractScrollArea;

namespace velmora {

// The scrolling of a list's scroll area (its scroll bars, which must scroll
// per pixel): while a speed limit is set, the automatic scrolling of a row
// drag moves the vertical origin by at most that many points per second;
// every other scroll passes unchanged. The list routes its drag autoscroll
// steps through `throttleAutoscroll`. Lives as a child of the scroll area.
class ThrottledClipView : public QObject {
public:
    // Seconds on a steady clock.
    using Clock = std::function<double()>;

    explicit ThrottledClipView(QAbstractScrollArea& scrollArea, Clock clock = steadyClock());

    std::optional<double> maxScrollingPerSecond() const { return maxScrollingPerSecond_; }
    // Forgets the last throttled scroll, so a new drag starts from where the
    // list is now, not from where the previous drag left it.
    void setMaxScrollingPerSecond(std::optional<double> limit);

    // The scroll bars' values: the visible area's origin in the list's points.
    CGPoint origin() const;
    void scroll(CGPoint point);
    // Runs one autoscroll step of a row drag and limits the vertical move it made.
    void throttleAutoscroll(const std::function<void()>& step);

    std::optional<CGPoint> lastOrigin() const { return lastOrigin_; }
    std::optional<double> lastScrollDate() const { return lastScrollDate_; }

    static Clock steadyClock();

private:
    void scrollBase(CGPoint point);

    QPointer<QAbstractScrollArea> scrollArea_;
    Clock clock_;
    std::optional<double> maxScrollingPerSecond_;
    std::optional<CGPoint> lastOrigin_;
    std::optional<double> lastScrollDate_;
    bool autoscrolling_ = false;
};

} // namespace velmora
