#pragma once

#include "graphics/CGGeometry.hpp"
#include "graphics/NSColor.hpp"

#include <QColorDialog>
#include <QPointer>
#include <functional>
#include <optional>

namespace velmora {

// The one colour panel of the application: a non-native colour dialog
// without alpha that reports every colour as it changes, made at first use.
// Colours are sRGB. Main thread only.
class NSColorPanel {
public:
    static NSColorPanel& sharedColorPanel();
    static bool sharedColorPanelExists();

    NSColorRef color() const;
    void setColor(const NSColorRef& color);
    // Told of every change the user makes.
    void setColorChangedHandler(std::function<void(const NSColorRef&)> handler);

    void orderFront();
    void close();
    bool isVisible() const;
    // Screen points, y up.
    CGRect frame() const;
    void setFrame(CGRect frame, bool display = true);

    QColorDialog* dialog() const { return dialog_; }

private:
    NSColorPanel();
    void framed();

    QPointer<QColorDialog> dialog_;
    std::optional<QRect> pendingFrame_;
    std::function<void(const NSColorRef&)> handler_;
};

} // namespace velmora
