#include "App/DrawWithMouseWindowController.hpp"
#include "App/Preferences.hpp"

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

using namespace velmora;

namespace {

template <class T> T* shownChild(const char* name) {
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (auto* child = top->findChild<T*>(name); child && top->isVisible()) {
            return child;
        }
    }
    return nullptr;
}

// Shows the warning and, once it runs, acts as the user.
bool showAndAnswer(const std::function<void()>& answer) {
    bool shown = false;
    QTimer::singleShot(0, [&] {
        shown = shownChild<QPushButton>("keepDisabled") != nullptr;
        answer();
    });
    DrawWithMouseWindowController::showIfNotDisabled();
    QApplication::processEvents();
    return shown;
}

class DrawWithMouseWarningTest : public ::testing::Test {
protected:
    void SetUp() override {
        DrawWithMouseWindowController::registerStoryboard();
        preferences.setAllowDrawingWithMouse(false);
        preferences.setDrawingWithMouseWarningDisabled(false);
    }
    void TearDown() override { SetUp(); }
    Preferences& preferences = Preferences::shared();
};

} // namespace

TEST_F(DrawWithMouseWarningTest, AnswersSetThePreferencesTheySay) {
    struct Case {
        const char* button;
        bool tick;
        bool allowed;
        bool warningDisabled;
    };
    const Case cases[] = {
        {"keepDisabled", false, false, false},
        {"keepDisabled", true, false, true},
        {"enableDrawingWithMouse", false, true, false},
    };
    for (const Case& test : cases) {
        SetUp();
        EXPECT_TRUE(showAndAnswer([&] {
            if (test.tick) {
                shownChild<QCheckBox>("warningCheckBox")->setChecked(true);
            }
            shownChild<QPushButton>(test.button)->click();
        })) << test.button;
        EXPECT_EQ(preferences.allowDrawingWithMouse(), test.allowed) << test.button;
        EXPECT_EQ(preferences.drawingWithMouseWarningDisabled(), test.warningDisabled);
        EXPECT_EQ(shownChild<QPushButton>("keepDisabled"), nullptr) << "closed";
    }
}

TEST_F(DrawWithMouseWarningTest, DisabledWarningAndRequestWhileOpenShowNothing) {
    preferences.setDrawingWithMouseWarningDisabled(true);
    EXPECT_FALSE(showAndAnswer([] {}));

    preferences.setDrawingWithMouseWarningDisabled(false);
    bool nestedReturned = false;
    EXPECT_TRUE(showAndAnswer([&] {
        DrawWithMouseWindowController::showIfNotDisabled();
        nestedReturned = true;
        shownChild<QPushButton>("keepDisabled")->click();
    }));
    EXPECT_TRUE(nestedReturned);
    EXPECT_FALSE(preferences.allowDrawingWithMouse());
}
