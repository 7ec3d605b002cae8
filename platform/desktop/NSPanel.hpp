#pragma once

#include "desktop/NSWindow.hpp"

namespace velmora {

// A utility window (Qt::Tool) that is never main. One that becomes key only
// if needed refuses keyboard focus (Qt::WindowDoesNotAcceptFocus), so clicks
// on its buttons leave the document window key, until a text field in it is
// pressed or it is made key on purpose; it refuses focus again once another
// window becomes key.
class NSPanel : public NSWindow {
public:
    static constexpr NSWindowStyleMask defaultPanelStyle =
        NSWindowStyleMask::titled | NSWindowStyleMask::closable | NSWindowStyleMask::utilityWindow;

    explicit NSPanel(CGRect contentRect = {{0, 0}, {240, 320}},
                     NSWindowStyleMask style = defaultPanelStyle);

    bool isFloatingPanel() const { return level() >= NSFloatingWindowLevel; }
    void setFloatingPanel(bool floating);
    bool becomesKeyOnlyIfNeeded() const { return becomesKeyOnlyIfNeeded_; }
    void setBecomesKeyOnlyIfNeeded(bool value);

    bool canBecomeMainWindow() const override { return false; }
    void makeKeyWindow() override;

    // Whether a press on `widget` needs the keyboard (text entry).
    static bool needsKeyboard(const QWidget* widget);

protected:
    bool acceptsFocusNow() const override { return !becomesKeyOnlyIfNeeded_ || focusGranted_; }
    void didResignKey() override;

private:
    bool becomesKeyOnlyIfNeeded_ = false;
    bool focusGranted_ = false;
};

} // namespace velmora
