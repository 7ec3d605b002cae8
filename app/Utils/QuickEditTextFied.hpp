#pragma once

#include <QLineEdit>
#include <memory>

namespace velmora {

class NumberFormatter;

// The panels' editable text field: pressing it makes its window key and
// selects the whole text; with a formatter, Return or a move of the focus
// within the window on an empty or invalid text beeps and keeps editing; a
// committed edit gives the focus up.
class QuickEditTextFied : public QLineEdit {
public:
    explicit QuickEditTextFied(QWidget* parent = nullptr);
    ~QuickEditTextFied() override;

    const std::shared_ptr<const NumberFormatter>& formatter() const { return formatter_; }
    // The formatter checks every edit of the text.
    void setFormatter(std::shared_ptr<const NumberFormatter> formatter);

    // Whether editing may end with the current text; refusals beep.
    bool textShouldEndEditing() const;

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::shared_ptr<const NumberFormatter> formatter_;
    bool endingEditing_ = false;
};

} // namespace velmora
