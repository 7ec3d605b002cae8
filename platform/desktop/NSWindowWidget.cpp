#include "desktop/NSWindowWidget.hpp"

#include "desktop/NSWindow.hpp"

#include <QApplication>
#include <QChildEvent>
#include <QCloseEvent>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPointer>
#include <QProxyStyle>
#include <QWindow>

namespace velmora {

namespace {
// Long enough to outlast the burst of events of one drag of the title bar.
constexpr int frameSettleMilliseconds = 300;

// A menu bar that never takes the key focus, as the platform's does not: a
// menu closed with Escape, or a lone Alt, would leave the keys with the bar,
// out of reach of the responder chain that enables the window's commands.
class MenuBarStyle final : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_MenuBar_AltKeyNavigation) {
            return 0;
        }
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

QStyle* menuBarStyle() {
    static QPointer<QStyle> style;
    if (style.isNull()) {
        style = new MenuBarStyle(QApplication::style()->name());
        style->setParent(qApp);
    }
    return style;
}

} // namespace

NSWindowWidget::NSWindowWidget(NSWindow& owner) : owner_(&owner) {
    frameSaveTimer.setSingleShot(true);
    frameSaveTimer.setInterval(frameSettleMilliseconds);
}

bool NSWindowWidget::event(QEvent* event) {
    const bool handled = QMainWindow::event(event);
    if (!owner_) {
        return handled;
    }
    switch (event->type()) {
    case QEvent::ChildPolished:
        if (auto* bar = qobject_cast<QMenuBar*>(static_cast<QChildEvent*>(event)->child());
            bar != nullptr && bar->style() != menuBarStyle()) {
            bar->setStyle(menuBarStyle());
        }
        break;
    case QEvent::WindowActivate:
        owner_->qtActivated();
        break;
    case QEvent::Hide:
        owner_->qtHidden();
        break;
    case QEvent::Move:
        owner_->frameChanged(true);
        break;
    case QEvent::Resize:
        owner_->frameChanged(false);
        break;
    default:
        break;
    }
    return handled;
}

void NSWindowWidget::closeEvent(QCloseEvent* event) {
    // Closing is the owner's decision: it may ask the user first.
    event->ignore();
    if (owner_) {
        owner_->qtCloseRequested();
    }
}

void NSWindowWidget::mousePressEvent(QMouseEvent* event) {
    // Presses reach the window only when no control took them: the background.
    if (owner_ && owner_->isMovableByWindowBackground() && event->button() == Qt::LeftButton &&
        windowHandle()) {
        windowHandle()->startSystemMove();
        event->accept();
        return;
    }
    QMainWindow::mousePressEvent(event);
}

} // namespace velmora
