#include "desktop/NSWindowWidget.hpp"

#include "desktop/NSWindow.hpp"

#include <QCloseEvent>
#include <QMouseEvent>
#include <QWindow>

namespace velmora {

namespace {
// Long enough to outlast the burst of events of one drag of the title bar.
constexpr int frameSettleMilliseconds = 300;
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
