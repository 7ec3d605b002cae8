#include "ToolResponders/DrawingToolResponder.hpp"

#include "App/AppLogHandles.hpp"
#include "Canvas/GroupLayer.hpp"
#include "Canvas/RasterLayer.hpp"
#include "Document/Viewers/DrawingController.hpp"
#include "Extensions/CGAffineTransformExtensions.hpp"
#include "SKTUtils/CGFloatExtensions.hpp"
#include "desktop/NSFont.hpp"
#include "foundation/CheckedMath.hpp"

#include <QImage>
#include <cmath>
#include <string>

namespace velmora {

namespace {

constexpr NSEventModifierFlags sizeEditingFlags = NSEventModifierFlags(
    uint64_t(NSEventModifierFlags::option) | uint64_t(NSEventModifierFlags::command));

bool holdsSizeEditingKeys(const NSEvent& event) {
    return contains(event.modifierFlags(), sizeEditingFlags);
}

// Truncated toward zero for the log, saturating instead of overflowing.
int64_t logCoordinate(double v) {
    if (!(v > -9e18)) {
        return v > 0 ? INT64_MAX : INT64_MIN;
    }
    return v >= 9e18 ? INT64_MAX : int64_t(v);
}

std::string deviceName(PointingDevice device) {
    return std::string(name(device));
}

QImage qImage(const GrayAlphaBitmap& bitmap) {
    QImage image(bitmap.pixelsWide(), bitmap.pixelsHigh(), QImage::Format_ARGB32_Premultiplied);
    const uint8_t* source = bitmap.bytes().data();
    for (int y = 0; y < bitmap.pixelsHigh(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < bitmap.pixelsWide(); ++x, source += 2) {
            // Grey is premultiplied already, as the pixmap wants it.
            row[x] = qRgba(source[0], source[0], source[0], source[1]);
        }
    }
    return image;
}

} // namespace

std::shared_ptr<DrawingToolResponder>
DrawingToolResponder::make(const std::shared_ptr<DrawingToolResponderDelegate>& delegate,
                           DrawingSettings& settings, Preferences& preferences,
                           std::shared_ptr<PointingDeviceManager> devices) {
    auto responder = std::make_shared<DrawingToolResponder>(Token{}, delegate, settings,
                                                            preferences, std::move(devices));
    if (delegate != nullptr) {
        if (const auto model = delegate->displayViewModel()) {
            model->delegates += std::static_pointer_cast<DisplayViewModelDelegate>(responder);
        }
    }
    settings.delegates += std::static_pointer_cast<DrawingSettingsDelegate>(responder);
    return responder;
}

DrawingToolResponder::DrawingToolResponder(
    Token, const std::shared_ptr<DrawingToolResponderDelegate>& delegate, DrawingSettings& settings,
    Preferences& preferences, std::shared_ptr<PointingDeviceManager> devices)
    : CommonToolResponder(delegate), settings_(settings), preferences_(preferences),
      devices_(std::move(devices)), drawingToolDelegate_(delegate) {
    const CGFloat zoom = delegate != nullptr ? cursorZoom(*delegate) : 1;
    const CGFloat ratio = delegate != nullptr ? delegate->backingScaleFactor() : 1;
    brushCursor_ = makeCursor(settings_.liveBrush(), zoom, ratio);
}

std::shared_ptr<NSCursor> DrawingToolResponder::makeCursor(const Brush& brush, CGFloat zoom,
                                                           CGFloat ratio) {
    const BrushCursor cursor = brush.cursor(zoom, cursorMaxSize);
    if (cursor.crosshair) {
        return NSCursor::crosshairCursor();
    }
    std::vector<QImage> images;
    for (const GrayAlphaBitmap& bitmap : cursor.representations) {
        images.push_back(qImage(bitmap));
    }
    if (ratio > 0 && ratio != 1 && ratio != 2 && images.size() == 2) {
        // The hot spot is the unrounded diameter's centre.
        const int side = int(std::ceil(2 * cursor.hotSpot.x * ratio));
        images.push_back(
            images[1].scaled(side, side, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    }
    auto made = NSCursor::make(std::move(images), cursor.imageSize, cursor.hotSpot);
    // Here on the cursor queue rather than on the main thread when it is shown.
    made->prepare(ratio > 0 ? ratio : 1);
    return made;
}

CGFloat DrawingToolResponder::cursorZoom(DrawingToolResponderDelegate& delegate) const {
    const auto model = delegate.displayViewModel();
    const CGFloat scale = model != nullptr ? scaling(model->transform()).dx : 1;
    const CGFloat ratio = delegate.backingScaleFactor();
    return ratio > 0 ? scale / ratio : scale;
}

void DrawingToolResponder::updateBrushCursor() {
    const auto delegate = drawingToolDelegate();
    if (delegate == nullptr) {
        return;
    }
    const CGFloat zoom = cursorZoom(*delegate);
    const CGFloat ratio = delegate->backingScaleFactor();
    const Brush brush = settings_.liveBrush();
    std::weak_ptr<DrawingToolResponder> weak = weak_from_this();
    DispatchWorkItem item([weak, brush, zoom, ratio] {
        if (weak.expired()) {
            return;
        }
        auto cursor = makeCursor(brush, zoom, ratio);
        DispatchQueue::main().async([weak, cursor = std::move(cursor)] {
            if (const auto self = weak.lock()) {
                self->install(cursor);
            }
        });
    });
    if (lastScheduledWorkItem_) {
        lastScheduledWorkItem_->cancel();
    }
    lastScheduledWorkItem_ = item;
    serialQueue_.async(item);
}

void DrawingToolResponder::install(const std::shared_ptr<NSCursor>& cursor) {
    brushCursor_ = cursor;
    if (const auto delegate = drawingToolDelegate()) {
        delegate->setCursorPreviewCursor(cursor);
        delegate->updateViewerCursor();
    }
}

void DrawingToolResponder::drawingSettingsDidChangeActiveBrush(DrawingSettings&, const Brush&) {
    updateBrushCursor();
}

void DrawingToolResponder::drawingSettingsDidUpdateActiveTool(DrawingSettings&, DrawingTool) {
    updateBrushCursor();
}

void DrawingToolResponder::displayViewModelDidUpdateZoom(DisplayViewModel&, CGFloat) {
    updateBrushCursor();
}

void DrawingToolResponder::flagsChanged(const NSEvent& event) {
    setEditingBrushSize(holdsSizeEditingKeys(event));
    // Keys let go before the button end the edit with them: the rest of the
    // drag neither resizes the brush nor shows its size again.
    if (!editingBrushSize_ && press_ == Press::editing) {
        press_ = Press::none;
        if (const auto delegate = drawingToolDelegate()) {
            delegate->closeCursorPreview();
        }
    }
}

void DrawingToolResponder::setEditingBrushSize(bool editing) {
    if (editing == editingBrushSize_) {
        return;
    }
    editingBrushSize_ = editing;
    if (editing) {
        showBrushSizeBezel(settings_.liveBrush().size);
    } else if (const auto delegate = drawingToolDelegate()) {
        delegate->dismissBrushSizeBezel();
    }
}

NSAttributedString DrawingToolResponder::brushSizeText(float size) {
    // Sizes are clamped before use, so the conversion always sees 1...1000.
    const auto n = checked::toInteger<int64_t>(std::round(double(size)));
    const CGFloat points = 18;
    NSAttributedString text;
    text.append("Brush Size: ", NSFont::systemFont(points));
    text.append(std::to_string(n),
                NSFont::monospacedDigitSystemFont(points, NSFontWeight::regular));
    text.append(std::string(" pixel") + (n >= 2 ? "s" : "") + ".", NSFont::systemFont(points));
    return text;
}

void DrawingToolResponder::showBrushSizeBezel(float size) {
    if (const auto delegate = drawingToolDelegate()) {
        delegate->showBrushSizeBezel(brushSizeText(size));
    }
}

std::shared_ptr<LayeredCanvas> DrawingToolResponder::canvas() const {
    const auto delegate = drawingToolDelegate();
    const auto controller = delegate != nullptr ? delegate->drawingController() : nullptr;
    return controller != nullptr ? controller->canvas() : nullptr;
}

std::shared_ptr<Layer> DrawingToolResponder::activeLayer() const {
    const auto shown = canvas();
    return shown != nullptr ? shown->activeLayer() : nullptr;
}

std::optional<DrawingToolResponder::DrawablePoint>
DrawingToolResponder::drawablePoint(CGPoint viewPoint) const {
    const auto delegate = drawingToolDelegate();
    if (delegate == nullptr) {
        return std::nullopt;
    }
    const auto view = delegate->canvasView();
    const auto model = delegate->displayViewModel();
    if (view == nullptr || model == nullptr) {
        return std::nullopt;
    }
    const CGSize bounds = view->boundsSize(), drawable = view->drawableSize();
    const CGPoint pixels{viewPoint.x * (bounds.width > 0 ? drawable.width / bounds.width : 1),
                         viewPoint.y * (bounds.height > 0 ? drawable.height / bounds.height : 1)};
    return DrawablePoint{pixels, model->transform()};
}

std::optional<CGPoint> DrawingToolResponder::canvasPoint(CGPoint viewPoint) const {
    const auto point = drawablePoint(viewPoint);
    if (!point) {
        return std::nullopt;
    }
    return point->transform.inverted().apply(point->pixels);
}

std::optional<float> DrawingToolResponder::horizontalCanvasX(CGPoint viewPoint) const {
    const auto point = drawablePoint(viewPoint);
    if (!point) {
        return std::nullopt;
    }
    const CGFloat zoom = scaling(point->transform).dx;
    return float(zoom > 0 ? point->pixels.x / zoom : point->pixels.x);
}

bool DrawingToolResponder::isAllowed(const NSEvent&, PointingDevice device) const {
    return device == PointingDevice::stylus || preferences_.allowDrawingWithMouse();
}

void DrawingToolResponder::mouseDown(const NSEvent& event, CGPoint point) {
    // The press's own keys: a release of them elsewhere cannot leave editing on.
    setEditingBrushSize(holdsSizeEditingKeys(event));
    if (strokeOpen_) {
        // The last release never came.
        closeStroke();
    }
    press_ = Press::none;
    if (editingBrushSize_) {
        press_ = Press::editing;
        beginBrushSizeEditing(point);
        return;
    }
    const auto layer = activeLayer();
    if (std::dynamic_pointer_cast<RasterLayer>(layer) == nullptr) {
        // A canvas with no layer to draw in says so rather than drop the press.
        const bool refused = layer != nullptr
                                 ? std::dynamic_pointer_cast<GroupLayer>(layer) != nullptr
                                 : canvas() != nullptr;
        if (const auto delegate = drawingToolDelegate(); refused && delegate != nullptr) {
            delegate->showDontDrawInGroupLayerNotification(groupLayerText);
        }
        return;
    }
    const PointingDevice device = devices_->pointingDevice(event);
    if (!isAllowed(event, device)) {
        press_ = Press::refused;
        refuse(event, point, device);
        return;
    }
    if (device == PointingDevice::stylus) {
        const bool eraserEnd = event.pointingDeviceType() == NSPointingDeviceType::eraser;
        if (eraserEnd != settings_.usingStylusEraser()) {
            settings_.setUsingStylusEraser(eraserEnd);
        }
    }
    press_ = Press::drawing;
    strokeOpen_ = true;
    NSEvent::setMouseCoalescingEnabled(false);
    draw(event, point);
}

void DrawingToolResponder::mouseDragged(const NSEvent& event, CGPoint point) {
    switch (press_) {
    case Press::editing:
        continueBrushSizeEditing(point);
        break;
    case Press::drawing:
        if (std::dynamic_pointer_cast<RasterLayer>(activeLayer()) != nullptr) {
            draw(event, point);
        }
        break;
    case Press::refused:
        if (std::dynamic_pointer_cast<RasterLayer>(activeLayer()) != nullptr) {
            refuse(event, point, devices_->pointingDevice(event));
        }
        break;
    case Press::none:
        break;
    }
}

void DrawingToolResponder::mouseUp(const NSEvent& event, CGPoint point) {
    const auto delegate = drawingToolDelegate();
    if (delegate != nullptr) {
        delegate->closeCursorPreview();
    }
    const Press press = press_;
    press_ = Press::none;
    if (press == Press::drawing) {
        // However the release is classified: else the stroke's undo lock and
        // live frames would be held for good.
        closeStroke();
        return;
    }
    if (press == Press::refused &&
        std::dynamic_pointer_cast<RasterLayer>(activeLayer()) != nullptr) {
        const CGPoint p = canvasPoint(point).value_or(CGPoint{});
        logDeviceInput().log("Ignoring pointer release event coming from %{public}@ at %dx%d.",
                             deviceName(devices_->pointingDevice(event)), logCoordinate(p.x),
                             logCoordinate(p.y));
    }
}

void DrawingToolResponder::draw(const NSEvent& event, CGPoint point) {
    const auto delegate = drawingToolDelegate();
    const auto controller = delegate != nullptr ? delegate->drawingController() : nullptr;
    const auto p = canvasPoint(point);
    if (controller == nullptr || !p) {
        return;
    }
    std::weak_ptr<Renderer> renderer = controller->renderer();
    controller->strokesViewModel()->enqueuePointEvent(*p, event.pressure(), [renderer](bool ok) {
        if (const auto r = renderer.lock(); ok && r != nullptr) {
            r->needsDisplay();
        }
    });
}

void DrawingToolResponder::refuse(const NSEvent&, CGPoint point, PointingDevice device) {
    const CGPoint p = canvasPoint(point).value_or(CGPoint{});
    logDeviceInput().log("Ignoring pointer event at %dx%d coming from %{public}@",
                         logCoordinate(p.x), logCoordinate(p.y), deviceName(device));
    if (const auto delegate = drawingToolDelegate()) {
        delegate->showDrawWithMouseWarningIfNotDisabled();
    }
}

void DrawingToolResponder::closeStroke() {
    strokeOpen_ = false;
    const auto delegate = drawingToolDelegate();
    const auto controller = delegate != nullptr ? delegate->drawingController() : nullptr;
    if (controller != nullptr) {
        std::weak_ptr<Renderer> renderer = controller->renderer();
        controller->strokesViewModel()->closeStroke([renderer] {
            if (const auto r = renderer.lock()) {
                r->needsDisplay();
            }
        });
    }
    NSEvent::setMouseCoalescingEnabled(true);
}

void DrawingToolResponder::beginBrushSizeEditing(CGPoint point) {
    const auto x = horizontalCanvasX(point);
    if (!x) {
        return;
    }
    brushSizeEditingRefX_ = *x - 0.5f * settings_.liveBrush().size;
    if (const auto delegate = drawingToolDelegate()) {
        delegate->setCursorPreviewCursor(brushCursor_);
        delegate->showCursorPreview();
    }
}

void DrawingToolResponder::continueBrushSizeEditing(CGPoint point) {
    const auto x = horizontalCanvasX(point);
    if (!x) {
        return;
    }
    const float size =
        clamped((*x - brushSizeEditingRefX_) * 2, Brush::minimumSize, Brush::maximumSize);
    if (size != settings_.liveBrush().size) {
        showBrushSizeBezel(size);
        settings_.modifyLiveBrush([size](Brush& brush) { brush.size = size; });
    }
}

} // namespace velmora
