#pragma once

#include "graphics/CGGeometry.hpp"

#include <QPointF>
#include <QPointer>
#include <QRect>
#include <QScreen>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QWidget;

namespace velmora {

// A display. Screen coordinates are points with the origin at the bottom left
// of the primary screen and y growing upwards; Qt's global coordinates have it
// at the top left with y growing downwards, so every frame passes through the
// conversions below.
class NSScreen {
public:
    explicit NSScreen(QScreen* screen) : screen_(screen) {}

    // Primary first, as the platform lists them.
    static std::vector<std::shared_ptr<NSScreen>> screens();
    // The screen of the key window, else the primary one; none without screens.
    static std::shared_ptr<NSScreen> mainScreen();
    // The screen that holds most of a widget's window, else the primary one.
    static std::shared_ptr<NSScreen> screenOf(const QWidget& widget);

    CGRect frame() const;
    // Without panels and docks.
    CGRect visibleFrame() const;
    double backingScaleFactor() const;
    // Stable for the session: the position in the system's list at start.
    std::uint32_t screenNumber() const;
    std::string name() const;
    std::string model() const;
    QScreen* qScreen() const { return screen_; }

    friend bool operator==(const NSScreen& a, const NSScreen& b) { return a.screen_ == b.screen_; }

    // Conversions between screen points (y up) and Qt's global coordinates (y down).
    static CGPoint pointFromQt(QPointF global);
    static QPointF qtPoint(CGPoint point);
    static CGRect rectFromQt(const QRect& global);
    static QRect qtRect(const CGRect& rect);

private:
    QPointer<QScreen> screen_;
};

// View points: a widget's own coordinates with the origin at its bottom left
// and y up, i.e. (x, height − y) of Qt's.
CGPoint viewPointFromQt(const QWidget& view, QPointF local);
QPointF qtPointFromView(const QWidget& view, CGPoint point);

} // namespace velmora
