#include "UtilityPanels/Layers/LayersWindowController.hpp"
#include "UtilityPanels/ToolSettings/ToolSettingsWindowController.hpp"
#include "UtilityPanels/Tools/ToolsPresetsWindowController.hpp"
#include "UtilityPanels/Tools/ToolsWindowController.hpp"
#include "desktop/NSPanel.hpp"
#include "desktop/UndoManager.hpp"
#include "foundation/UserDefaults.hpp"

#include <gtest/gtest.h>

namespace velmora {
namespace {

template <class Controller> std::shared_ptr<Controller> makePanelController(CGPoint origin) {
    auto controller = std::make_shared<Controller>();
    controller->defaultFrameOrigin = origin;
    controller->setWindowLoader([] {
        return std::make_shared<NSPanel>(CGRect{{300, 300}, {100, 80}});
    });
    return controller;
}

bool overlap(const CGRect& a, const CGRect& b) {
    return a.minX() < b.maxX() && b.minX() < a.maxX() && a.minY() < b.maxY() && b.minY() < a.maxY();
}

class UndoSource : public NSResponder {
public:
    std::shared_ptr<UndoManager> undoManager() override { return manager; }
    std::shared_ptr<UndoManager> manager = std::make_shared<UndoManager>();
};

class UtilityWindowControllerTest : public ::testing::Test {
protected:
    void SetUp() override { clearFrames(); }
    void TearDown() override {
        clearFrames();
        UtilityWindowController::setFrontDocumentUndoManagerProvider({});
    }
    static void clearFrames() {
        for (const char* name : {"ToolsPresetsWindowController", "ToolSettingsWindowController",
                                 "ToolsWindowController", "LayersWindowController"}) {
            UserDefaults::standard().removeObjectForKey(NSWindow::frameDefaultsKey(name));
        }
    }
};

TEST_F(UtilityWindowControllerTest, FirstRunPlacesEachPanelAtItsOffsetFromTheVisibleOrigin) {
    auto presets = makePanelController<ToolsPresetsWindowController>({0, 0});
    auto settings = makePanelController<ToolSettingsWindowController>({0, 120});
    auto tools = makePanelController<ToolsWindowController>({140, 0});
    auto layers = makePanelController<LayersWindowController>({140, 120});
    std::shared_ptr<NSScreen> screen = NSScreen::screens().front();
    const CGPoint visible = screen->visibleFrame().origin;
    std::vector<CGRect> frames;
    for (const std::shared_ptr<UtilityWindowController>& controller :
         std::vector<std::shared_ptr<UtilityWindowController>>{presets, settings, tools, layers}) {
        auto panel = std::dynamic_pointer_cast<NSPanel>(controller->window());
        ASSERT_TRUE(panel);
        EXPECT_TRUE(panel->isFloatingPanel());
        EXPECT_TRUE(panel->becomesKeyOnlyIfNeeded());
        EXPECT_EQ(panel->delegate(), std::dynamic_pointer_cast<NSWindowDelegate>(controller));
        EXPECT_FALSE(controller->shouldCascadeWindows());
        EXPECT_EQ(panel->frameAutosaveName(), controller->className());
        const CGPoint expected{visible.x + controller->defaultFrameOrigin.x,
                               visible.y + controller->defaultFrameOrigin.y};
        EXPECT_EQ(panel->frame().origin, expected) << controller->className();
        for (const CGRect& other : frames) {
            EXPECT_FALSE(overlap(panel->frame(), other)) << controller->className();
        }
        frames.push_back(panel->frame());
    }
    EXPECT_EQ(presets->className(), "ToolsPresetsWindowController");
    EXPECT_EQ(settings->className(), "ToolSettingsWindowController");
    EXPECT_EQ(tools->className(), "ToolsWindowController");
    EXPECT_EQ(layers->className(), "LayersWindowController");
}

TEST_F(UtilityWindowControllerTest, AStoredFrameIsRestoredAndNotMoved) {
    const CGRect moved{{210, 170}, {100, 80}};
    {
        auto first = makePanelController<ToolsWindowController>({0, 0});
        first->window()->setFrame(moved);
        first->window()->saveFrameUsingName(first->className());
    }
    auto next = makePanelController<ToolsWindowController>({0, 0});
    EXPECT_EQ(next->window()->frame(), moved);
}

TEST_F(UtilityWindowControllerTest, UndoGoesToTheFrontDocumentElseToTheResponderChain) {
    auto controller = makePanelController<ToolsPresetsWindowController>({0, 0});
    auto chain = std::make_shared<UndoSource>();
    controller->setNextResponder(chain);
    std::shared_ptr<NSWindow> panel = controller->window();
    EXPECT_EQ(panel->undoManager(), chain->manager);

    auto documentUndo = std::make_shared<UndoManager>();
    std::shared_ptr<UndoManager> front;
    UtilityWindowController::setFrontDocumentUndoManagerProvider([&] { return front; });
    EXPECT_EQ(panel->undoManager(), chain->manager); // no front document
    front = documentUndo;
    EXPECT_EQ(panel->undoManager(), documentUndo);
}

} // namespace
} // namespace velmora
