#pragma once

#include "graphics/CGGeometry.hpp"

#include <QFont>

namespace velmora {

enum class NSFontWeight { ultraLight, thin, light, regular, medium, semibold, bold, heavy, black };

// The system's fonts at sizes in points (the views' points, Qt's logical pixels).
class NSFont {
public:
    static QFont systemFont(CGFloat size, NSFontWeight weight = NSFontWeight::regular);
    // The system font when its ten digits advance alike, so that changing
    // numbers keep their width; otherwise the system's fixed-width font.
    static QFont monospacedDigitSystemFont(CGFloat size, NSFontWeight weight);
    // The size of the system font, in points.
    static CGFloat systemFontSize();

    static bool hasEqualDigitAdvances(const QFont& font);
};

} // namespace velmora
