#include "CursorPreview/CursorPreviewController.hpp"
#include "CursorPreview/CursorPreviewViewController.hpp"
#include "desktop/NSWindow.hpp"

#include <QGuiApplication>
#include <gtest/gtest.h>

namespace velmora {
namespace {

std::shared_ptr<NSCursor> circle(int side, CGPoint hotSpot) {
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            const int dx = 2 * x + 1 - side, dy = 2 * y + 1 - side;
            if (dx * dx + dy * dy <= side * side) {
                image.setPixelColor(x, y, Qt::black);
            }
        }
    }
    return NSCursor::make({image}, CGSize{CGFloat(side), CGFloat(side)}, hotSpot);
}

class CursorPreviewTest : public ::testing::Test {
protected:
    void SetUp() override {
        controller = CursorPreviewController::instantiate();
        controller->mouseLocationProxy = [this] { return mouse; };
        controller->loadWindowIfNeeded();
        content = controller->content();
        ASSERT_TRUE(content);
        content->cursorHideProxy = [this] { ++hides; };
        content->cursorUnhideProxy = [this] { ++unhides; };
    }
    void TearDown() override { emit qGuiApp->applicationStateChanged(Qt::ApplicationActive); }

    CGPoint origin() { return controller->window()->frame().origin; }

    std::shared_ptr<CursorPreviewController> controller;
    std::shared_ptr<CursorPreviewViewController> content;
    CGPoint mouse{300, 200};
    int hides = 0, unhides = 0;
};

TEST_F(CursorPreviewTest, ImageViewTakesTheCursorsSizeAndNothingWithoutOne) {
    controller->setCursor(nullptr);
    EXPECT_EQ(content->imageView()->size(), QSize(0, 0));
    EXPECT_TRUE(content->imageView()->pixmap().isNull());
    controller->setCursor(circle(24, {12, 12}));
    EXPECT_EQ(content->imageView()->size(), QSize(24, 24));
    EXPECT_FALSE(content->imageView()->pixmap().isNull());
    controller->setCursor(nullptr);
    EXPECT_EQ(content->imageView()->size(), QSize(0, 0));
}

TEST_F(CursorPreviewTest, HotSpotFollowsTheMouseOnlyWhileShown) {
    controller->setCursor(circle(20, {5, 3}));
    controller->followMouse();
    const CGPoint closed = origin();
    EXPECT_FALSE(closed == (CGPoint{295, 197})) << "closed: not moved";

    controller->showWindow();
    EXPECT_FALSE(controller->window()->isKeyWindow());
    controller->followMouse();
    EXPECT_EQ(origin(), (CGPoint{295, 197}));
    mouse = {40, 60};
    controller->followMouse();
    EXPECT_EQ(origin(), (CGPoint{35, 57}));

    controller->close();
    mouse = {500, 500};
    controller->followMouse();
    EXPECT_EQ(origin(), (CGPoint{35, 57}));
}

TEST_F(CursorPreviewTest, PointerHiddenOnceAndShownOnlyIfHidden) {
    controller->close();
    EXPECT_EQ(unhides, 0) << "never shown: nothing to give back";
    controller->showWindow();
    controller->showWindow();
    EXPECT_EQ(hides, 1);
    controller->close();
    controller->close();
    EXPECT_EQ(unhides, 1);
    controller->showWindow();
    EXPECT_EQ(hides, 2);
    controller->close();
    EXPECT_EQ(unhides, 2);
}

TEST_F(CursorPreviewTest, HiddenWhileInactiveAndClosedThenStaysClosed) {
    controller->showWindow();
    emit qGuiApp->applicationStateChanged(Qt::ApplicationInactive);
    EXPECT_FALSE(controller->window()->isVisible());
    emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_TRUE(controller->window()->isVisible());
    EXPECT_EQ(hides, 1) << "shown again: still hidden once";

    emit qGuiApp->applicationStateChanged(Qt::ApplicationInactive);
    controller->close(); // the release came while away
    EXPECT_EQ(unhides, 1);
    emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_FALSE(controller->window()->isVisible());
    EXPECT_EQ(hides, 1);
}

TEST(CursorPreview, DestroyedWhileShownGivesThePointerBack) {
    ASSERT_FALSE(NSCursor::isHidden());
    auto controller = CursorPreviewController::instantiate();
    controller->setCursor(circle(16, {8, 8}));
    controller->showWindow();
    EXPECT_TRUE(NSCursor::isHidden());
    const std::weak_ptr<NSWindow> window = controller->window();
    controller.reset();
    EXPECT_FALSE(NSCursor::isHidden());
    EXPECT_TRUE(window.expired());
}

} // namespace
} // namespace velmora
