#include "desktop/NSCursor.hpp"

#include "foundation/FatalError.hpp"
#include "foundation/Thread.hpp"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <atomic>
#include <cmath>
#include <map>
#include <mutex>

namespace velmora {

namespace {

struct CursorStack {
    std::mutex mutex;
    std::vector<std::shared_ptr<NSCursor>> stack;
    std::shared_ptr<NSCursor> current;
    int hidden = 0;
};

CursorStack& state() {
    static CursorStack s;
    return s;
}

std::atomic<bool>& applyPosted() {
    static std::atomic<bool> posted{false};
    return posted;
}

// Main thread: whether our cursor is on Qt's override stack.
bool overrideActive = false;

void apply() {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
        return;
    }
    std::shared_ptr<NSCursor> shown;
    bool hidden = false;
    {
        auto& s = state();
        std::lock_guard lock(s.mutex);
        shown = s.current;
        hidden = s.hidden > 0;
    }
    if (!hidden && shown == nullptr) {
        if (overrideActive) {
            QGuiApplication::restoreOverrideCursor();
            overrideActive = false;
        }
        return;
    }
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QCursor cursor =
        hidden ? QCursor(Qt::BlankCursor)
               : shown->qCursor(screen != nullptr ? screen->devicePixelRatio() : 1.0);
    if (overrideActive) {
        QGuiApplication::changeOverrideCursor(cursor);
    } else {
        QGuiApplication::setOverrideCursor(cursor);
        overrideActive = true;
    }
}

// The stack changed: the main thread shows the new top now or in its next turn.
void show() {
    if (Thread::isMainThread()) {
        apply();
        return;
    }
    auto* app = QCoreApplication::instance();
    if (app == nullptr || applyPosted().exchange(true)) {
        return;
    }
    QMetaObject::invokeMethod(
        app,
        [] {
            applyPosted() = false;
            apply();
        },
        Qt::QueuedConnection);
}

const std::shared_ptr<NSCursor>& systemCursor(Qt::CursorShape shape) {
    static std::mutex mutex;
    static std::map<Qt::CursorShape, std::shared_ptr<NSCursor>> cursors;
    std::lock_guard lock(mutex);
    auto& cursor = cursors[shape];
    if (cursor == nullptr) {
        cursor = NSCursor::make(shape);
    }
    return cursor;
}

} // namespace

std::shared_ptr<NSCursor> NSCursor::make(std::vector<QImage> representations, CGSize imageSize,
                                         CGPoint hotSpot) {
    auto cursor = std::shared_ptr<NSCursor>(new NSCursor());
    cursor->representations_ = std::move(representations);
    cursor->imageSize_ = imageSize;
    cursor->hotSpot_ = hotSpot;
    return cursor;
}

std::shared_ptr<NSCursor> NSCursor::make(Qt::CursorShape shape) {
    auto cursor = std::shared_ptr<NSCursor>(new NSCursor());
    cursor->shape_ = shape;
    return cursor;
}

const std::shared_ptr<NSCursor>& NSCursor::arrowCursor() {
    return systemCursor(Qt::ArrowCursor);
}
const std::shared_ptr<NSCursor>& NSCursor::crosshairCursor() {
    return systemCursor(Qt::CrossCursor);
}
const std::shared_ptr<NSCursor>& NSCursor::openHandCursor() {
    return systemCursor(Qt::OpenHandCursor);
}
const std::shared_ptr<NSCursor>& NSCursor::closedHandCursor() {
    return systemCursor(Qt::ClosedHandCursor);
}
const std::shared_ptr<NSCursor>& NSCursor::resizeLeftRightCursor() {
    return systemCursor(Qt::SizeHorCursor);
}
const std::shared_ptr<NSCursor>& NSCursor::resizeUpDownCursor() {
    return systemCursor(Qt::SizeVerCursor);
}
const std::shared_ptr<NSCursor>& NSCursor::IBeamCursor() {
    return systemCursor(Qt::IBeamCursor);
}
const std::shared_ptr<NSCursor>& NSCursor::pointingHandCursor() {
    return systemCursor(Qt::PointingHandCursor);
}
const std::shared_ptr<NSCursor>& NSCursor::operationNotAllowedCursor() {
    return systemCursor(Qt::ForbiddenCursor);
}

