#include "UtilityPanels/Layers/LayersWindowController.hpp"
#include "UtilityPanels/ToolSettings/ToolSettingsWindowController.hpp"
#include "UtilityPanels/Tools/ToolsPresetsWindowController.hpp"
#include "UtilityPanels/Tools/ToolsWindowController.hpp"
#include "UtilityPanels/UtilityPanelPlace.hpp"
#include "UtilityPanels/UtilityPanelStoryboards.hpp"
#include "Utils/ValueTransformers.hpp"
#include "desktop/NSScreen.hpp"
#include "desktop/NSStoryboard.hpp"
#include "desktop/NSWindow.hpp"
#include "foundation/UserDefaults.hpp"

#include <QMenuBar>
#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(UtilityPanelPlace, PanelsHangBelowTheClearBandFromTheTopCornersAndStayInView) {
    struct Case {
        const char* name;
        UtilityPanelPlace place;
        CGSize panel;
        CGRect area;
        double clearTop;
        CGPoint origin;
    };
    const Case cases[] = {
        {"top left", {0, 0, false}, {68, 160}, {{0, 40}, {1600, 960}}, 50, {0, 960 - 50 - 160}},
        {"below another",
         {0, 188, false},
         {220, 320},
         {{0, 0}, {1600, 1000}},
         50,
         {0, 1000 - 50 - 188 - 320}},
        {"top right", {0, 0, true}, {340, 420}, {{0, 0}, {1600, 1000}}, 0, {1260, 1000 - 420}},
        {"inset from the right",
         {10, 0, true},
         {340, 420},
         {{0, 0}, {1920, 1080}},
         47,
         {1570, 1080 - 47 - 420}},
        {"too low for the screen: at the bottom",
         {0, 500, false},
         {220, 320},
         {{0, 0}, {800, 600}},
         50,
         {0, 0}},
        {"taller than the screen: top in view",
         {0, 0, false},
         {290, 700},
         {{0, 0}, {800, 600}},
         50,
         {0, -100}},
        {"wider than the screen: left edge in view",
         {0, 0, true},
         {900, 100},
         {{0, 0}, {800, 600}},
         50,
         {0, 600 - 50 - 100}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.place.defaultFrameOrigin(c.panel, c.area, c.clearTop), c.origin) << c.name;
    }
}

TEST(UtilityPanelPlace, TheStoryboardsPutThePanelsAlongTheTopOnFirstRun) {
    const char* names[] = {"ToolsWindowController", "ToolsPresetsWindowController",
                           "ToolSettingsWindowController", "LayersWindowController"};
    const auto clear = [&] {
        for (const char* name : names) {
            UserDefaults::standard().removeObjectForKey(NSWindow::frameDefaultsKey(name));
        }
    };
    clear();
    registerValueTransformers();
    registerUtilityPanelStoryboards();
    const CGRect frames[] = {
        NSStoryboard::instantiateController<ToolsWindowController>("Tools", "Tools")
            ->window()
            ->frame(),
        NSStoryboard::instantiateController<ToolsPresetsWindowController>("Tools Presets",
                                                                          "PresetsPanel")
            ->window()
            ->frame(),
        NSStoryboard::instantiateController<ToolSettingsWindowController>("Tool Settings",
                                                                          "ToolSettings")
            ->window()
            ->frame(),
        NSStoryboard::instantiateController<LayersWindowController>("Layers", "Layers")
            ->window()
            ->frame()};
    const CGRect area = NSScreen::screens().front()->visibleFrame();
    // Below a maximised document window's title bar and menu bar.
    QMenuBar bar;
    bar.addMenu(QStringLiteral("Help"));
    const double top = frames[0].maxY();
    EXPECT_LE(top, area.maxY() - UtilityPanelPlace::titleBarAllowance - bar.sizeHint().height());
    EXPECT_GE(top,
              area.maxY() - 2 * UtilityPanelPlace::titleBarAllowance - 2 * bar.sizeHint().height());
    // The frames hold the decorations last seen on a panel (none before one shows).
    const double toolsDecorations = frames[0].height() - 160;
    EXPECT_EQ(frames[1].maxY(),
              frames[0].minY() + toolsDecorations - UtilityPanelPlace::titleBarAllowance)
        << "presets under the tools";
    EXPECT_EQ(frames[2].maxY(), top) << "tool settings";
    EXPECT_EQ(frames[3].maxY(), top) << "layers";
    EXPECT_EQ(frames[0].minX(), area.minX());
    EXPECT_EQ(frames[3].maxX(), area.maxX());
    clear();
}

} // namespace
} // namespace velmora
