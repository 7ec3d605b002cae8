#pragma once

#include "ToolResponders/EventObserver.hpp"
#include "desktop/NSCursor.hpp"
#include "desktop/NSWindowController.hpp"
#include "graphics/CGGeometry.hpp"

#include <functional>
#include <memory>

namespace velmora {

class CursorPreviewViewController;

// A small clear window that shows the brush cursor under the mouse while the
// brush size is edited: above everything, never focused, letting every press
// through, hidden while the application is inactive. It follows the mouse's
// moves and left-button drags. Destroyed while shown, it closes first, so the
// pointer comes back.
class CursorPreviewController : public NSWindowController {
public:
    static constexpr const char* storyboard = "CursorPreview";
    static constexpr const char* identifier = "CursorPreviewWindow";

    // Registers the builder under (storyboard, identifier).
    static void registerStoryboard();
    // A new controller from the storyboard, registered first if it was not.
    static std::shared_ptr<CursorPreviewController> instantiate();

    CursorPreviewController();
    ~CursorPreviewController() override;

    // Where the mouse is, in screen points, y up; replaceable (tests).
    std::function<CGPoint()> mouseLocationProxy;

    void windowDidLoad() override;
    // Puts the cursor's hot spot under the mouse; only while the window is shown.
    void followMouse();

    // The window's content controller, none before the window is loaded.
    std::shared_ptr<CursorPreviewViewController> content();
    // Gives the content the cursor and refreshes its image, loading the window first.
    void setCursor(std::shared_ptr<NSCursor> cursor);

private:
    std::unique_ptr<EventObserver> mouseMoveObserver_;
};

} // namespace velmora
