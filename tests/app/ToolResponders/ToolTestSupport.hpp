#pragma once

#include "../Document/Viewers/DrawingTestSupport.hpp"
#include "App/PointingDeviceManager.hpp"
#include "App/Preferences.hpp"
#include "ToolResponders/DrawingToolResponderDelegate.hpp"
#include "desktop/NSEvent.hpp"

#include <string>
#include <vector>

namespace velmora::testing {

// Stands in for the drawing view controller: hands out the rig's canvas and
// records the feedback the tools ask for.
struct TestToolDelegate : DrawingToolResponderDelegate {
    explicit TestToolDelegate(DrawingRig& rig) : rig(rig) {}

    std::shared_ptr<UndoManager> undoManager() override { return rig.document->undoManager; }
    std::shared_ptr<MTKView> canvasView() override { return rig.view; }
    CGFloat backingScaleFactor() override { return ratio; }
    std::shared_ptr<DisplayViewModel> displayViewModel() const override {
        return rig.displayViewModel;
    }
    std::shared_ptr<DrawingController> drawingController() const override {
        return hasController ? rig.controller : nullptr;
    }
    void updateViewerCursor() override { cursorUpdates += 1; }
    void showDontDrawInGroupLayerNotification(const std::string& text) override {
        groupBezels.push_back(text);
    }
    void showBrushSizeBezel(const NSAttributedString& text) override { sizeBezels.push_back(text); }
    void dismissBrushSizeBezel() override { sizeBezelDismissals += 1; }
    void showDrawWithMouseWarningIfNotDisabled() override { warnings += 1; }
    void setCursorPreviewCursor(const std::shared_ptr<NSCursor>& c) override { previewCursor = c; }
    void showCursorPreview() override { previewShown += 1; }
    void closeCursorPreview() override { previewClosed += 1; }

    DrawingRig& rig;
    bool hasController = true;
    CGFloat ratio = 1;
    int cursorUpdates = 0;
    std::vector<std::string> groupBezels;
    std::vector<NSAttributedString> sizeBezels;
    int sizeBezelDismissals = 0;
    int warnings = 0;
    std::shared_ptr<NSCursor> previewCursor;
    int previewShown = 0;
    int previewClosed = 0;
};

// A pointer event as the canvas view hands it on: no window, y up.
inline NSEvent pointerEvent(NSEventType type, NSEventModifierFlags flags = {}, int64_t deviceID = 1,
                            NSPointingDeviceType tool = NSPointingDeviceType::unknown) {
    NSEvent::Values v;
    v.type = type;
    v.modifierFlags = flags;
    v.deviceID = deviceID;
    v.pressure = 0.7f;
    v.pointingDeviceType = tool;
    v.subtype = tool == NSPointingDeviceType::unknown ? NSEventSubtype::mouseEvent
                                                      : NSEventSubtype::tabletPoint;
    return NSEvent(v);
}

} // namespace velmora::testing
