#pragma once

#include "desktop/NSViewController.hpp"
#include "desktop/NSWindowDelegate.hpp"

#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <cstdint>
#include <memory>
#include <string_view>

namespace velmora {

class UserDefaults;

// Where the size last created is remembered, as "{W, H}".
inline constexpr std::string_view defaultNewCanvasSizeKey = "DefaultNewCanvasSize";

// The sheet a new, empty document shows once: the canvas width and height in
// pixels. Create gives the presenting controller's document a layered canvas
// of that size; Cancel, Esc and closing the sheet close the document, so no
// window stays without canvas. Main thread only.
class NewDocumentSettingsViewController : public NSViewController, public NSWindowDelegate {
public:
    explicit NewDocumentSettingsViewController(UserDefaults* defaults = nullptr);

    // Read as the platform's string integerValue: leading blanks, a sign,
    // digits up to the first other character; nothing readable is 0.
    static std::int64_t integerValue(std::string_view text);
    // Both sides within the canvas size limits.
    static bool isCreatableSize(std::int64_t width, std::int64_t height);

    std::weak_ptr<NSViewController> delegate;

    void loadView() override;
    void viewDidLoad() override;
    void viewDidAppear() override;

    void validateSize();
    void createDocument();
    void cancelDocumentCreation();

    QLineEdit* widthTextField() const { return widthTextField_; }
    QLineEdit* heightTextField() const { return heightTextField_; }
    QPushButton* createButton() const { return createButton_; }

    // NSWindowDelegate: the window manager's close is a Cancel.
    bool windowShouldClose(NSWindow&) override;

private:
    std::int64_t width() const;
    std::int64_t height() const;

    UserDefaults* defaults_;
    QPointer<QLineEdit> widthTextField_;
    QPointer<QLineEdit> heightTextField_;
    QPointer<QPushButton> createButton_;
    bool ended_ = false;
};

} // namespace velmora
