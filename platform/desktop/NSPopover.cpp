#include "desktop/NSPopover.hpp"

#include "desktop/NSScreen.hpp"
#include "desktop/NSViewController.hpp"
#include "desktop/NSWindow.hpp"

#include <QApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QTabletEvent>
#include <algorithm>
#include <cmath>

namespace velmora {

namespace {

// Closes the popover at a press anywhere outside its window; never consumes it.
class OutsidePressFilter : public QObject {
public:
    OutsidePressFilter(NSPopover& popover, QObject* parent) : QObject(parent), popover_(popover) {}

    bool eventFilter(QObject*, QEvent* event) override {
        QPointF global;
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::NonClientAreaMouseButtonPress:
            global = static_cast<QMouseEvent*>(event)->globalPosition();
            break;
        case QEvent::TabletPress:
            global = static_cast<QTabletEvent*>(event)->globalPosition();
            break;
        default:
            return false;
        }
        std::shared_ptr<NSWindow> window = popover_.window();
        if (window && window->widget() &&
            !window->widget()->frameGeometry().contains(global.toPoint())) {
            // Not from inside the filter's own call: closing deletes the filter.
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (popover_.isShown()) {
                        popover_.close();
                    }
                },
                Qt::QueuedConnection);
        }
        return false;
    }

private:
    NSPopover& popover_;
};

} // namespace

NSPopover::NSPopover() = default;

NSPopover::~NSPopover() {
    delete outsidePressFilter_.data();
    if (window_) {
        window_->setContentViewController(nullptr);
        window_->orderOut();
    }
}

void NSPopover::setContentViewController(std::shared_ptr<NSViewController> controller) {
    content_ = std::move(controller);
    if (window_) {
        window_->setContentViewController(content_);
    }
}

void NSPopover::show(CGRect rect, QWidget* view, NSRectEdge edge) {
    if (!content_ || !view) {
        return;
    }
    if (!window_) {
        window_ = std::shared_ptr<NSWindow>(
            new NSWindow(NSWindow::Kind::popover, CGRect{}, NSWindowStyleMask::borderless));
    }
    window_->setContentViewController(content_);
    QWidget* shown = window_->widget();
    shown->adjustSize();
    const QSize size =
        shown->sizeHint().expandedTo(content_->view()->sizeHint()).expandedTo({1, 1});
    shown->resize(size);

    // The anchor in Qt's global coordinates (y down).
    const QPointF topLeft = view->mapToGlobal(qtPointFromView(*view, {rect.minX(), rect.maxY()}));
    const QRectF anchor(topLeft, QSizeF(rect.width(), rect.height()));
    QPointF origin;
    switch (edge) {
    case NSRectEdge::minX:
        origin = {anchor.left() - size.width(), anchor.center().y() - size.height() / 2.0};
        break;
    case NSRectEdge::maxX:
        origin = {anchor.right(), anchor.center().y() - size.height() / 2.0};
        break;
    case NSRectEdge::minY: // the bottom edge in y-up points
        origin = {anchor.center().x() - size.width() / 2.0, anchor.bottom()};
        break;
    case NSRectEdge::maxY:
        origin = {anchor.center().x() - size.width() / 2.0, anchor.top() - size.height()};
        break;
    }
    if (QScreen* screen = view->screen()) {
        const QRect area = screen->availableGeometry();
        origin.setX(std::clamp(origin.x(), double(area.left()),
                               std::max(double(area.left()), double(area.right() - size.width()))));
        origin.setY(
            std::clamp(origin.y(), double(area.top()),
                       std::max(double(area.top()), double(area.bottom() - size.height()))));
    }
    shown->move(int(std::lround(origin.x())), int(std::lround(origin.y())));
    window_->orderFront();

    if (behavior != NSPopoverBehavior::applicationDefined && !outsidePressFilter_) {
        auto* filter = new OutsidePressFilter(*this, qApp);
        qApp->installEventFilter(filter);
        outsidePressFilter_ = filter;
    }
}

void NSPopover::close() {
    if (!isShown()) {
        return;
    }
    std::shared_ptr<NSResponder> keep = sharedAs<NSResponder>();
    delete outsidePressFilter_.data();
    window_->orderOut();
    if (didCloseHandler) {
        std::function<void()> handler = didCloseHandler;
        handler();
    }
}

bool NSPopover::isShown() const {
    return window_ && window_->isVisible();
}

} // namespace velmora
