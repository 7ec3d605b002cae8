#pragma once

#include "App/PointingDeviceManager.hpp"
#include "App/Preferences.hpp"
#include "Rendering/DisplayViewModel.hpp"
#include "Rendering/DrawingSettings.hpp"
#include "ToolResponders/CommonToolResponder.hpp"
#include "ToolResponders/DrawingToolResponderDelegate.hpp"
#include "desktop/NSAttributedString.hpp"
#include "foundation/DispatchQueue.hpp"
#include "foundation/DispatchWorkItem.hpp"

#include <memory>
#include <optional>

namespace velmora {

struct Brush;
class RasterLayer;
class Layer;
class LayeredCanvas;

// The brush and eraser tool: pointer samples become stroke samples, a release
// closes the stroke, Alt+Ctrl with a drag resizes the brush, and the cursor is
// the brush's circle at the current zoom, drawn off the main thread. Main thread.
class DrawingToolResponder : public CommonToolResponder,
                             public DrawingSettingsDelegate,
                             public DisplayViewModelDelegate,
                             public std::enable_shared_from_this<DrawingToolResponder> {
public:
    static constexpr CGFloat cursorMaxSize = 1080;
    static constexpr const char* groupLayerText =
        "You cannot draw in a group layer, please select a raster layer.";

    // Joins the delegate's display view model and the settings' delegates.
    static std::shared_ptr<DrawingToolResponder>
    make(const std::shared_ptr<DrawingToolResponderDelegate>& delegate,
         DrawingSettings& settings = DrawingSettings::shared(),
         Preferences& preferences = Preferences::shared(),
         std::shared_ptr<PointingDeviceManager> devices = PointingDeviceManager::shared());

    std::shared_ptr<NSCursor> cursor() const override { return brushCursor_; }
    void flagsChanged(const NSEvent& event) override;
    void mouseDown(const NSEvent& event, CGPoint point) override;
    void mouseDragged(const NSEvent& event, CGPoint point) override;
    void mouseUp(const NSEvent& event, CGPoint point) override;

    bool editingBrushSize() const { return editingBrushSize_; }
    void setEditingBrushSize(bool editing);
    float brushSizeEditingRefX() const { return brushSizeEditingRefX_; }
    std::shared_ptr<DrawingToolResponderDelegate> drawingToolDelegate() const {
        return drawingToolDelegate_.lock();
    }
    const DispatchQueue& serialQueue() const { return serialQueue_; }

    // Draws a new cursor on the serial queue and installs it on the main
    // queue; a job not yet started when a newer one comes is dropped.
    void updateBrushCursor();
    void showBrushSizeBezel(float size);

    // "Brush Size: N pixel(s)." with the number in digits of equal width.
    static NSAttributedString brushSizeText(float size);
    // Any thread: the brush's ring, with a bitmap for `ratio` when that is
    // neither 1 nor 2 and its cursor for `ratio` made where the platform
    // allows, or the crosshair.
    static std::shared_ptr<NSCursor> makeCursor(const Brush& brush, CGFloat zoom, CGFloat ratio);

    // DrawingSettingsDelegate, DisplayViewModelDelegate.
    void drawingSettingsWillChangeActiveBrush(DrawingSettings&, const Brush&) override {}
    void drawingSettingsDidChangeActiveBrush(DrawingSettings&, const Brush&) override;
    void drawingSettingsDidUpdateActiveTool(DrawingSettings&, DrawingTool) override;
    void displayViewModelDidUpdateZoom(DisplayViewModel&, CGFloat) override;
    void displayViewModelDidUpdateRotation(DisplayViewModel&, CGFloat) override {}

    struct Token {};
    DrawingToolResponder(Token, const std::shared_ptr<DrawingToolResponderDelegate>& delegate,
                         DrawingSettings& settings, Preferences& preferences,
                         std::shared_ptr<PointingDeviceManager> devices);

private:
    // A view point in drawable pixels, with the display transform of the moment.
    struct DrawablePoint {
        CGPoint pixels;
        CGAffineTransform transform;
    };
    std::optional<DrawablePoint> drawablePoint(CGPoint viewPoint) const;
    // What the press decided, held to its release.
    enum class Press { none, editing, drawing, refused };

    std::shared_ptr<LayeredCanvas> canvas() const;
    std::shared_ptr<Layer> activeLayer() const;
    std::optional<CGPoint> canvasPoint(CGPoint viewPoint) const;
    // The view's horizontal position in canvas pixels: the same distance on
    // screen at any rotation.
    std::optional<float> horizontalCanvasX(CGPoint viewPoint) const;
    CGFloat cursorZoom(DrawingToolResponderDelegate& delegate) const;
    bool isAllowed(const NSEvent& event, PointingDevice device) const;
    void draw(const NSEvent& event, CGPoint point);
    void refuse(const NSEvent& event, CGPoint point, PointingDevice device);
    void closeStroke();
    void beginBrushSizeEditing(CGPoint point);
    void continueBrushSizeEditing(CGPoint point);
    void install(const std::shared_ptr<NSCursor>& cursor);

    DrawingSettings& settings_;
    Preferences& preferences_;
    std::shared_ptr<PointingDeviceManager> devices_;
    std::shared_ptr<NSCursor> brushCursor_;
    bool editingBrushSize_ = false;
    float brushSizeEditingRefX_ = 0;
    std::weak_ptr<DrawingToolResponderDelegate> drawingToolDelegate_;
    DispatchQueue serialQueue_{"CursorGeneratorQueue", DispatchQoS::userInitiated};
    std::optional<DispatchWorkItem> lastScheduledWorkItem_;
    Press press_ = Press::none;
    // From a drawing press until its stroke was closed.
    bool strokeOpen_ = false;
};

} // namespace velmora
