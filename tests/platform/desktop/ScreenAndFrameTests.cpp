#include "desktop/NSScreen.hpp"
#include "desktop/NSWindow.hpp"
#include "foundation/UserDefaults.hpp"

#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

using namespace velmora;

namespace {

QRect primaryGeometry() {
    return QGuiApplication::primaryScreen()->geometry();
}

} // namespace

TEST(NSScreenTest, ScreenPointsCountUpFromThePrimaryScreensBottom) {
    const QRect primary = primaryGeometry();
    const double bottom = primary.y() + primary.height();
    struct Case {
        QPointF qt;
        CGPoint screen;
    };
    const Case cases[] = {
        {{double(primary.x()), bottom}, {0, 0}},
        {{double(primary.x()), double(primary.y())}, {0, double(primary.height())}},
        {{primary.x() + 10.5, bottom - 20}, {10.5, 20}},
        {{primary.x() - 5.0, bottom + 7}, {-5, -7}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NSScreen::pointFromQt(c.qt), c.screen);
        EXPECT_EQ(NSScreen::qtPoint(c.screen), c.qt);
    }
    // A rectangle's origin is its bottom-left corner.
    const QRect qt(primary.x() + 30, primary.y() + 40, 200, 100);
    const CGRect screen = NSScreen::rectFromQt(qt);
    EXPECT_EQ(screen, (CGRect{{30, double(primary.height() - 140)}, {200, 100}}));
    EXPECT_EQ(NSScreen::qtRect(screen), qt);

    const auto screens = NSScreen::screens();
    ASSERT_FALSE(screens.empty());
    EXPECT_EQ(screens.front()->frame().origin, CGPoint::zero());
}

TEST(NSScreenTest, ViewPointsFlipInsideTheView) {
    QWidget view;
    view.resize(300, 200);
    EXPECT_EQ(viewPointFromQt(view, {10, 0}), (CGPoint{10, 200}));
    EXPECT_EQ(viewPointFromQt(view, {10, 150}), (CGPoint{10, 50}));
    EXPECT_EQ(qtPointFromView(view, {10, 50}), QPointF(10, 150));
}

TEST(NSWindowFrameTest, FrameIsInScreenPointsAndSurvivesAutosave) {
    UserDefaults::standard().removeObjectForKey(NSWindow::frameDefaultsKey("Inspector"));
    auto first = std::make_shared<NSWindow>(CGRect{{50, 60}, {220, 140}});
    EXPECT_EQ(first->frame(), (CGRect{{50, 60}, {220, 140}}));
    EXPECT_TRUE(first->setFrameAutosaveName("Inspector"));
    // Nothing is stored until the frame changes or the window closes.
    EXPECT_FALSE(UserDefaults::standard().stringForKey(NSWindow::frameDefaultsKey("Inspector")));
    first->orderFront();
    first->setFrame({{70, 90}, {260, 180}});
    QTest::qWait(450);
    const auto stored =
        UserDefaults::standard().stringForKey(NSWindow::frameDefaultsKey("Inspector"));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->substr(0, 14), "70 90 260 180 ");

    auto second = std::make_shared<NSWindow>(CGRect{{0, 0}, {100, 100}});
    EXPECT_FALSE(second->setFrameAutosaveName("Inspector")) << "one window per name";
    first->close();
    first.reset();
    EXPECT_TRUE(second->setFrameAutosaveName("Inspector"));
    EXPECT_EQ(second->frame(), (CGRect{{70, 90}, {260, 180}}));
}

TEST(NSWindowFrameTest, UnusableStoredFramesAreIgnoredOrBroughtOnScreen) {
    auto window = std::make_shared<NSWindow>(CGRect{{10, 20}, {200, 100}});
    const std::string key = NSWindow::frameDefaultsKey("Damaged");
    for (const char* damaged :
         {"", "garbage", "1 2 3", "0 0 -5 10 ", "nan 0 10 10", "1e300 0 1 1"}) {
        UserDefaults::standard().set(DefaultsValue(damaged), key);
        EXPECT_FALSE(window->setFrameUsingName("Damaged")) << damaged;
        EXPECT_EQ(window->frame(), (CGRect{{10, 20}, {200, 100}})) << damaged;
    }
    // A frame left on a screen that is gone comes back at the primary's top left.
    UserDefaults::standard().set(DefaultsValue("50000 50000 300 200 0 0 1 1 "), key);
    EXPECT_TRUE(window->setFrameUsingName("Damaged"));
    const CGRect area = NSScreen::screens().front()->visibleFrame();
    EXPECT_EQ(window->frame(), (CGRect{{area.minX(), area.maxY() - 200}, {300, 200}}));
    UserDefaults::standard().removeObjectForKey(key);
}
