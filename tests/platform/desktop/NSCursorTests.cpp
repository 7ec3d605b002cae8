#include "desktop/NSCursor.hpp"
#include "foundation/DispatchQueue.hpp"

#include <QCoreApplication>
#include <QGuiApplication>
#include <gtest/gtest.h>

using namespace velmora;

namespace {

std::shared_ptr<NSCursor> ringCursor() {
    QImage one(8, 8, QImage::Format_ARGB32_Premultiplied);
    one.fill(Qt::white);
    QImage two(16, 16, QImage::Format_ARGB32_Premultiplied);
    two.fill(Qt::black);
    return NSCursor::make({one, two}, {8, 8}, {4, 4});
}

class NSCursorTest : public ::testing::Test {
protected:
    void TearDown() override {
        while (NSCursor::stackDepth() > 0) {
            NSCursor::pop();
        }
        while (NSCursor::isHidden()) {
            NSCursor::unhide();
        }
        QCoreApplication::processEvents();
    }

    static std::optional<Qt::CursorShape> overrideShape() {
        const QCursor* c = QGuiApplication::overrideCursor();
        return c != nullptr ? std::optional(c->shape()) : std::nullopt;
    }
};

} // namespace

TEST_F(NSCursorTest, PushSetAndPopFollowTheStack) {
    const auto& hand = NSCursor::openHandCursor();
    const auto& closed = NSCursor::closedHandCursor();
    EXPECT_EQ(NSCursor::currentCursor(), NSCursor::arrowCursor());
    NSCursor::pop(); // an empty stack: nothing happens
    EXPECT_EQ(NSCursor::stackDepth(), 0u);

    hand->push();
    closed->push();
    EXPECT_EQ(NSCursor::currentCursor(), closed);
    EXPECT_EQ(overrideShape(), Qt::ClosedHandCursor);
    NSCursor::crosshairCursor()->set();
    EXPECT_EQ(NSCursor::currentCursor(), NSCursor::crosshairCursor());
    EXPECT_EQ(NSCursor::stackDepth(), 2u);
    NSCursor::pop();
    EXPECT_EQ(NSCursor::currentCursor(), hand);
    EXPECT_EQ(overrideShape(), Qt::OpenHandCursor);
    NSCursor::pop();
    EXPECT_EQ(overrideShape(), std::nullopt) << "an empty stack leaves the widgets' cursors";
}

TEST_F(NSCursorTest, HidingIsCountedAndUnhidingAShownCursorDoesNothing) {
    NSCursor::unhide();
    NSCursor::openHandCursor()->push();
    NSCursor::hide();
    NSCursor::hide();
    EXPECT_EQ(overrideShape(), Qt::BlankCursor);
    NSCursor::unhide();
    EXPECT_EQ(overrideShape(), Qt::BlankCursor);
    NSCursor::unhide();
    EXPECT_EQ(overrideShape(), Qt::OpenHandCursor);
}

TEST_F(NSCursorTest, CallsFromASerialQueueWhileMainWaitsAreShownByMain) {
    DispatchQueue queue("NSCursor.set() queue", DispatchQoS::userInitiated);
    const auto cursor = ringCursor();
    queue.sync([&] { cursor->push(); });
    EXPECT_EQ(NSCursor::currentCursor(), cursor);
    QCoreApplication::processEvents();
    const QCursor* shown = QGuiApplication::overrideCursor();
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->shape(), Qt::BitmapCursor);
    EXPECT_EQ(shown->hotSpot(), QPoint(4, 4));

    queue.sync([&] { NSCursor::resizeLeftRightCursor()->set(); });
    queue.sync([] { NSCursor::pop(); });
    queue.sync([] { NSCursor::pop(); });
    EXPECT_EQ(NSCursor::stackDepth(), 0u);
    QCoreApplication::processEvents();
    EXPECT_EQ(overrideShape(), std::nullopt);
}

TEST_F(NSCursorTest, ImageForAScaleIsTheSmallestFineEnough) {
    const auto cursor = ringCursor();
    EXPECT_EQ(cursor->image(1).width(), 8);
    EXPECT_EQ(cursor->image(1.5).width(), 16);
    EXPECT_EQ(cursor->image(2).width(), 16);
    EXPECT_EQ(cursor->image(3).width(), 16);
    EXPECT_TRUE(NSCursor::crosshairCursor()->image().isNull());
    EXPECT_EQ(NSCursor::crosshairCursor(), NSCursor::crosshairCursor());
}
