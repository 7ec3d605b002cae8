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

#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(UtilityPanelPlace, PanelsHangFromTheTopCornersAndStayInView) {
    constexpr double title = UtilityPanelPlace::titleBarAllowance;
    struct Case {
        const char* name;
        UtilityPanelPlace place;
        CGSize panel;
        CGRect area;
        CGPoint origin;
    };
    const Case cases[] = {
        {"top left", {0, 0, false}, {68, 160}, {{0, 40}, {1600, 960}}, {0, 960 - title - 160}},
        {"below another",
         {0, 188, false},
         {220, 320},
         {{0, 0}, {1600, 1000}},
         {0, 1000 - title - 188 - 320}},
        {"top right", {0, 0, true}, {340, 420}, {{0, 0}, {1600, 1000}}, {1260, 1000 - title - 420}},
        {"too low for the screen: at the bottom",
         {0, 500, false},
         {220, 320},
         {{0, 0}, {800, 600}},
         {0, 0}},
        {"taller than the screen: top in view",
         {0, 0, false},
         {290, 700},
         {{0, 0}, {800, 600}},
         {0, -100}},
        {"wider than the screen: left edge in view",
         {0, 0, true},
         {900, 100},
         {{0, 0}, {800, 600}},
         {0, 600 - title - 100}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.place.defaultFrameOrigin(c.panel, c.area), c.origin) << c.name;
    }
}

bool overlap(const CGRect& a, const CGRect& b) {
    return a.minX() < b.maxX() && b.minX() < a.maxX() && a.minY() < b.maxY() && b.minY() < a.maxY();
}

TEST(UtilityPanelPlace, TheStoryboardsPutThePanelsAlongTheTopOnFirstRun) {
    const char* names[] = {"ToolsPresetsWindowController", "ToolSettingsWindowController",
                           "ToolsWindowController", "LayersWindowController"};
    for (const char* name : names) {
        UserDefaults::standard().removeObjectForKey(NSWindow::frameDefaultsKey(name));
    }
    registerValueTransformers();
    registerUtilityPanelStoryboards();
    const std::vector<std::shared_ptr<NSWindowController>> controllers{
        NSStoryboard::instantiateController<ToolsWindowController>("Tools", "Tools"),
        NSStoryboard::instantiateController<ToolsPresetsWindowController>("Tools Presets",
                                                                          "PresetsPanel"),
        NSStoryboard::instantiateController<ToolSettingsWindowController>("Tool Settings",
                                                                          "ToolSettings"),
        NSStoryboard::instantiateController<LayersWindowController>("Layers", "Layers")};
    std::vector<CGRect> frames;
    for (const auto& controller : controllers) {
        const CGRect frame = controller->window()->frame();
        const CGRect area = controller->window()->screen()->visibleFrame();
        EXPECT_GE(frame.minX(), area.minX());
        EXPECT_LE(frame.maxX(), area.maxX());
        EXPECT_GE(frame.minY(), area.minY());
        EXPECT_LE(frame.maxY(), area.maxY());
        frames.push_back(frame);
    }
    // Tools, Tool Settings and Layers at the top; the presets under the tools.
    const CGRect area = controllers.front()->window()->screen()->visibleFrame();
    for (const size_t top : {0, 2, 3}) {
        EXPECT_EQ(frames[top].maxY(), area.maxY() - UtilityPanelPlace::titleBarAllowance) << top;
    }
    EXPECT_FALSE(overlap(frames[0], frames[1]));
    EXPECT_LT(frames[1].maxY(), frames[0].minY());
    EXPECT_EQ(frames[3].maxX(), area.maxX());
    for (const char* name : names) {
        UserDefaults::standard().removeObjectForKey(NSWindow::frameDefaultsKey(name));
    }
}

} // namespace
} // namespace velmora
