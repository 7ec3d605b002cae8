#pragma once

#include "Rendering/DrawingTool.hpp"

#include <QColor>
#include <QIcon>

namespace velmora {

// The Tools panel's button images, drawn rather than loaded so that they
// need no icon theme and take the colour the button shows them in: a
// four-way arrow for the move tool, a round brush for the brush, a slanted
// block for the eraser.
class ToolIcon {
public:
    static constexpr int side = 24;

    // Drawn in `color` at every scale of the screens present.
    static QIcon make(DrawingTool tool, const QColor& color);
};

} // namespace velmora
