#include "Rendering/DrawingSettings.hpp"
#include "UtilityPanels/Tools/ToolIcon.hpp"
#include "UtilityPanels/Tools/ToolsViewController.hpp"
#include "coding/KeyedArchiver.hpp"
#include "foundation/UserDefaults.hpp"
#include "platform/desktop/InputTestSupport.hpp"

#include <QApplication>
#include <QImage>
#include <gtest/gtest.h>

namespace velmora {
namespace {

class ToolsViewControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        settings.setUsingStylusEraser(false);
        settings.setPersistentTool(DrawingTool::brush);
        UserDefaults::standard().removeObjectForKey(ToolsViewController::defaultIdentifier);
        controller->loadViewIfNeeded();
    }
    void TearDown() override {
        UserDefaults::standard().removeObjectForKey(ToolsViewController::defaultIdentifier);
        settings.setUsingStylusEraser(false);
        settings.setPersistentTool(DrawingTool::brush);
    }

    static void storeTool(std::int64_t tool) {
        KeyedArchiver archiver(true);
        archiver.encode(tool, "tool");
        UserDefaults::standard().set(DefaultsValue(archiver.encodedData()),
                                     ToolsViewController::defaultIdentifier);
    }

    std::vector<bool> buttonsOn() const {
        return {controller->moveToolButton->isChecked(), controller->brushToolButton->isChecked(),
                controller->eraserToolButton->isChecked()};
    }

    DrawingSettings& settings = DrawingSettings::shared();
    std::shared_ptr<ToolsViewController> controller = std::make_shared<ToolsViewController>();
};

TEST_F(ToolsViewControllerTest, ButtonsChooseTheToolAndShowTheReportedOne) {
    controller->moveToolButton->click();
    EXPECT_EQ(settings.persistentTool(), DrawingTool::move);
    EXPECT_EQ(buttonsOn(), (std::vector<bool>{true, false, false}));
    // Pushing the chosen button again keeps it on.
    controller->moveToolButton->click();
    EXPECT_EQ(buttonsOn(), (std::vector<bool>{true, false, false}));
    settings.setPersistentTool(DrawingTool::eraser);
    EXPECT_EQ(buttonsOn(), (std::vector<bool>{false, false, true}));
    EXPECT_EQ(controller->eraserToolButton->styleSheet(), ToolsViewController::chosenStyleSheet);
    EXPECT_TRUE(controller->moveToolButton->styleSheet().isEmpty());
}

// Opaque pixels of the button's image, and how many of them are white.
std::pair<int, int> inkAndWhite(const QToolButton& button) {
    const QImage image = button.icon().pixmap(ToolIcon::side).toImage();
    int ink = 0, white = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            ink += c.alpha() == 255 ? 1 : 0;
            white += c.alpha() == 255 && c.lightness() == 255 ? 1 : 0;
        }
    }
    return {ink, white};
}

TEST_F(ToolsViewControllerTest, ButtonsShowDrawnImagesTheChosenOneWhite) {
    settings.setPersistentTool(DrawingTool::move);
    std::vector<QImage> images;
    for (const QToolButton* button :
         {controller->moveToolButton.data(), controller->brushToolButton.data(),
          controller->eraserToolButton.data()}) {
        SCOPED_TRACE(button->text().toStdString());
        EXPECT_EQ(button->toolButtonStyle(), Qt::ToolButtonIconOnly);
        EXPECT_EQ(button->accessibleName(), button->text());
        const auto [ink, white] = inkAndWhite(*button);
        EXPECT_GT(ink, 20);
        EXPECT_EQ(white, button == controller->moveToolButton ? ink : 0) << "the chosen in white";
        images.push_back(button->icon().pixmap(ToolIcon::side).toImage());
    }
    EXPECT_NE(images[0], images[1]);
    EXPECT_NE(images[1], images[2]);
    EXPECT_EQ(controller->moveToolButton->text(), "Move");
    EXPECT_EQ(controller->brushToolButton->accessibleName(), "Brush");
    EXPECT_EQ(controller->eraserToolButton->accessibleName(), "Eraser");
}

TEST_F(ToolsViewControllerTest, OnlyAToolOfTheThreeIsRestored) {
    const struct {
        std::int64_t stored;
        DrawingTool expected;
    } cases[] = {{3, DrawingTool::brush},
                 {-1, DrawingTool::brush},
                 {2, DrawingTool::move},
                 {1, DrawingTool::eraser}};
    for (const auto& c : cases) {
        settings.setPersistentTool(DrawingTool::brush);
        storeTool(c.stored);
        controller->restoreUIState();
        EXPECT_EQ(settings.persistentTool(), c.expected) << c.stored;
    }
    // Saving writes the chosen tool for the next launch.
    settings.setPersistentTool(DrawingTool::move);
    controller->saveUIState();
    settings.setPersistentTool(DrawingTool::brush);
    controller->restoreUIState();
    EXPECT_EQ(settings.persistentTool(), DrawingTool::move);
}

TEST_F(ToolsViewControllerTest, TheStylusEraserEndIsFollowedThroughProximity) {
    auto entering = test::proximityEvent(true, test::eraser(7));
    QApplication::sendEvent(QApplication::instance(), &entering);
    EXPECT_TRUE(settings.usingStylusEraser());
    EXPECT_EQ(settings.currentTool(), DrawingTool::eraser);
    EXPECT_EQ(buttonsOn(), (std::vector<bool>{false, false, true}));
    auto tip = test::proximityEvent(true, test::pen(7));
    QApplication::sendEvent(QApplication::instance(), &tip);
    EXPECT_FALSE(settings.usingStylusEraser());
    EXPECT_EQ(buttonsOn(), (std::vector<bool>{false, true, false}));
}

TEST_F(ToolsViewControllerTest, QuittingSavesTheTool) {
    settings.setPersistentTool(DrawingTool::move);
    QMetaObject::invokeMethod(QCoreApplication::instance(), "aboutToQuit", Qt::DirectConnection);
    settings.setPersistentTool(DrawingTool::brush);
    controller->restoreUIState();
    EXPECT_EQ(settings.persistentTool(), DrawingTool::move);
}

} // namespace
} // namespace velmora
