#pragma once

#include "desktop/NSWindowController.hpp"
#include "desktop/NSWindowDelegate.hpp"
#include "graphics/CGGeometry.hpp"

#include <functional>
#include <memory>
#include <string>

namespace velmora {

class UndoManager;

// The window behaviour of the floating utility panels: a floating panel that
// becomes key only when a control needs the keyboard, whose frame is kept
// under the controller's class name and which takes a default place on first
// run, and which lends the front document's undo manager to Undo and Redo.
class UtilityWindowController : public NSWindowController, public NSWindowDelegate {
public:
    // The front document's undo manager, none without a front document or
    // when it has none; set by the application.
    using UndoManagerProvider = std::function<std::shared_ptr<UndoManager>()>;
    static void setFrontDocumentUndoManagerProvider(UndoManagerProvider provider);

    explicit UtilityWindowController(std::shared_ptr<NSWindow> window = nullptr);

    // Offset of the panel's origin from its screen's visible origin on first run.
    CGPoint defaultFrameOrigin{0, 0};

    // The class name without its namespace, e.g. "LayersWindowController".
    std::string className() const;

    void windowDidLoad() override;
    std::optional<std::shared_ptr<UndoManager>> windowWillReturnUndoManager(NSWindow&) override;
};

} // namespace velmora
