#include "desktop/MTKViewHostWidget.hpp"

#include "gpu/CAMetalDrawable.hpp"
#include "gpu/MTKViewHost.hpp"
#include "gpu/cpu/PixelIO.hpp"

#include <QCoreApplication>
#include <QCursor>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QTabletEvent>
#include <QWheelEvent>
#include <cmath>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace velmora {

// Takes presented drawables on the GPU's timeline and only posts: the widget
// picks the newest one up on the main thread. A drawable replaced before it was
// shown goes straight back to the view.
class MTKViewHostWidget::Host final : public MTKViewHost,
                                      public std::enable_shared_from_this<Host> {
public:
    explicit Host(MTKViewHostWidget* widget) : widget_(widget) {}

    void displayDrawable(std::shared_ptr<CAMetalDrawable> drawable) override {
        std::shared_ptr<CAMetalDrawable> replaced;
        {
            std::lock_guard lock(mutex_);
            replaced = std::exchange(pending_, std::move(drawable));
            if (posted_) {
                return;
            }
            posted_ = true;
        }
        auto* app = QCoreApplication::instance();
        if (app == nullptr) {
            return;
        }
        bool first = false;
        {
            auto& w = waiting();
            std::lock_guard lock(w.mutex);
            first = w.hosts.empty();
            w.hosts.push_back(weak_from_this());
        }
        if (first) {
            QMetaObject::invokeMethod(
                app, [] { showWaiting(); }, Qt::QueuedConnection);
        }
    }

    std::shared_ptr<CAMetalDrawable> take() {
        std::lock_guard lock(mutex_);
        posted_ = false;
        return std::move(pending_);
    }

private:
    // The hosts with a drawable for the main thread. The posted call carries
    // nothing of its own: Qt's event queue orders it with locks a thread
    // checker cannot see, so the hand-over goes through this mutex instead.
    struct Waiting {
        std::mutex mutex;
        std::vector<std::weak_ptr<Host>> hosts;
    };
    static Waiting& waiting() {
        static auto* shared = new Waiting; // a timeline thread may post during exit
        return *shared;
    }
    static void showWaiting() {
        std::vector<std::weak_ptr<Host>> hosts;
        {
            auto& w = waiting();
            std::lock_guard lock(w.mutex);
            hosts.swap(w.hosts);
        }
        for (const auto& weak : hosts) {
            if (auto self = weak.lock(); self != nullptr && self->widget_ != nullptr) {
                self->widget_->showPresented();
            }
        }
    }

    QPointer<MTKViewHostWidget> widget_; // main thread only
    std::mutex mutex_;
    std::shared_ptr<CAMetalDrawable> pending_;
    bool posted_ = false;
};

namespace {

Qt::DropAction dropAction(NSDragOperation operation) {
    if (contains(operation, NSDragOperation::copy)) {
        return Qt::CopyAction;
    }
    if (contains(operation, NSDragOperation::move) ||
        contains(operation, NSDragOperation::generic)) {
        return Qt::MoveAction;
    }
    if (contains(operation, NSDragOperation::link)) {
        return Qt::LinkAction;
    }
    return Qt::IgnoreAction;
}

} // namespace

MTKViewHostWidget::MTKViewHostWidget(std::shared_ptr<MTKView> view, QWidget* parent)
    : QWidget(parent), view_(std::move(view)), host_(std::make_shared<Host>(this)) {
    // Every pixel comes from the drawable: nothing to erase first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_TabletTracking);
    setMouseTracking(true);
    view_->setHost(host_);
    updateViewGeometry();
}

MTKViewHostWidget::~MTKViewHostWidget() {
    if (view_->host() == host_) {
        view_->setHost(nullptr);
    }
}

void MTKViewHostWidget::updateViewGeometry() {
    const qreal ratio = devicePixelRatioF();
    view_->setBoundsSize({CGFloat(width()), CGFloat(height())});
    view_->setDrawableSize({std::round(width() * ratio), std::round(height() * ratio)});
    if (const QScreen* s = screen()) {
        const int fps = int(std::lround(s->refreshRate()));
        if (fps > 0 && fps != view_->preferredFramesPerSecond()) {
            view_->setPreferredFramesPerSecond(fps);
        }
    }
}

void MTKViewHostWidget::registerForDraggedTypes(std::vector<NSPasteboardType> types) {
    draggedTypes_ = std::move(types);
    setAcceptDrops(!draggedTypes_.empty());
}

void MTKViewHostWidget::showPresented() {
    auto next = host_->take();
    if (next == nullptr) {
        return;
    }
    shown_ = std::move(next);
    if (!isVisible()) {
        shownTextures_.clear(); // what shows is not known until a whole paint
        return;
    }
    const auto texture = shown_->texture();
    const QRect rows = changedRows(*shown_);
    // At once: waiting for the next update request would show every frame late.
    if (!rows.isEmpty()) {
        repaint(rows);
    } else if (framePainted_) {
        framePainted_(shown_->drawableID(), std::chrono::steady_clock::now());
    }
    std::erase_if(shownTextures_, [&](const ShownTexture& t) {
        const auto held = t.texture.lock();
        return held == nullptr || held == texture;
    });
    shownTextures_.push_back({texture, texture->contentGeneration()});
}

