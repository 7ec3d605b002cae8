#include "desktop/NSFont.hpp"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QScreen>
#include <cmath>

namespace velmora {

namespace {

QFont::Weight qtWeight(NSFontWeight weight) {
    switch (weight) {
    case NSFontWeight::ultraLight:
        return QFont::ExtraLight;
    case NSFontWeight::thin:
        return QFont::Thin;
    case NSFontWeight::light:
        return QFont::Light;
    case NSFontWeight::regular:
        return QFont::Normal;
    case NSFontWeight::medium:
        return QFont::Medium;
    case NSFontWeight::semibold:
        return QFont::DemiBold;
    case NSFontWeight::bold:
        return QFont::Bold;
    case NSFontWeight::heavy:
        return QFont::ExtraBold;
    case NSFontWeight::black:
        return QFont::Black;
    }
    return QFont::Normal;
}

// Logical pixels per typographic point.
qreal pixelsPerPoint() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const qreal dpi = screen != nullptr ? screen->logicalDotsPerInchY() : 96.0;
    return (dpi > 0 ? dpi : 96.0) / 72.0;
}

QFont sized(QFont font, CGFloat size, NSFontWeight weight) {
    font.setPointSizeF(size / pixelsPerPoint());
    font.setWeight(qtWeight(weight));
    return font;
}

} // namespace

QFont NSFont::systemFont(CGFloat size, NSFontWeight weight) {
    return sized(QFontDatabase::systemFont(QFontDatabase::GeneralFont), size, weight);
}

QFont NSFont::monospacedDigitSystemFont(CGFloat size, NSFontWeight weight) {
    const QFont font = systemFont(size, weight);
    if (hasEqualDigitAdvances(font)) {
        return font;
    }
    return sized(QFontDatabase::systemFont(QFontDatabase::FixedFont), size, weight);
}

CGFloat NSFont::systemFontSize() {
    const QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    if (font.pixelSize() > 0) {
        return font.pixelSize();
    }
    return font.pointSizeF() * pixelsPerPoint();
}

bool NSFont::hasEqualDigitAdvances(const QFont& font) {
    const QFontMetricsF metrics(font);
    const qreal zero = metrics.horizontalAdvance(QLatin1Char('0'));
    for (char digit = '1'; digit <= '9'; ++digit) {
        if (std::abs(metrics.horizontalAdvance(QLatin1Char(digit)) - zero) > 1e-3) {
            return false;
        }
    }
    return true;
}

} // namespace velmora
