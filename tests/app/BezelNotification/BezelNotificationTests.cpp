#include "BezelNotification/BezelNotification.hpp"
#include "desktop/NSAttributedString.hpp"
#include "desktop/NSWindow.hpp"
#include "foundation/Timer.hpp"

#include <QLabel>
#include <QTimer>
#include <QVariantAnimation>
#include <gtest/gtest.h>

using namespace velmora;

namespace {

// Runs the running fade to its end, as the clock would.
void finishFade(BezelNotification& bezel) {
    QVariantAnimation* animation = bezel.currentAnimation();
    ASSERT_NE(animation, nullptr);
    animation->setCurrentTime(animation->totalDuration());
}

std::shared_ptr<BezelNotification> makeBezel(std::optional<double> interval) {
    return std::make_shared<BezelNotification>(
        NSAttributedString({{"Size 12 px", QFont("Sans", 18)}}), interval);
}

} // namespace

TEST(BezelNotificationTest, ShowFadesInAndOutAfterTheIntervalThenHides) {
    auto bezel = makeBezel(2.0);
    EXPECT_FALSE(bezel->isVisible());
    bezel->show();
    finishFade(*bezel);
    EXPECT_TRUE(bezel->isVisible());
    EXPECT_EQ(bezel->window()->alphaValue(), 1.0);
    ASSERT_TRUE(bezel->fadeOutTimer());
    EXPECT_DOUBLE_EQ(bezel->fadeOutTimer()->timeInterval().count(), 2.0);

    bezel->fadeOutTimer()->fire();
    EXPECT_EQ(bezel->currentAnimation()->duration(), 500);
    finishFade(*bezel);
    EXPECT_FALSE(bezel->isVisible());
    EXPECT_FALSE(bezel->window()->isVisible()) << "hidden, not only transparent";
}

TEST(BezelNotificationTest, SecondShowUpdatesTextKeepsPlaceAndRestartsTheInterval) {
    auto bezel = makeBezel(2.0);
    bezel->show();
    finishFade(*bezel);
    const auto firstTimer = bezel->fadeOutTimer();
    const CGRect frame = bezel->window()->frame();

    bezel->window()->setFrameOrigin({frame.origin.x + 7, frame.origin.y});
    bezel->setText("Size 40 px");
    bezel->show();
    EXPECT_FALSE(firstTimer->isValid());
    EXPECT_EQ(bezel->text(), "Size 40 px");
    EXPECT_TRUE(bezel->label()->text().contains("Size 40 px"));
    EXPECT_EQ(bezel->window()->frame().origin.x, frame.origin.x + 7) << "not re-centred";
    finishFade(*bezel);
    ASSERT_TRUE(bezel->fadeOutTimer());
    EXPECT_NE(bezel->fadeOutTimer(), firstTimer);
}

TEST(BezelNotificationTest, DismissActsOncePerShowingAndWithoutIntervalStays) {
    auto bezel = makeBezel(std::nullopt);
    bezel->dismiss();
    EXPECT_EQ(bezel->currentAnimation(), nullptr) << "nothing without a showing";

    bezel->show();
    finishFade(*bezel);
    EXPECT_FALSE(bezel->fadeOutTimer()) << "no interval: stays";
    bezel->dismiss();
    QVariantAnimation* fadeOut = bezel->currentAnimation();
    bezel->dismiss();
    EXPECT_EQ(bezel->currentAnimation(), fadeOut) << "the second dismiss does nothing";
    finishFade(*bezel);
    EXPECT_FALSE(bezel->isVisible());
}

TEST(BezelNotificationTest, DismissedBezelIsNotFadedOutAgainByItsTimer) {
    auto bezel = makeBezel(2.0);
    bezel->show();
    finishFade(*bezel);
    const auto timer = bezel->fadeOutTimer();
    bezel->dismiss();
    finishFade(*bezel);
    timer->fire();
    EXPECT_EQ(bezel->window()->alphaValue(), 0.0) << "no flash back to full opacity";
}

TEST(BezelNotificationTest, ModalShowingEndsWhenItHasFadedOut) {
    auto bezel = makeBezel(0.01);
    QTimer::singleShot(0, [&] {
        finishFade(*bezel);
        bezel->fadeOutTimer()->fire();
        finishFade(*bezel);
    });
    bezel->showModal();
    EXPECT_FALSE(bezel->isVisible());
}

TEST(BezelNotificationTest, TheWindowIsTheLabelPlusTenPointsOnEverySide) {
    auto bezel = makeBezel(std::nullopt);
    const char* const texts[] = {"Size 12 px", "A longer text\non two lines", "Size 9 px"};
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        bezel->setText(text);
        bezel->show();
        finishFade(*bezel);
        const QSize label = bezel->label()->sizeHint();
        const CGRect frame = bezel->window()->frame();
        EXPECT_EQ(frame.width(), label.width() + 20);
        EXPECT_EQ(frame.height(), label.height() + 20);
        EXPECT_EQ(bezel->window()->widget()->size(), label + QSize(20, 20));
    }
}
