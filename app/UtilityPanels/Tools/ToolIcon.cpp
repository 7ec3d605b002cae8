#include "UtilityPanels/Tools/ToolIcon.hpp"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QScreen>
#include <QSet>

namespace velmora {

namespace {

void drawMove(QPainter& p) {
    p.drawLine(QPointF(12, 3), QPointF(12, 21));
    p.drawLine(QPointF(3, 12), QPointF(21, 12));
    const QPointF tips[] = {{12, 2}, {22, 12}, {12, 22}, {2, 12}};
    for (int i = 0; i < 4; ++i) {
        p.save();
        p.translate(tips[i]);
        p.rotate(90.0 * i);
        p.drawPolygon(QPolygonF({{0, 0}, {-3.5, 4}, {3.5, 4}}));
        p.restore();
    }
}

void drawBrush(QPainter& p) {
    // Handle from the top right, ferrule, then the tuft at the bottom left.
    p.save();
    p.translate(12, 12);
    p.rotate(45);
    p.drawRoundedRect(QRectF(-1.5, -11, 3, 10), 1.5, 1.5);
    p.drawRect(QRectF(-2.5, -1.5, 5, 3));
    QPainterPath tuft;
    tuft.moveTo(-3, 1.5);
    tuft.cubicTo(-4, 6, -1, 9, 0, 11);
    tuft.cubicTo(1, 9, 4, 6, 3, 1.5);
    tuft.closeSubpath();
    p.drawPath(tuft);
    p.restore();
}

void drawEraser(QPainter& p) {
    p.save();
    p.translate(12, 12);
    p.rotate(-35);
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(-9, -4.5, 18, 9), 1.5, 1.5);
    p.setBrush(p.pen().color());
    p.drawRoundedRect(QRectF(-9, -4.5, 7, 9), 1.5, 1.5);
    p.restore();
    p.drawLine(QPointF(4, 21), QPointF(20, 21));
}

QPixmap draw(DrawingTool tool, const QColor& color, qreal scale) {
    QPixmap pixmap(QSize(ToolIcon::side, ToolIcon::side) * scale);
    pixmap.setDevicePixelRatio(scale);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(color, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(color);
    switch (tool) {
    case DrawingTool::move:
        drawMove(p);
        break;
    case DrawingTool::brush:
        drawBrush(p);
        break;
    case DrawingTool::eraser:
        drawEraser(p);
        break;
    }
    return pixmap;
}

} // namespace

QIcon ToolIcon::make(DrawingTool tool, const QColor& color) {
    QSet<qreal> scales{1.0};
    for (const QScreen* screen : QGuiApplication::screens()) {
        scales.insert(screen->devicePixelRatio());
    }
    QIcon icon;
    for (const qreal scale : scales) {
        icon.addPixmap(draw(tool, color, scale));
    }
    return icon;
}

} // namespace velmora
