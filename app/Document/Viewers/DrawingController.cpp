#include "Document/Viewers/DrawingController.hpp"

#include "Canvas/RasterLayer.hpp"
#include "Extensions/CGAffineTransformExtensions.hpp"
#include "MetalExtensions/MTLOriginExtensions.hpp"
#include "MetalExtensions/MTLRegionExtensions.hpp"
#include "MetalExtensions/MTLSizeExtensions.hpp"
#include "Rendering/BenchmarkedRenderer.hpp"
#include "Rendering/CanvasMipChain.hpp"
#include "Rendering/MetalHelper.hpp"
#include "foundation/DispatchQueue.hpp"
#include "foundation/FatalError.hpp"
#include "foundation/LogHandles.hpp"
#include "graphics/ImageCodecs.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>

namespace velmora {

DrawingController::DrawingController(Token, std::shared_ptr<Renderer> renderer)
    : renderer_(std::move(renderer)) {}

DrawingController::~DrawingController() = default;

std::shared_ptr<DrawingController> DrawingController::make(
    std::shared_ptr<Renderer> renderer, std::shared_ptr<DisplayViewModel> displayViewModel,
    const std::shared_ptr<LayeredCanvas>& canvas, const std::shared_ptr<UndoLockable>& undoLockable,
    const std::shared_ptr<RegistrationUndoManager>& undoManager,
    const std::shared_ptr<BitmapReceiver>& bitmapReceiver, DrawingSettings& settings) {
    precondition(renderer != nullptr && canvas != nullptr, "A drawing controller needs a canvas");
    auto c = std::make_shared<DrawingController>(Token{}, std::move(renderer));
    c->canvas_ = canvas;
    c->undoLockable_ = undoLockable;
    c->undoManager_ = undoManager;
    c->canvasResolution_ = canvas->size();
    c->strokesViewModel_ = StrokesViewModel::make(settings);
    const Renderer::Settings rendererSettings = c->renderer_->settings();
    c->drawable_ = std::make_shared<DrawingDrawable>(rendererSettings, std::move(displayViewModel),
                                                     c->canvasResolution_);
    c->strokeRenderer_ =
        StrokeRenderer::make(rendererSettings, c->strokesViewModel_, c->canvasResolution_);
    c->renderedCanvas_ =
        std::make_shared<LiveRenderedCanvas>(canvas, c->strokeRenderer_->strokeLayer());
    c->strokeRenderer_->setDelegate(c);

    // Dots are stamped before the rendered canvas re-composites in each frame.
    c->renderer_->computables.emplace_back(std::static_pointer_cast<RendererComputable>(c));
    c->renderer_->computables.emplace_back(c->renderedCanvas_);
    c->renderer_->drawables.emplace_back(std::static_pointer_cast<RendererDrawable>(c));

    std::weak_ptr<DrawingController> weak = c;
    c->activeLayerObservation_ = canvas->observeActiveLayer([weak](LayeredCanvas& changed) {
        if (const auto self = weak.lock()) {
            self->activeLayerDidChange(changed);
        }
    });
    c->activeLayerDidChange(*canvas);

    canvas->delegates() += std::static_pointer_cast<LayeredCanvasDelegate>(c);
    canvas->layerTree()->recursiveForEach([&](const std::shared_ptr<Layer>& layer, const auto&) {
        layer->delegates() += std::static_pointer_cast<LayerDelegate>(c);
    });
    if (bitmapReceiver != nullptr) {
        bitmapReceiver->setBitmapProvider(c);
    }
    return c;
}

std::shared_ptr<DrawingController> DrawingController::setUp(
    const std::shared_ptr<DrawingController>& current, const std::shared_ptr<MTKView>& view,
    std::shared_ptr<DisplayViewModel> displayViewModel,
    const std::shared_ptr<LayeredCanvas>& canvas, const std::shared_ptr<UndoLockable>& undoLockable,
    const std::shared_ptr<UndoManager>& undoManager,
    const std::shared_ptr<BitmapReceiver>& bitmapReceiver, DrawingSettings& settings) {
    if (current != nullptr && current->canvas() == canvas) {
        return current;
    }
    if (undoManager == nullptr) {
        fatalError("A document without an undo manager");
    }
    if (current != nullptr) {
        undoManager->removeAllActions(current);
    }
    const auto device = MTLCreateSystemDefaultDevice();
    if (device == nullptr) {
        fatalError("No Metal device");
    }
    userActionsLogs().log("Created canvas of size %{public}@ with %d layers: %{public}@",
                          description(canvas->size()), int64_t(canvas->immediateLayers().size()),
                          canvas->description());
    auto renderer = BenchmarkedRenderer::make(view, device);
    return make(std::move(renderer), std::move(displayViewModel), canvas, undoLockable, undoManager,
                bitmapReceiver, settings);
}

void DrawingController::activeLayerDidChange(LayeredCanvas& canvas) {
    const auto layer = canvas.activeLayer();
    userActionsLogs().log("Active layer is now %{public}@",
                          layer ? layer->debugDescription() : std::string("nil"));
    userActionsLogs().signpost(SignpostType::event, "Active Layer", OSSignpostID::exclusive,
                               "%{public}@", layer ? layer->name() : std::string("nil"));
    currentRenderedLayer_ = nullptr;
    if (layer != nullptr) {
        currentRenderedLayer_ = std::make_shared<OpaqueRenderedLayer>(canvas.size(), pool_, layer);
    }
}

void DrawingController::compute(const std::shared_ptr<MTLCommandBuffer>& commandBuffer) {
    renderedCanvas_->setPacing(strokeLiveScope_ == nullptr && pacedFrames_ ? pacing()
                                                                           : std::nullopt);
    // Without an active layer the queued strokes wait.
    if (currentRenderedLayer_ != nullptr) {
        strokeRenderer_->render(currentRenderedLayer_->texture(), commandBuffer);
    }
}

void DrawingController::render(MTLViewport viewport,
                               const MTLRenderPassDescriptor& renderPassDescriptor,
                               const std::shared_ptr<MTLCommandBuffer>& commandBuffer) {
    const auto canvas = canvas_.lock();
    const bool hasLayers = canvas != nullptr && !canvas->immediateLayers().empty();
    const auto [shown, level] = renderedCanvas_->shownTexture();
    drawable_->render(hasLayers ? shown : nullptr, viewport, renderPassDescriptor, *commandBuffer,
                      level);
    if (renderedCanvas_->isCaughtUp()) {
        return;
    }
    if (!renderedCanvas_->computedAStep()) {
        renderer_->needsDisplay();
        return;
    }
    // Steps of a drag come about as often as frames: the catching up starts
    // once a frame's time has passed without one, so that no step waits behind
    // a frame that only catches up.
    const auto d = delegate();
    const auto view = d ? d->canvasView() : nullptr;
    const int fps = view ? std::max(view->preferredFramesPerSecond(), 1) : 60;
    const uint64_t steps = ++stepFrames_;
    DispatchQueue::main().asyncAfter(std::chrono::microseconds(1'000'000 / fps),
                                     [weak = weak_from_this(), steps] {
                                         const auto self = weak.lock();
                                         if (self != nullptr && self->stepFrames_ == steps) {
                                             self->renderer_->needsDisplay();
                                         }
                                     });
}

std::optional<RenderedCanvas::Pacing> DrawingController::pacing() const {
    const auto d = delegate();
    const auto view = d ? d->canvasView() : nullptr;
    if (view == nullptr) {
        return std::nullopt;
    }
    const CGSize drawable = view->drawableSize();
    const CGAffineTransform toCanvas = drawable_->displayViewModel()->transform().inverted();
    double x0 = INFINITY, y0 = INFINITY, x1 = -INFINITY, y1 = -INFINITY;
    for (const CGPoint corner :
         {CGPoint{0, 0}, CGPoint{drawable.width, 0}, CGPoint{0, drawable.height},
          CGPoint{drawable.width, drawable.height}}) {
        const CGPoint p = toCanvas.apply(corner);
        x0 = std::min(x0, p.x), y0 = std::min(y0, p.y);
        x1 = std::max(x1, p.x), y1 = std::max(y1, p.y);
    }
    const MTLRegion canvasArea{MTLOriginZero, canvasResolution_};
    const auto clamp = [](double v, int64_t hi) {
        return std::isfinite(v) ? int64_t(std::clamp(v, 0.0, double(hi))) : int64_t(0);
    };
    const int64_t left = clamp(std::floor(x0), canvasResolution_.width);
    const int64_t bottom = clamp(std::floor(y0), canvasResolution_.height);
    const int64_t right = clamp(std::ceil(x1), canvasResolution_.width);
    const int64_t top = clamp(std::ceil(y1), canvasResolution_.height);
    const auto visible =
        intersection(makeMTLRegion(left, bottom, right - left, top - bottom), canvasArea);
    // The halving the view samples the canvas from at this zoom anyway: a
    // picture composited from it looks the same, and a finer one is only
    // halved again for each frame.
    const double pixelsPerDevicePixel =
        1.0 / scaling(drawable_->displayViewModel()->transform()).dx;
    const int level = CanvasMipChain::levelFor(pixelsPerDevicePixel);
    return RenderedCanvas::Pacing{visible.value_or(MTLRegion{}), level};
}

std::shared_ptr<RasterLayer> DrawingController::strokeRendererPasteToActiveLayer(
    StrokeRenderer&, const std::shared_ptr<MTLTexture>& texture, const MTLRegion& region,
    const std::vector<MTLRegion>& tiles, const std::shared_ptr<MTLCommandBuffer>& commandBuffer) {
    const auto canvas = canvas_.lock();
    const auto active = canvas ? canvas->activeLayer() : nullptr;
    const auto layer = std::dynamic_pointer_cast<RasterLayer>(active);
    if (layer == nullptr) {
        // The tools start strokes on raster layers only; this one changed while
        // the stroke waited for its frame.
        drawingEngineLogs().error(
            "Stroke dropped: the active layer %{public}@ is not a raster layer",
            active ? active->debugDescription() : std::string("nil"));
        return nullptr;
    }
    layer->paste(texture, region, tiles, commandBuffer);
    return layer;
}

void DrawingController::strokeRendererDidCommit(StrokeRenderer&,
                                                const std::shared_ptr<NSBitmapImageRep>& after,
                                                const std::shared_ptr<NSBitmapImageRep>& before,
                                                const MTLOrigin& origin,
                                                const std::vector<MTLRegion>& parts,
                                                const std::shared_ptr<RasterLayer>& layer) {
    // The layer is the one the stroke was pasted into, whatever is active now;
    // none when it was written nowhere.
    if (layer == nullptr || after == nullptr || before == nullptr) {
        return;
    }
    // The snapshots come packed, the stroke's tiles only: encoded as they are.
    const auto& queue = DispatchQueue::global(DispatchQoS::defaultQoS);
    registerStrokeUndo(layer->uuid(),
                       StrokeSnapshot::encodePacked(before, parts, queue, snapshotStore_),
                       StrokeSnapshot::encodePacked(after, parts, queue, snapshotStore_), origin);
}

void DrawingController::registerStrokeUndo(const UUID& layerID, EncodedSnapshot restore,
                                           EncodedSnapshot other, const MTLOrigin& origin) {
    const auto manager = undoManager();
    if (manager == nullptr) {
        return;
    }
    // A stroke is registered when the GPU is done with it, whenever that is:
    // each is one step, whatever else registers in the same turn.
    manager->registerSeparateEntry([&] {
        manager->registerUndo<DrawingController>(
            shared_from_this(), [layerID, restore, other, origin](DrawingController& self) {
                self.restoreStroke(layerID, restore, other, origin);
            });
        manager->setActionName("Stroke");
    });
}

void DrawingController::restoreStroke(const UUID& layerID, const EncodedSnapshot& restore,
                                      const EncodedSnapshot& other, const MTLOrigin& origin) {
    const auto canvas = canvas_.lock();
    if (canvas == nullptr) {
        return;
    }
    const auto layer = std::dynamic_pointer_cast<RasterLayer>((*canvas)[layerID]);
    if (layer == nullptr) {
        fatalError("Internal inconcistency");
    }
    // Only the stroke's tiles go back, decoded and written on the GPU timeline:
    // every frame and read-back committed after this sees them, and the main
    // thread waits for neither.
    std::vector<MTLRegion> parts;
    for (const MTLRegion& part : restore->parts()) {
        parts.push_back({translated(origin, part.origin.x, part.origin.y), part.size});
    }
    const MTLRegion bounds = restore->partsBounds();
    if (!isEmpty(bounds)) {
        MetalHelper& helper = *MetalHelper::shared();
        const auto commandBuffer = helper.commandQueue()->commandBuffer();
        const MTLRegion region{translated(origin, bounds.origin.x, bounds.origin.y), bounds.size};
        const auto target = layer->patch(region, commandBuffer);
        target->cachedTiffData.clear();
        const MTLOrigin offset = makeMTLOrigin(origin - target->origin);
        const MTLRegion written{makeMTLOrigin(region.origin - target->origin), region.size};
        auto decoded =
            StrokeSnapshot::decodeSoon(restore, DispatchQueue::global(DispatchQoS::userInitiated));
        const auto texture = target->texture();
        commandBuffer->encodeHostCommand(
            "Restore stroke",
            [decoded = std::move(decoded), texture, written, offset,
             partsInSnapshot = restore->parts()] {
                std::shared_ptr<NSBitmapImageRep> packed;
                try {
                    packed = decoded();
                } catch (const std::exception& error) {
                    fatalError(std::string("A stroke's snapshot was not encoded: ") + error.what());
                }
                StrokeSnapshot::unpack(*packed, partsInSnapshot, texture->contents(written),
                                       offset);
            },
            {texture});
        commandBuffer->commit();
        if (currentRenderedLayer_ != nullptr && currentRenderedLayer_->layer() == layer) {
            const auto update = helper.commandQueue()->commandBuffer();
            for (const MTLRegion& part : parts) {
                currentRenderedLayer_->render(part, update);
            }
            update->commit();
        }
        renderedCanvas_->needsUpdateIn(parts);
    }
    if (const auto d = delegate()) {
        if (const auto view = d->canvasView()) {
            view->draw();
        }
    }
    MetalHelper::shared()->clearCaches();
    registerStrokeUndo(layerID, other, restore, origin);
}

void DrawingController::strokeRendererDidDrawIn(StrokeRenderer&, const MTLRegion& region) {
    renderedCanvas_->needsUpdate(region);
    // While live the view draws every frame anyway.
    if (strokeLiveScope_ == nullptr) {
        renderer_->needsDisplay();
    }
}

void DrawingController::strokeRendererDidCommitIn(StrokeRenderer&, const MTLRegion&,
                                                  const std::vector<MTLRegion>& tiles) {
    renderedCanvas_->needsUpdateIn(tiles);
    if (strokeLiveScope_ == nullptr) {
        renderer_->needsDisplay();
    }
}

void DrawingController::strokeRendererDidBeginDrawing(StrokeRenderer&) {
    if (const auto lockable = undoLockable_.lock()) {
        undoLock_ = lockable->makeUndoLock();
    }
    strokeLiveScope_ = renderer_->makeLiveScope();
}

void DrawingController::strokeRendererDidEndDrawing(StrokeRenderer&) {
    undoLock_ = nullptr;
    strokeLiveScope_ = nullptr;
}

std::shared_ptr<NSBitmapImageRep> DrawingController::bitmap() {
    // The live composite shows a stroke under way, which no layer holds until it
    // is finished: a save then flattens the layers alone, as it stores them.
    if (const auto canvas = canvas_.lock(); canvas != nullptr && isDrawing()) {
        return RenderedCanvas(canvas).asBitmap();
    }
    return renderedCanvas_->asBitmap();
}

} // namespace velmora
