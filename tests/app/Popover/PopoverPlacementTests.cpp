#include "Popover/PopoverPlacement.hpp"

#include <gtest/gtest.h>

using namespace velmora;

namespace {

constexpr int arrow = PopoverPlacement::arrowLength;
const QRect screen(0, 0, 800, 600);
const QSize body(200, 60);

} // namespace

TEST(PopoverPlacementTest, StandsOnTheNamedSideInYUpTermsOrFlipsWhenThereIsNoRoom) {
    struct Case {
        QPoint anchor;
        NSRectEdge edge;
        NSRectEdge side;
        QPoint origin;
    };
    const Case cases[] = {
        // minY is below the anchor on screen, maxY above it.
        {{400, 300}, NSRectEdge::minY, NSRectEdge::minY, {300, 301}},
        {{400, 300}, NSRectEdge::maxY, NSRectEdge::maxY, {300, 300 - 60 - arrow}},
        {{400, 300}, NSRectEdge::minX, NSRectEdge::minX, {400 - 200 - arrow, 270}},
        {{400, 300}, NSRectEdge::maxX, NSRectEdge::maxX, {401, 270}},
        // No room on the named side: the other one.
        {{400, 580}, NSRectEdge::minY, NSRectEdge::maxY, {300, 580 - 60 - arrow}},
        {{400, 10}, NSRectEdge::maxY, NSRectEdge::minY, {300, 11}},
        {{100, 300}, NSRectEdge::minX, NSRectEdge::maxX, {101, 270}},
        {{790, 300}, NSRectEdge::maxX, NSRectEdge::minX, {790 - 200 - arrow, 270}},
        // Exactly enough room keeps the side.
        {{400, 600 - 1 - 60 - arrow}, NSRectEdge::minY, NSRectEdge::minY, {300, 600 - 60 - arrow}},
    };
    for (const Case& c : cases) {
        const auto placed =
            PopoverPlacement::place(QRect(c.anchor, QSize(1, 1)), body, c.edge, screen);
        EXPECT_EQ(placed.edge, c.side) << c.anchor.x() << "," << c.anchor.y();
        EXPECT_EQ(placed.frame.topLeft(), c.origin) << c.anchor.x() << "," << c.anchor.y();
        // The arrow's point touches the anchor.
        const QPoint tip = placed.frame.topLeft() + placed.arrowTip;
        EXPECT_LE((tip - c.anchor).manhattanLength(), 1) << c.anchor.x() << "," << c.anchor.y();
        EXPECT_EQ(placed.bodyRect().size(), body);
    }
}

TEST(PopoverPlacementTest, NearAScreenCornerTheBodyStaysOnScreenAndTheArrowFollowsTheAnchor) {
    const auto placed =
        PopoverPlacement::place(QRect(30, 300, 1, 1), body, NSRectEdge::minY, screen);
    EXPECT_EQ(placed.frame.left(), 0);
    EXPECT_EQ(placed.arrowTip, QPoint(30, 0));
    // So close to the border that the arrow would cut the rounded corner.
    const auto corner =
        PopoverPlacement::place(QRect(2, 300, 1, 1), body, NSRectEdge::minY, screen);
    EXPECT_EQ(corner.arrowTip.x(),
              PopoverPlacement::cornerRadius + PopoverPlacement::arrowHalfWidth);
    const auto side =
        PopoverPlacement::place(QRect(400, 595, 1, 1), body, NSRectEdge::maxX, screen);
    EXPECT_EQ(side.frame.bottom(), 599);
    EXPECT_EQ(side.frame.top() + side.arrowTip.y(),
              600 - PopoverPlacement::cornerRadius - PopoverPlacement::arrowHalfWidth);
}
