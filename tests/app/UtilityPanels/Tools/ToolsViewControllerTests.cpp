#include "Rendering/DrawingSettings.hpp"
#include "UtilityPanels/Tools/ToolsViewController.hpp"
#include "coding/KeyedArchiver.hpp"
#include "foundation/UserDefaults.hpp"
#include "platform/desktop/InputTestSupport.hpp"

#include <QApplication>
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
    EXPECT_EQ(controller->eraserToolButton->styleSheet(), "color: white;");
    EXPECT_TRUE(controller->moveToolButton->styleSheet().isEmpty());
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