QRect MTKViewHostWidget::changedRows(const CAMetalDrawable& drawable) const {
    const auto& texture = drawable.texture();
    // Pixels only an 8-bit drawable of the widget's own size shows as they are.
    const qreal ratio = devicePixelRatioF();
    const bool plain = (texture->pixelFormat() == MTLPixelFormat::bgra8Unorm ||
                        texture->pixelFormat() == MTLPixelFormat::rgba8Unorm) &&
                       texture->width() == std::lround(width() * ratio) &&
                       texture->height() == std::lround(height() * ratio);
    std::optional<MTLRegion> changed;
    for (const ShownTexture& t : shownTextures_) {
        if (plain && t.texture.lock() == texture) {
            changed = texture->changedSince(t.generation);
        }
    }
    if (!changed) {
        return rect();
    }
    if (changed->size.width < 1 || changed->size.height < 1) {
        return {};
    }
    // Whole rows of device pixels, in widget points rounded outwards.
    const int top = int(std::floor(double(changed->origin.y) / ratio));
    const int bottom = int(std::ceil(double(changed->origin.y + changed->size.height) / ratio));
    return QRect(0, top, width(), bottom - top).intersected(rect());
}

QImage MTKViewHostWidget::imageOf(CAMetalDrawable& drawable) {
    const auto contents = drawable.texture()->contentsForReading();
    const int w = int(contents.width), h = int(contents.height);
    switch (contents.pixelFormat) {
    case MTLPixelFormat::bgra8Unorm:
    case MTLPixelFormat::bgra8Unorm_srgb:
        // The layer is opaque, like the platform's: alpha is not shown.
        return QImage(contents.data, w, h, qsizetype(contents.bytesPerRow), QImage::Format_RGB32);
    case MTLPixelFormat::rgba8Unorm:
    case MTLPixelFormat::rgba8Unorm_srgb:
        return QImage(contents.data, w, h, qsizetype(contents.bytesPerRow),
                      QImage::Format_RGBX8888);
    default:
        break;
    }
    const auto layout = cpu::pixelLayout(contents.pixelFormat);
    if (!layout) {
        return QImage();
    }
    auto bgra = *cpu::pixelLayout(MTLPixelFormat::bgra8Unorm);
    converted_.resize(size_t(w) * size_t(h) * 4);
    std::vector<float> row(size_t(w) * 4);
    for (int y = 0; y < h; ++y) {
        cpu::loadRow(*layout, contents.row(y), row.data(), w);
        cpu::storeRow(bgra, row.data(), converted_.data() + size_t(y) * size_t(w) * 4, w);
    }
    return QImage(converted_.data(), w, h, qsizetype(w) * 4, QImage::Format_RGB32);
}

void MTKViewHostWidget::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    // Only the asked part is copied: a frame that changed a few rows costs a few rows.
    painter.setClipRegion(event->region());
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    QImage image = shown_ != nullptr ? imageOf(*shown_) : QImage();
    if (image.isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    image.setDevicePixelRatio(devicePixelRatioF());
    painter.drawImage(QPointF(0, 0), image);
    const QSizeF covered = image.deviceIndependentSize();
    if (covered.width() < width()) {
        painter.fillRect(QRectF(covered.width(), 0, width() - covered.width(), height()),
                         Qt::black);
    }
    if (covered.height() < height()) {
        painter.fillRect(QRectF(0, covered.height(), width(), height() - covered.height()),
                         Qt::black);
    }
    painter.end();
    if (framePainted_) {
        framePainted_(shown_->drawableID(), std::chrono::steady_clock::now());
    }
}

void MTKViewHostWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    updateViewGeometry();
}

void MTKViewHostWidget::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    updateViewGeometry();
}

