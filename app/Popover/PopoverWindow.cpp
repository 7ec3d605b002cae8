#include "Popover/PopoverWindow.hpp"

#include "desktop/NSScreen.hpp"
#include "desktop/NSViewController.hpp"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTabletEvent>
#include <QVBoxLayout>

namespace velmora {

namespace {

constexpr int padding = 10;

// The rounded body with its arrow, around the content's view.
class ArrowFrameView : public QWidget {
public:
    ArrowFrameView() {
        auto* layout = new QVBoxLayout(this);
        layout->setSizeConstraint(QLayout::SetNoConstraint);
        setPlacement({});
    }

    void setPlacement(const PopoverPlacement& placement) {
        placement_ = placement;
        const QRect body = placement.bodyRect();
        const QSize size = placement.frame.size();
        layout()->setContentsMargins(body.left() + padding, body.top() + padding,
                                     size.width() - body.right() - 1 + padding,
                                     size.height() - body.bottom() - 1 + padding);
        update();
    }

    void setContent(QWidget* content) {
        while (QLayoutItem* item = layout()->takeAt(0)) {
            if (QWidget* old = item->widget()) {
                old->setParent(nullptr);
            }
            delete item;
        }
        if (content != nullptr) {
            layout()->addWidget(content);
        }
    }

protected:
    void paintEvent(QPaintEvent*) override {
        const QRectF body = QRectF(placement_.bodyRect()).adjusted(0.5, 0.5, -0.5, -0.5);
        if (body.isEmpty()) {
            return;
        }
        QPainterPath path;
        path.addRoundedRect(body, PopoverPlacement::cornerRadius, PopoverPlacement::cornerRadius);
        const QPointF tip = placement_.arrowTip;
        const double half = PopoverPlacement::arrowHalfWidth;
        QPolygonF arrow;
        switch (placement_.edge) {
        case NSRectEdge::minX:
            arrow << QPointF(body.right(), tip.y() - half) << tip
                  << QPointF(body.right(), tip.y() + half);
            break;
        case NSRectEdge::maxX:
            arrow << QPointF(body.left(), tip.y() - half) << tip
                  << QPointF(body.left(), tip.y() + half);
            break;
        case NSRectEdge::minY:
            arrow << QPointF(tip.x() - half, body.top()) << tip
                  << QPointF(tip.x() + half, body.top());
            break;
        case NSRectEdge::maxY:
            arrow << QPointF(tip.x() - half, body.bottom()) << tip
                  << QPointF(tip.x() + half, body.bottom());
            break;
        }
        QPainterPath pointer;
        pointer.addPolygon(arrow);
        pointer.closeSubpath();
        path = path.united(pointer);
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(palette().color(QPalette::Mid), 1));
        painter.setBrush(palette().color(QPalette::Window));
        painter.drawPath(path);
    }

private:
    PopoverPlacement placement_;
};

// Hosts the content controller as its child, so it hears the window's appearance.
class ArrowFrameController : public NSViewController {
public:
    void loadView() override { setView(new ArrowFrameView); }
    ArrowFrameView& frameView() { return *static_cast<ArrowFrameView*>(view()); }

    std::shared_ptr<NSViewController> content() const {
        const auto& children = childViewControllers();
        return children.empty() ? nullptr : children.front();
    }
    void setContent(const std::shared_ptr<NSViewController>& content) {
        if (content == this->content()) {
            return;
        }
        if (const auto old = this->content()) {
            old->removeFromParentViewController();
        }
        frameView().setContent(content ? content->view() : nullptr);
        if (content) {
            addChildViewController(content);
        }
    }
};

// Closes the popover at a press outside it and at a deactivation; never
// consumes the event.
class DismissWatcher : public QObject {
public:
    DismissWatcher(std::weak_ptr<PopoverWindow> popover, QWidget* anchorWindow)
        : QObject(qApp), popover_(std::move(popover)), anchorWindow_(anchorWindow) {}

    bool eventFilter(QObject* target, QEvent* event) override {
        const auto popover = popover_.lock();
        if (popover == nullptr || !popover->isShown()) {
            return false;
        }
        bool closes = false;
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::NonClientAreaMouseButtonPress:
            closes = outside(*popover, static_cast<QMouseEvent*>(event)->globalPosition());
            break;
        case QEvent::TabletPress:
            closes = outside(*popover, static_cast<QTabletEvent*>(event)->globalPosition());
            break;
        case QEvent::ApplicationDeactivate:
            closes = true;
            break;
        case QEvent::WindowDeactivate:
            closes = target == anchorWindow_.data();
            break;
        default:
            break;
        }
        if (closes) {
            // Later: the press goes on to its target, and closing deletes this filter.
            QMetaObject::invokeMethod(
                this,
                [weak = popover_] {
                    if (const auto shown = weak.lock()) {
                        shown->dismiss();
                    }
                },
                Qt::QueuedConnection);
        }
        return false;
    }

private:
    static bool outside(PopoverWindow& popover, QPointF global) {
        const QWidget* widget = popover.widget();
        return widget != nullptr && !widget->frameGeometry().contains(global.toPoint());
    }

    std::weak_ptr<PopoverWindow> popover_;
    QPointer<QWidget> anchorWindow_;
};

} // namespace

PopoverWindow::PopoverWindow()
    : NSWindow(Kind::popover, CGRect{}, NSWindowStyleMask::borderless),
      frame_(std::make_shared<ArrowFrameController>()) {
    setOpaque(false);
    setHasShadow(false);
    setContentViewController(frame_);
}

std::shared_ptr<PopoverWindow> PopoverWindow::make() {
    return std::shared_ptr<PopoverWindow>(new PopoverWindow);
}

PopoverWindow::~PopoverWindow() {
    delete watcher_.data();
}

std::shared_ptr<NSViewController> PopoverWindow::content() const {
    return static_cast<ArrowFrameController&>(*frame_).content();
}

void PopoverWindow::show(std::shared_ptr<NSViewController> content, CGRect rect, QWidget* view,
                         NSRectEdge edge) {
    if (content == nullptr || view == nullptr) {
        return;
    }
    auto& frame = static_cast<ArrowFrameController&>(*frame_);
    frame.setContent(content);
    QWidget* body = content->view();
    const QSize bodySize = body->sizeHint().expandedTo(body->minimumSizeHint()).expandedTo({1, 1}) +
                           QSize(2 * padding, 2 * padding);

    const QPointF topLeft = view->mapToGlobal(qtPointFromView(*view, {rect.minX(), rect.maxY()}));
    const QRect anchor(topLeft.toPoint(),
                       QSize(std::max(1, int(rect.width())), std::max(1, int(rect.height()))));
    const QScreen* screen = view->screen();
    const QRect area = screen ? screen->availableGeometry() : QRect(anchor.center(), QSize(1, 1));
    placement_ = PopoverPlacement::place(anchor, bodySize, edge, area);
    frame.frameView().setPlacement(placement_);
    widget()->setFixedSize(placement_.frame.size());
    widget()->move(placement_.frame.topLeft());
    orderFront();
    watch(view);
}

void PopoverWindow::watch(QWidget* view) {
    delete watcher_.data();
    auto* watcher = new DismissWatcher(weakAs<PopoverWindow>(), view->window());
    qApp->installEventFilter(watcher);
    watcher_ = watcher;
}

void PopoverWindow::dismiss() {
    delete watcher_.data();
    if (!isShown()) {
        return;
    }
    const auto keep = sharedAs<PopoverWindow>();
    orderOut();
    if (didCloseHandler) {
        const std::function<void()> handler = didCloseHandler;
        handler();
    }
}

} // namespace velmora
