#pragma once

#include "graphics/NSColor.hpp"

#include <QToolButton>
#include <functional>

namespace velmora {

// A colour swatch button; clicking it activates it: the shared colour panel
// shows its colour, and the colours chosen there become the well's.
class NSColorWell : public QToolButton {
public:
    explicit NSColorWell(QWidget* parent = nullptr);
    ~NSColorWell() override;

    const NSColorRef& color() const { return color_; }
    // Shown at once; tells nobody.
    void setColor(NSColorRef color);
    // Told of each colour the user chooses, after the well took it.
    std::function<void(const NSColorRef&)> onColorChanged;

    // Attaches the shared colour panel to this well and shows it. Every well
    // is exclusive: the panel serves one well at a time.
    void activate(bool exclusive);
    void deactivate();
    bool isActive() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    NSColorRef color_;
};

} // namespace velmora