bool MTKViewHostWidget::event(QEvent* event) {
    switch (event->type()) {
    case QEvent::NativeGesture:
        if (auto e =
                NSEvent::fromNativeGestureEvent(static_cast<QNativeGestureEvent&>(*event), *this)) {
            dispatch(*e);
        }
        event->accept();
        return true;
    case QEvent::ScreenChangeInternal:
        updateViewGeometry();
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

void MTKViewHostWidget::dispatch(const NSEvent& event) {
    switch (event.type()) {
    case NSEventType::leftMouseDown:
        return mouseDown(event);
    case NSEventType::leftMouseDragged:
        return mouseDragged(event);
    case NSEventType::leftMouseUp:
        return mouseUp(event);
    case NSEventType::rightMouseDown:
        return rightMouseDown(event);
    case NSEventType::rightMouseDragged:
        return rightMouseDragged(event);
    case NSEventType::rightMouseUp:
        return rightMouseUp(event);
    case NSEventType::otherMouseDown:
        return otherMouseDown(event);
    case NSEventType::otherMouseDragged:
        return otherMouseDragged(event);
    case NSEventType::otherMouseUp:
        return otherMouseUp(event);
    case NSEventType::mouseMoved:
        return mouseMoved(event);
    case NSEventType::mouseEntered:
        return mouseEntered(event);
    case NSEventType::mouseExited:
        return mouseExited(event);
    case NSEventType::scrollWheel:
        return scrollWheel(event);
    case NSEventType::magnify:
        return magnify(event);
    case NSEventType::rotate:
        return rotate(event);
    case NSEventType::swipe:
        return swipe(event);
    case NSEventType::beginGesture:
        return beginGesture(event);
    case NSEventType::endGesture:
        return endGesture(event);
    case NSEventType::flagsChanged:
        return flagsChanged(event);
    case NSEventType::keyDown:
        return keyDown(event);
    case NSEventType::keyUp:
        return keyUp(event);
    default:
        return;
    }
}

void MTKViewHostWidget::mousePressEvent(QMouseEvent* event) {
    dispatch(NSEvent::fromMouseEvent(*event, *this));
    event->accept();
}

void MTKViewHostWidget::mouseReleaseEvent(QMouseEvent* event) {
    dispatch(NSEvent::fromMouseEvent(*event, *this));
    event->accept();
}

void MTKViewHostWidget::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a double click is a press like any other.
    dispatch(NSEvent::fromMouseEvent(*event, *this));
    event->accept();
}

void MTKViewHostWidget::mouseMoveEvent(QMouseEvent* event) {
    dispatch(NSEvent::fromMouseEvent(*event, *this));
    event->accept();
}

void MTKViewHostWidget::tabletEvent(QTabletEvent* event) {
    dispatch(NSEvent::fromTabletEvent(*event, *this));
    event->accept();
}

void MTKViewHostWidget::wheelEvent(QWheelEvent* event) {
    dispatch(NSEvent::fromWheelEvent(*event, *this));
    event->accept();
}

void MTKViewHostWidget::keyPressEvent(QKeyEvent* event) {
    const NSEvent e = NSEvent::fromKeyEvent(*event, this);
    dispatch(e);
    // Other keys go on to the window's shortcuts.
    event->setAccepted(e.type() == NSEventType::flagsChanged);
}

void MTKViewHostWidget::keyReleaseEvent(QKeyEvent* event) {
    const NSEvent e = NSEvent::fromKeyEvent(*event, this);
    dispatch(e);
    event->setAccepted(e.type() == NSEventType::flagsChanged);
}

void MTKViewHostWidget::enterEvent(QEnterEvent* event) {
    const QPointF p = mapTo(window(), event->position());
    dispatch(NSEvent::fromEnterLeave(true, {p.x(), window()->height() - p.y()}, window()));
}

void MTKViewHostWidget::leaveEvent(QEvent*) {
    const QPointF p = window()->mapFromGlobal(QCursor::pos());
    dispatch(NSEvent::fromEnterLeave(false, {p.x(), window()->height() - p.y()}, window()));
}

bool MTKViewHostWidget::offersRegisteredType(const NSDraggingInfo& info) const {
    return info.draggingPasteboard().availableType(draggedTypes_).has_value();
}

void MTKViewHostWidget::dragEnterEvent(QDragEnterEvent* event) {
    const auto info = NSDraggingInfo::fromDropEvent(*event, *this);
    dragOperation_ = offersRegisteredType(info) ? draggingEntered(info) : NSDragOperation::none;
    const Qt::DropAction action = dropAction(dragOperation_);
    if (action == Qt::IgnoreAction) {
        event->ignore();
        return;
    }
    event->setDropAction(action);
    event->accept();
}

void MTKViewHostWidget::dragMoveEvent(QDragMoveEvent* event) {
    const Qt::DropAction action = dropAction(dragOperation_);
    if (action == Qt::IgnoreAction) {
        event->ignore();
        return;
    }
    event->setDropAction(action);
    event->accept();
}

void MTKViewHostWidget::dragLeaveEvent(QDragLeaveEvent*) {
    dragOperation_ = NSDragOperation::none;
    draggingExited();
}

void MTKViewHostWidget::dropEvent(QDropEvent* event) {
    const Qt::DropAction action = dropAction(dragOperation_);
    dragOperation_ = NSDragOperation::none;
    const auto info = NSDraggingInfo::fromDropEvent(*event, *this);
    if (action == Qt::IgnoreAction || !performDragOperation(info)) {
        event->ignore();
        return;
    }
    event->setDropAction(action);
    event->accept();
}

} // namespace velmora
