#pragma once

#include "graphics/CGGeometry.hpp"
#include "graphics/NSColor.hpp"

#include <QColorDialog>
#include <QPointer>
#include <functional>
#include <memory>

namespace velmora {

class NSPanel;

// The one colour panel of the application, made at first use: a floating
// panel, above the document windows as the utility panels are, that keeps
// the keyboard with the document window unless its text fields need it, and
// keeps its frame under "NSColorPanel". It shows a non-native colour dialog
// without alpha that reports every colour as it changes; colours are sRGB.
// Main thread only.
class NSColorPanel {
public:
    static constexpr const char* frameAutosaveName = "NSColorPanel";

    static NSColorPanel& sharedColorPanel();
    static bool sharedColorPanelExists();

    NSColorRef color() const;
    void setColor(const NSColorRef& color);
    // Told of every change the user makes.
    void setColorChangedHandler(std::function<void(const NSColorRef&)> handler);

    // Shown and brought in front of the other windows.
    void orderFront();
    void close();
    bool isVisible() const;
    // Screen points, y up.
    CGRect frame() const;
    void setFrame(CGRect frame, bool display = true);

    QColorDialog* dialog() const { return dialog_; }
    const std::shared_ptr<NSPanel>& panel() const { return panel_; }

private:
    NSColorPanel();

    QPointer<QColorDialog> dialog_;
    std::shared_ptr<NSPanel> panel_;
    std::function<void(const NSColorRef&)> handler_;
};

} // namespace velmora
