#include "desktop/NSScreen.hpp"
#include "desktop/NSWindow.hpp"
#include "foundation/UserDefaults.hpp"

#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>
#include <QTest>
#include <cstdlib>
#include <gtest/gtest.h>
#include <vector>

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
    // Stored once the frame has settled, which a loaded machine may be late to see.
    const auto storedFrame = [] {
        return UserDefaults::standard().stringForKey(NSWindow::frameDefaultsKey("Inspector"));
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return storedFrame().has_value(); }, 20000));
    const auto stored = storedFrame();
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
    const CGRect initial = window->frame();
    const std::string key = NSWindow::frameDefaultsKey("Damaged");
    for (const char* damaged :
         {"", "garbage", "1 2 3", "0 0 -5 10 ", "nan 0 10 10", "1e300 0 1 1"}) {
        UserDefaults::standard().set(DefaultsValue(damaged), key);
        EXPECT_FALSE(window->setFrameUsingName("Damaged")) << damaged;
        EXPECT_EQ(window->frame(), initial) << damaged;
    }
    // A frame left on a screen that is gone comes back at the primary's top left.
    UserDefaults::standard().set(DefaultsValue("50000 50000 300 200 0 0 1 1 "), key);
    EXPECT_TRUE(window->setFrameUsingName("Damaged"));
    const CGRect area = NSScreen::screens().front()->visibleFrame();
    EXPECT_EQ(window->frame(), (CGRect{{area.minX(), area.maxY() - 200}, {300, 200}}));
    UserDefaults::standard().removeObjectForKey(key);
}

// Each round is a launch: a new window restores the frame before it is shown,
// the window system decorates it (the offscreen platform adds a border), and
// closing saves the frame again.
TEST(NSWindowFrameTest, AFrameSavedAndRestoredFiveTimesStaysWhereItWas) {
    const std::string key = NSWindow::frameDefaultsKey("Cycled");
    UserDefaults::standard().removeObjectForKey(key);
    const CGRect placed{{120, 140}, {260, 180}};
    std::vector<CGRect> shown;
    for (int launch = 0; launch < 5; ++launch) {
        auto window = std::make_shared<NSWindow>(CGRect{{0, 0}, {300, 200}});
        ASSERT_TRUE(window->setFrameAutosaveName("Cycled"));
        window->orderFront();
        QTest::qWait(20);
        if (launch == 0) {
            window->setFrame(placed);
            QTest::qWait(20);
        }
        const QRect outer = window->widget()->frameGeometry();
        const QRect inner = window->widget()->geometry();
        ASSERT_LT(outer.top(), inner.top()) << "the window system decorates the window";
        shown.push_back(window->frame());
        window->close();
    }
    for (int launch = 0; launch < 5; ++launch) {
        EXPECT_EQ(shown[launch], placed) << "launch " << launch;
    }
    UserDefaults::standard().removeObjectForKey(key);
}

TEST(NSWindowFrameTest, AFrameIsPlacedByItsCornerBeforeTheWindowIsShown) {
    auto window = std::make_shared<NSWindow>(CGRect{{0, 0}, {300, 200}});
    const CGRect before = window->frame();
    window->setFrameTopLeftPoint({40, 500});
    window->orderFront();
    QTest::qWait(20);
    const CGRect after = window->frame();
    EXPECT_EQ(after.minX(), 40);
    EXPECT_EQ(after.maxY(), 500) << "the top-left corner stays where it was put";
    EXPECT_EQ(window->contentView()->window()->size(), QSize(300, 200))
        << "the content keeps its size";
    EXPECT_GE(after.width(), before.width());
    window->close();

    // A window without decorations is never given the guessed ones.
    const CGRect content{{30, 40}, {120, 50}};
    auto borderless = std::make_shared<NSWindow>(content, NSWindowStyleMask::borderless);
    EXPECT_EQ(borderless->frame(), content);
    borderless->setFrameOrigin({60, 70});
    EXPECT_EQ(borderless->frame(), (CGRect{{60, 70}, {120, 50}}));
}

// A sheet attached before its window is maximised hangs below the menu bar,
// centred across the window, wherever the window goes.
TEST(NSWindowFrameTest, ASheetFollowsItsWindowBelowTheMenuBar) {
    auto parent = std::make_shared<NSWindow>(CGRect{{100, 100}, {400, 300}});
    parent->widget()->menuBar()->addMenu(QStringLiteral("Help"));
    parent->makeKeyAndOrderFront();
    auto sheet = std::make_shared<NSWindow>(CGRect{{0, 0}, {120, 60}}, NSWindowStyleMask::titled);
    parent->beginSheet(sheet);
    EXPECT_TRUE(sheet->widget()->windowFlags().testFlag(Qt::FramelessWindowHint));
    const auto expectHanging = [&](const char* when) {
        const QRect window = parent->widget()->frameGeometry();
        const QRect hanging = sheet->widget()->frameGeometry();
        const int menuBottom =
            parent->widget()->geometry().top() + parent->widget()->menuBar()->sizeHint().height();
        EXPECT_EQ(hanging.top(), menuBottom) << when;
        EXPECT_LE(std::abs(hanging.center().x() - window.center().x()), 1) << when;
    };
    QTest::qWait(20);
    expectHanging("attached");
    parent->setFrame({{0, 0}, {900, 600}});
    QTest::qWait(20);
    expectHanging("after the window grew");
    parent->setFrameOrigin({200, 50});
    QTest::qWait(20);
    expectHanging("after the window moved");
    parent->endSheet(sheet);
    parent->close();
}