QImage NSCursor::image(qreal scale) const {
    const QImage* best = nullptr;
    qreal bestScale = 0;
    for (const auto& image : representations_) {
        const qreal s = imageSize_.width > 0 ? image.width() / imageSize_.width : 1;
        // A bitmap made for an odd scale is rounded to whole pixels: up to a
        // point of the image short still counts as that fine.
        const qreal least = scale * (imageSize_.width > 1 ? 1 - 1 / imageSize_.width : 1) - 1e-6;
        const bool fits = s >= least;
        const bool bestFits = best != nullptr && bestScale >= least;
        if (best == nullptr || (fits && (!bestFits || s < bestScale)) ||
            (!fits && !bestFits && s > bestScale)) {
            best = &image;
            bestScale = s;
        }
    }
    return best != nullptr ? *best : QImage();
}

QCursor NSCursor::qCursor(qreal devicePixelRatio) const {
    precondition(Thread::isMainThread(), "Cursor pixmaps are made on the main thread");
    {
        const std::lock_guard lock(preparedMutex_);
        if (prepared_ && prepared_->first == devicePixelRatio) {
            return prepared_->second;
        }
    }
    return makeQCursor(devicePixelRatio);
}

void NSCursor::prepare(qreal devicePixelRatio) {
    if (shape_ || qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
        return;
    }
    // These platforms' pixmaps are raster images, which any thread may make;
    // elsewhere a pixmap belongs to the main thread.
    static const bool threaded = [] {
        const QString name = QGuiApplication::platformName();
        return name == "xcb" || name.startsWith("wayland") || name == "offscreen";
    }();
    if (!threaded && !Thread::isMainThread()) {
        return;
    }
    QCursor cursor = makeQCursor(devicePixelRatio);
    const std::lock_guard lock(preparedMutex_);
    prepared_.emplace(devicePixelRatio, std::move(cursor));
}

bool NSCursor::isPrepared(qreal devicePixelRatio) const {
    const std::lock_guard lock(preparedMutex_);
    return prepared_ && prepared_->first == devicePixelRatio;
}

QCursor NSCursor::makeQCursor(qreal devicePixelRatio) const {
    if (shape_) {
        return QCursor(*shape_);
    }
    const QImage bitmap = image(devicePixelRatio);
    if (bitmap.isNull()) {
        return QCursor(Qt::BlankCursor);
    }
    QPixmap pixmap = QPixmap::fromImage(bitmap);
    if (imageSize_.width > 0) {
        pixmap.setDevicePixelRatio(bitmap.width() / imageSize_.width);
    }
    return QCursor(pixmap, int(std::lround(hotSpot_.x)), int(std::lround(hotSpot_.y)));
}

void NSCursor::push() {
    {
        auto& s = state();
        std::lock_guard lock(s.mutex);
        s.stack.push_back(shared_from_this());
        s.current = s.stack.back();
    }
    show();
}

void NSCursor::set() {
    {
        auto& s = state();
        std::lock_guard lock(s.mutex);
        s.current = shared_from_this();
    }
    show();
}

void NSCursor::pop() {
    {
        auto& s = state();
        std::lock_guard lock(s.mutex);
        if (s.stack.empty()) {
            return;
        }
        s.stack.pop_back();
        s.current = s.stack.empty() ? nullptr : s.stack.back();
    }
    show();
}

std::shared_ptr<NSCursor> NSCursor::currentCursor() {
    {
        auto& s = state();
        std::lock_guard lock(s.mutex);
        if (s.current != nullptr) {
            return s.current;
        }
    }
    return arrowCursor();
}

void NSCursor::hide() {
    {
        auto& s = state();
        std::lock_guard lock(s.mutex);
        ++s.hidden;
    }
    show();
}

void NSCursor::unhide() {
    {
        auto& s = state();
        std::lock_guard lock(s.mutex);
        if (s.hidden == 0) {
            return;
        }
        --s.hidden;
    }
    show();
}

size_t NSCursor::stackDepth() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    return s.stack.size();
}

bool NSCursor::isHidden() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    return s.hidden > 0;
}

} // namespace velmora
