#pragma once

#include <QLineEdit>
#include <QMetaObject>
#include <QPointer>
#include <memory>
#include <optional>

class QWindow;

namespace velmora {

class NumberFormatter;

// The panels' editable text field: taking the focus makes its window key
// and a press selects the whole text; with a formatter, Return or a move of
// the focus within the window on an empty or invalid text beeps and keeps
// editing; a committed edit gives the focus up, Escape gives it up with the
// text it had when the edit began, telling nobody. An edit ended so (or by
// its list closing it) gives the keys back to the main window.
class QuickEditTextFied : public QLineEdit {
public:
    explicit QuickEditTextFied(QWidget* parent = nullptr);
    ~QuickEditTextFied() override;

    const std::shared_ptr<const NumberFormatter>& formatter() const { return formatter_; }
    // The formatter checks every edit of the text.
    void setFormatter(std::shared_ptr<const NumberFormatter> formatter);

    // Whether editing may end with the current text; refusals beep.
    bool textShouldEndEditing() const;

    // For a field in a list row: while it is not being edited, the pointer
    // goes through it to the list (a press selects the row, a drag drags
    // it), and a click begins editing.
    void setEditsOnClick(bool value);
    bool isEditing() const { return editing_; }
    // As a click does: the window becomes key, the whole text selected.
    void beginEditing();

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    bool passesPointer() const;
    void makeWindowKey();
    void giveKeysBack();
    void endEditing();
    void watchWindowFocus();

    std::shared_ptr<const NumberFormatter> formatter_;
    bool endingEditing_ = false;
    bool editsOnClick_ = false;
    bool editing_ = false;
    QString textAtBegin_;
    // The press of a possible click while not editing, and whether it moved
    // far enough to be a drag.
    std::optional<QPoint> pressedAt_;
    bool pressDragged_ = false;
    QPointer<QWindow> watchedWindow_;
    QMetaObject::Connection focusWatch_;
};

} // namespace velmora
