#include "Utils/QuickEditTextFied.hpp"

#include "desktop/NSBeep.hpp"
#include "desktop/NSPanel.hpp"
#include "desktop/NSWindow.hpp"
#include "desktop/NumberFormatter.hpp"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMetaObject>
#include <QWindow>

namespace velmora {

QuickEditTextFied::QuickEditTextFied(QWidget* parent) : QLineEdit(parent) {}

QuickEditTextFied::~QuickEditTextFied() {
    // The base class gives the focus up after this part is gone.
    QObject::disconnect(focusWatch_);
    NumberFormatter::detach(this);
}

void QuickEditTextFied::setFormatter(std::shared_ptr<const NumberFormatter> formatter) {
    NumberFormatter::detach(this);
    formatter_ = std::move(formatter);
    if (formatter_) {
        formatter_->attach(this);
    }
}

bool QuickEditTextFied::textShouldEndEditing() const {
    if (!formatter_) {
        return true;
    }
    const std::string current = text().toStdString();
    if (current.empty()) {
        NSBeep();
        return false;
    }
    // The formatter beeps itself when it refuses.
    return formatter_->isPartialStringValid(current, nullptr, nullptr);
}

void QuickEditTextFied::setEditsOnClick(bool value) {
    editsOnClick_ = value;
    // Not focused by a press: the press is the list's.
    setFocusPolicy(value ? Qt::NoFocus : Qt::StrongFocus);
}

void QuickEditTextFied::beginEditing() {
    makeWindowKey();
    if (!editing_) {
        textAtBegin_ = text();
    }
    editing_ = true;
    setFocus(Qt::MouseFocusReason);
    selectAll();
}

bool QuickEditTextFied::passesPointer() const {
    // An edit left in a window that has gone inactive (or was closed) goes on
    // only once a click brings the keys back.
    return editsOnClick_ && !(editing_ && hasFocus());
}

void QuickEditTextFied::makeWindowKey() {
    // A panel that becomes key only when needed needs it now.
    if (std::shared_ptr<NSWindow> shown = NSWindow::windowOf(this);
        shown && !shown->isKeyWindow()) {
        shown->makeKeyAndOrderFront();
    }
}

void QuickEditTextFied::showEvent(QShowEvent* event) {
    QLineEdit::showEvent(event);
    watchWindowFocus();
}

void QuickEditTextFied::watchWindowFocus() {
    QWindow* handle = window()->windowHandle();
    if (handle == watchedWindow_) {
        return;
    }
    QObject::disconnect(focusWatch_);
    watchedWindow_ = handle;
    if (handle == nullptr) {
        return;
    }
    // An inactive window sends no focus-in when it is given the focus (an
    // editor opened in a panel that is not key): its window tells.
    focusWatch_ = connect(handle, &QWindow::focusObjectChanged, this, [this](QObject* object) {
        if (object == this && !isActiveWindow()) {
            makeWindowKey();
        }
    });
}

void QuickEditTextFied::giveKeysBack() {
    // A panel made key for the edit only: Ctrl+W and the other commands are
    // the document window's again.
    const std::shared_ptr<NSWindow> shown = NSWindow::windowOf(this);
    const std::shared_ptr<NSWindow> main = NSWindow::mainWindow();
    if (shown && main && shown != main && shown->isKeyWindow() && main->isVisible()) {
        main->makeKeyWindow();
    }
}

void QuickEditTextFied::endEditing() {
    if (hasFocus()) {
        endingEditing_ = true;
        clearFocus();
        endingEditing_ = false;
    }
}

void QuickEditTextFied::focusInEvent(QFocusEvent* event) {
    if (!editing_) {
        textAtBegin_ = text();
    }
    editing_ = true;
    makeWindowKey();
    QLineEdit::focusInEvent(event);
}

void QuickEditTextFied::focusOutEvent(QFocusEvent* event) {
    const bool withinWindow =
        event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason;
    if (!endingEditing_ && withinWindow && !textShouldEndEditing()) {
        // Keeps editing: the focus comes back once the move is done.
        QMetaObject::invokeMethod(
            this, [this] { setFocus(Qt::OtherFocusReason); }, Qt::QueuedConnection);
        return;
    }
    QLineEdit::focusOutEvent(event);
    if (withinWindow) {
        editing_ = false;
    }
    // Ended by Return, Escape or its list, not by a move to another field.
    const QWidget* next = QApplication::focusWidget();
    if (event->reason() == Qt::OtherFocusReason &&
        (next == nullptr || !NSPanel::needsKeyboard(next))) {
        giveKeysBack();
    }
}

void QuickEditTextFied::mousePressEvent(QMouseEvent* event) {
    if (passesPointer()) {
        pressedAt_ = event->position().toPoint();
        pressDragged_ = false;
        event->ignore();
        return;
    }
    makeWindowKey();
    QLineEdit::mousePressEvent(event);
    selectAll();
}

void QuickEditTextFied::mouseMoveEvent(QMouseEvent* event) {
    if (passesPointer()) {
        if (pressedAt_ && (event->position().toPoint() - *pressedAt_).manhattanLength() >=
                              QApplication::startDragDistance()) {
            pressDragged_ = true;
        }
        event->ignore();
        return;
    }
    QLineEdit::mouseMoveEvent(event);
}

void QuickEditTextFied::mouseReleaseEvent(QMouseEvent* event) {
    if (passesPointer()) {
        const bool click =
            pressedAt_ && !pressDragged_ && rect().contains(event->position().toPoint());
        pressedAt_.reset();
        event->ignore();
        if (click) {
            beginEditing();
        }
        return;
    }
    QLineEdit::mouseReleaseEvent(event);
}

void QuickEditTextFied::mouseDoubleClickEvent(QMouseEvent* event) {
    QLineEdit::mouseDoubleClickEvent(event);
    selectAll();
}

void QuickEditTextFied::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && hasFocus()) {
        event->accept();
        const QSignalBlocker quiet(this);
        setText(textAtBegin_);
        endEditing();
        return;
    }
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    if (!textShouldEndEditing()) {
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
    endEditing();
}

} // namespace velmora
