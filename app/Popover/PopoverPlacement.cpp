#include "Popover/PopoverPlacement.hpp"

#include <algorithm>

namespace velmora {

namespace {

bool isHorizontal(NSRectEdge edge) {
    return edge == NSRectEdge::minX || edge == NSRectEdge::maxX;
}

NSRectEdge opposite(NSRectEdge edge) {
    switch (edge) {
    case NSRectEdge::minX:
        return NSRectEdge::maxX;
    case NSRectEdge::maxX:
        return NSRectEdge::minX;
    case NSRectEdge::minY:
        return NSRectEdge::maxY;
    case NSRectEdge::maxY:
        break;
    }
    return NSRectEdge::minY;
}

// Room between the anchor and the screen's border on that side, y down.
int room(const QRect& anchor, NSRectEdge edge, const QRect& screen) {
    switch (edge) {
    case NSRectEdge::minX:
        return anchor.left() - screen.left();
    case NSRectEdge::maxX:
        return screen.right() - anchor.right();
    case NSRectEdge::minY:
        return screen.bottom() - anchor.bottom();
    case NSRectEdge::maxY:
        break;
    }
    return anchor.top() - screen.top();
}

// Keeps [start, start + length) inside [low, high]; a span longer than the
// range starts at low.
int clampSpan(int start, int length, int low, int high) {
    return std::max(low, std::min(start, high + 1 - length));
}

} // namespace

PopoverPlacement PopoverPlacement::place(const QRect& anchor, QSize body, NSRectEdge edge,
                                         const QRect& screen) {
    const bool horizontal = isHorizontal(edge);
    const QSize size = horizontal ? QSize(body.width() + arrowLength, body.height())
                                  : QSize(body.width(), body.height() + arrowLength);
    const int needed = horizontal ? size.width() : size.height();
    PopoverPlacement placement;
    placement.edge = edge;
    if (room(anchor, edge, screen) < needed && room(anchor, opposite(edge), screen) >= needed) {
        placement.edge = opposite(edge);
    }

    QPoint origin;
    const QPoint centre((anchor.left() + anchor.right() + 1) / 2,
                        (anchor.top() + anchor.bottom() + 1) / 2);
    if (horizontal) {
        origin.setY(clampSpan(centre.y() - size.height() / 2, size.height(), screen.top(),
                              screen.bottom()));
        origin.setX(placement.edge == NSRectEdge::minX ? anchor.left() - size.width()
                                                       : anchor.right() + 1);
    } else {
        origin.setX(
            clampSpan(centre.x() - size.width() / 2, size.width(), screen.left(), screen.right()));
        origin.setY(placement.edge == NSRectEdge::minY ? anchor.bottom() + 1
                                                       : anchor.top() - size.height());
    }
    placement.frame = QRect(origin, size);

    // The tip touches the anchor; along the border it stays off the corners.
    const int margin = cornerRadius + arrowHalfWidth;
    const auto along = [margin](int value, int length) {
        return length > 2 * margin ? std::clamp(value, margin, length - margin) : length / 2;
    };
    const QPoint local = centre - origin;
    switch (placement.edge) {
    case NSRectEdge::minX:
        placement.arrowTip = {size.width(), along(local.y(), size.height())};
        break;
    case NSRectEdge::maxX:
        placement.arrowTip = {0, along(local.y(), size.height())};
        break;
    case NSRectEdge::minY:
        placement.arrowTip = {along(local.x(), size.width()), 0};
        break;
    case NSRectEdge::maxY:
        placement.arrowTip = {along(local.x(), size.width()), size.height()};
        break;
    }
    return placement;
}

QRect PopoverPlacement::bodyRect() const {
    const QRect all(QPoint(0, 0), frame.size());
    switch (edge) {
    case NSRectEdge::minX:
        return all.adjusted(0, 0, -arrowLength, 0);
    case NSRectEdge::maxX:
        return all.adjusted(arrowLength, 0, 0, 0);
    case NSRectEdge::minY:
        return all.adjusted(0, arrowLength, 0, 0);
    case NSRectEdge::maxY:
        break;
    }
    return all.adjusted(0, 0, 0, -arrowLength);
}

} // namespace velmora
