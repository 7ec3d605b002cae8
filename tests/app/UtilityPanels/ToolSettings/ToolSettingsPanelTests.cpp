#include "Rendering/DrawingSettings.hpp"
#include "UtilityPanels/ToolSettings/NotApplicableTabViewController.hpp"
#include "UtilityPanels/ToolSettings/SettingViewController.hpp"
#include "UtilityPanels/ToolSettings/ToolSettingsViewController.hpp"
#include "UtilityPanels/ToolSettings/ToolSettingsWindowController.hpp"
#include "UtilityPanels/UtilityPanelStoryboards.hpp"
#include "Utils/ValueTransformers.hpp"
#include "coding/KeyedArchiver.hpp"
#include "desktop/NSCoderAdditions.hpp"
#include "desktop/NSColorPanel.hpp"
#include "desktop/NSStoryboard.hpp"
#include "desktop/NSWindow.hpp"
#include "foundation/UserDefaults.hpp"

#include <QCoreApplication>
#include <gtest/gtest.h>

namespace velmora {
namespace {

class ToolSettingsPanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        registerValueTransformers();
        registerUtilityPanelStoryboards();
        settings.setUsingStylusEraser(false);
        settings.setPersistentTool(DrawingTool::brush);
        settings.color = DrawingSettings::defaultColor();
        for (const char* key :
             {ToolSettingsViewController::defaultIdentifier, DrawingSettings::defaultsKey,
              "NSWindow Frame ToolSettingsWindowController"}) {
            UserDefaults::standard().removeObjectForKey(key);
        }
        if (NSColorPanel::sharedColorPanelExists()) {
            NSColorPanel::sharedColorPanel().close();
        }
    }
    void TearDown() override { SetUp(); }

    DrawingSettings& settings = DrawingSettings::shared();
};

TEST_F(ToolSettingsPanelTest, ThePanelFollowsTheToolInPageAndTitle) {
    settings.setPersistentTool(DrawingTool::eraser);
    auto controller = NSStoryboard::instantiateController<ToolSettingsWindowController>(
        "Tool Settings", "ToolSettings");
    std::shared_ptr<NSWindow> panel = controller->window();
    EXPECT_EQ(panel->title(), "Eraser Tool Settings");
    auto tabs =
        std::dynamic_pointer_cast<NotApplicableTabViewController>(panel->contentViewController());
    ASSERT_TRUE(tabs);
    EXPECT_EQ(tabs->selectedTabViewItemIndex(), 1);

    settings.setPersistentTool(DrawingTool::move);
    EXPECT_EQ(panel->title(), "Move Tool Settings");
    EXPECT_EQ(tabs->selectedTabViewItemIndex(), 0);
    settings.setPersistentTool(DrawingTool::brush);
    EXPECT_EQ(panel->title(), "Brush Tool Settings");
    EXPECT_EQ(tabs->selectedTabViewItemIndex(), 1);

    // The five rows got their settings from the segues before they loaded.
    auto page =
        std::dynamic_pointer_cast<ToolSettingsViewController>(tabs->childViewControllers().front());
    ASSERT_TRUE(page);
    std::vector<SettingViewController::Setting> rows;
    for (const auto& child : page->childViewControllers()) {
        rows.push_back(*std::dynamic_pointer_cast<SettingViewController>(child)->setting);
    }
    using S = SettingViewController::Setting;
    EXPECT_EQ(rows,
              (std::vector<S>{S::size, S::hardness, S::opacity, S::spacing, S::stabilization}));
}

TEST_F(ToolSettingsPanelTest, ColourAndColourPanelFrameRoundTrip) {
    auto page = std::make_shared<ToolSettingsViewController>();
    page->loadViewIfNeeded();
    // An empty saved state gives the default colour.
    settings.color = NSColor::colorWithSRGBRed(0.2, 0.4, 0.6, 1);
    UserDefaults::standard().set(DefaultsValue(KeyedArchiver(true).encodedData()),
                                 ToolSettingsViewController::defaultIdentifier);
    page->restoreUIState();
    EXPECT_EQ(*settings.color, *DrawingSettings::defaultColor());

    const NSColorRef chosen = NSColor::colorWithSRGBRed(0.25, 0.5, 0.75, 1);
    page->setColor(chosen);
    page->colorWell->activate(true);
    CGRect frame = NSColorPanel::sharedColorPanel().frame();
    frame.origin = {120, 140};
    NSColorPanel::sharedColorPanel().setFrame(frame);
    page->saveUIState();
    settings.color = DrawingSettings::defaultColor();
    NSColorPanel::sharedColorPanel().close();

    auto next = std::make_shared<ToolSettingsViewController>();
    next->loadViewIfNeeded();
    next->restoreUIState();
    EXPECT_EQ(*settings.color, *chosen);
    EXPECT_EQ(*next->colorWell->color(), *chosen);
    EXPECT_TRUE(NSColorPanel::sharedColorPanel().isVisible());
    EXPECT_TRUE(next->colorWell->isActive());
    EXPECT_EQ(NSColorPanel::sharedColorPanel().frame(), frame);

    // Saved while the colour panel is closed: it stays closed at the next launch.
    NSColorPanel::sharedColorPanel().close();
    next->saveUIState();
    auto third = std::make_shared<ToolSettingsViewController>();
    third->loadViewIfNeeded();
    third->restoreUIState();
    EXPECT_FALSE(NSColorPanel::sharedColorPanel().isVisible());
}

TEST_F(ToolSettingsPanelTest, ColoursChosenInTheWellBecomeTheDrawingColour) {
    auto page = std::make_shared<ToolSettingsViewController>();
    page->loadViewIfNeeded();
    page->colorWell->click();
    NSColorPanel::sharedColorPanel().dialog()->setCurrentColor(QColor(255, 0, 0));
    EXPECT_EQ(*settings.color, *NSColor::colorWithSRGBRed(1, 0, 0, 1));
}

TEST_F(ToolSettingsPanelTest, HidingAndQuittingWriteTheDrawingSettings) {
    auto controller = NSStoryboard::instantiateController<ToolSettingsWindowController>(
        "Tool Settings", "ToolSettings");
    controller->showWindow();
    settings.modifyBaseBrush([](Brush& brush) { brush.name = "Saved at hide"; });
    controller->window()->orderOut();
    ASSERT_TRUE(UserDefaults::standard().dataForKey(DrawingSettings::defaultsKey));
    EXPECT_TRUE(UserDefaults::standard().dataForKey(ToolSettingsViewController::defaultIdentifier));

    UserDefaults::standard().removeObjectForKey(DrawingSettings::defaultsKey);
    UserDefaults::standard().removeObjectForKey(ToolSettingsViewController::defaultIdentifier);
    QMetaObject::invokeMethod(QCoreApplication::instance(), "aboutToQuit", Qt::DirectConnection);
    EXPECT_TRUE(UserDefaults::standard().dataForKey(DrawingSettings::defaultsKey));
    EXPECT_TRUE(UserDefaults::standard().dataForKey(ToolSettingsViewController::defaultIdentifier));
}

} // namespace
} // namespace velmora
