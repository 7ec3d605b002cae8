#include "desktop/NSScreen.hpp"

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>
#include <cmath>

namespace velmora {

namespace {

// The primary screen's bottom edge and left edge in Qt's global coordinates.
QPointF primaryBottomLeft() {
    QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary) {
        return {0, 0};
    }
    const QRect geometry = primary->geometry();
    return {double(geometry.x()), double(geometry.y() + geometry.height())};
}

} // namespace

std::vector<std::shared_ptr<NSScreen>> NSScreen::screens() {
    std::vector<std::shared_ptr<NSScreen>> result;
    QScreen* primary = QGuiApplication::primaryScreen();
    if (primary) {
        result.push_back(std::make_shared<NSScreen>(primary));
    }
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen != primary) {
            result.push_back(std::make_shared<NSScreen>(screen));
        }
    }
    return result;
}

std::shared_ptr<NSScreen> NSScreen::mainScreen() {
    if (QWindow* focus = QGuiApplication::focusWindow(); focus && focus->screen()) {
        return std::make_shared<NSScreen>(focus->screen());
    }
    QScreen* primary = QGuiApplication::primaryScreen();
    return primary ? std::make_shared<NSScreen>(primary) : nullptr;
}

std::shared_ptr<NSScreen> NSScreen::screenOf(const QWidget& widget) {
    const QRect frame = widget.frameGeometry();
    QScreen* best = nullptr;
    long long bestArea = 0;
    for (QScreen* screen : QGuiApplication::screens()) {
        const QRect common = screen->geometry().intersected(frame);
        const long long area = common.isEmpty() ? 0 : 1LL * common.width() * common.height();
        if (area > bestArea) {
            best = screen;
            bestArea = area;
        }
    }
    if (!best) {
        best = widget.screen() ? widget.screen() : QGuiApplication::primaryScreen();
    }
    return best ? std::make_shared<NSScreen>(best) : nullptr;
}

CGRect NSScreen::frame() const {
    return screen_ ? rectFromQt(screen_->geometry()) : CGRect{};
}

CGRect NSScreen::visibleFrame() const {
    return screen_ ? rectFromQt(screen_->availableGeometry()) : CGRect{};
}

double NSScreen::backingScaleFactor() const {
    return screen_ ? screen_->devicePixelRatio() : 1;
}

std::uint32_t NSScreen::screenNumber() const {
    const QList<QScreen*> all = QGuiApplication::screens();
    const qsizetype index = all.indexOf(screen_.data());
    return index < 0 ? 0 : std::uint32_t(index + 1);
}

std::string NSScreen::name() const {
    return screen_ ? screen_->name().toStdString() : "";
}

std::string NSScreen::model() const {
    return screen_ ? screen_->model().toStdString() : "";
}

CGPoint NSScreen::pointFromQt(QPointF global) {
    const QPointF origin = primaryBottomLeft();
    return {global.x() - origin.x(), origin.y() - global.y()};
}

QPointF NSScreen::qtPoint(CGPoint point) {
    const QPointF origin = primaryBottomLeft();
    return {point.x + origin.x(), origin.y() - point.y};
}

CGRect NSScreen::rectFromQt(const QRect& global) {
    const QPointF origin = primaryBottomLeft();
    return {{global.x() - origin.x(), origin.y() - (global.y() + global.height())},
            {double(global.width()), double(global.height())}};
}

QRect NSScreen::qtRect(const CGRect& rect) {
    const QPointF origin = primaryBottomLeft();
    const double top = origin.y() - rect.maxY();
    return QRect(int(std::lround(rect.minX() + origin.x())), int(std::lround(top)),
                 int(std::lround(rect.width())), int(std::lround(rect.height())));
}

CGPoint viewPointFromQt(const QWidget& view, QPointF local) {
    return {local.x(), view.height() - local.y()};
}

QPointF qtPointFromView(const QWidget& view, CGPoint point) {
    return {point.x, view.height() - point.y};
}

} // namespace velmora
