#include "Utils/ThrottledClipView.hpp"

#include <QScrollArea>
#include <QScrollBar>
#include <gtest/gtest.h>

namespace velmora {
namespace {

class ThrottledClipViewTest : public ::testing::Test {
protected:
    ThrottledClipViewTest() {
        area.resize(200, 200);
        auto* content = new QWidget;
        content->setFixedSize(2000, 20000);
        area.setWidget(content);
        clipView = new ThrottledClipView(area, [this] { return now; });
    }

    // One autoscroll step of a drag that asks to move by (dx, dy), `dt` seconds after the last.
    CGPoint autoscroll(double dx, double dy, double dt) {
        now += dt;
        clipView->throttleAutoscroll([&] {
            area.horizontalScrollBar()->setValue(area.horizontalScrollBar()->value() + int(dx));
            area.verticalScrollBar()->setValue(area.verticalScrollBar()->value() + int(dy));
        });
        return clipView->origin();
    }

    QScrollArea area;
    ThrottledClipView* clipView;
    double now = 100;
};

TEST_F(ThrottledClipViewTest, DragAutoscrollMovesAtMostTheLimitPerSecondBothWays) {
    area.verticalScrollBar()->setValue(5000);
    clipView->setMaxScrollingPerSecond(300.0);
    struct Step {
        double dy, dt, expectedY;
    };
    const Step steps[] = {
        {200, 0.1, 5200},                     // the first step of a drag is not limited
        {200, 0.1, 5230},                     // 300 points/s over 0.1 s
        {10, 0.1, 5240},                      // less than the limit passes whole
        {200, 0.5, 5390},  {-200, 0.1, 5360}, // upwards alike
        {-500, 1.0, 5060}, {0, 0.1, 5060},    // no move, no step: the next one has 0.2 s
    };
    for (const Step& step : steps) {
        EXPECT_EQ(autoscroll(0, step.dy, step.dt).y, step.expectedY) << step.dy << " " << step.dt;
    }
    // The horizontal coordinate is never limited.
    EXPECT_EQ(autoscroll(700, 100, 0.1), (CGPoint{700, 5120}));
}

TEST_F(ThrottledClipViewTest, OtherScrollsAndUnlimitedDragsPassUnchanged) {
    clipView->setMaxScrollingPerSecond(300.0);
    autoscroll(0, 100, 0.1);
    // Wheel scrolling and programmatic scrolls during a drag do not come from autoscrolling.
    now += 0.01;
    clipView->scroll({0, 3000});
    EXPECT_EQ(clipView->origin().y, 3000);
    area.verticalScrollBar()->setValue(9000);
    EXPECT_EQ(clipView->origin().y, 9000);

    clipView->setMaxScrollingPerSecond(std::nullopt);
    EXPECT_EQ(autoscroll(0, 4000, 0.01).y, 13000);
    EXPECT_EQ(autoscroll(0, -4000, 0.01).y, 9000);
}

TEST_F(ThrottledClipViewTest, ANewLimitStartsFromWhereTheListIsNow) {
    clipView->setMaxScrollingPerSecond(300.0);
    autoscroll(0, 100, 0.1);
    autoscroll(0, 100, 0.1);
    ASSERT_EQ(clipView->origin().y, 130);
    clipView->setMaxScrollingPerSecond(std::nullopt);
    // The wheel moves the list far away between two quick drags.
    area.verticalScrollBar()->setValue(8000);

    clipView->setMaxScrollingPerSecond(300.0);
    EXPECT_FALSE(clipView->lastOrigin());
    EXPECT_FALSE(clipView->lastScrollDate());
    // Not pulled back towards 130 at the first step of the second drag.
    EXPECT_EQ(autoscroll(0, 50, 0.05).y, 8050);
    EXPECT_EQ(autoscroll(0, 50, 0.1).y, 8080);
}

} // namespace
} // namespace velmora
