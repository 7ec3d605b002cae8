#pragma once

#include "Canvas/LayerDelegate.hpp"
#include "Canvas/LayeredCanvas.hpp"
#include "Document/BitmapProvider.hpp"
#include "Document/UndoLock.hpp"
#include "Document/Viewers/DrawingControllerDelegate.hpp"
#include "Document/Viewers/SnapshotStore.hpp"
#include "Document/Viewers/StrokeSnapshot.hpp"
#include "Rendering/DisplayViewModel.hpp"
#include "Rendering/DrawingDrawable.hpp"
#include "Rendering/DrawingSettings.hpp"
#include "Rendering/LiveRenderedCanvas.hpp"
#include "Rendering/OpaqueRenderedLayer.hpp"
#include "Rendering/Renderer.hpp"
#include "Rendering/StrokeRenderer.hpp"
#include "Rendering/StrokeRendererDelegate.hpp"
#include "Rendering/StrokesViewModel.hpp"
#include "Rendering/TexturePool.hpp"
#include "desktop/RegistrationUndoManager.hpp"
#include "desktop/UndoManager.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

// The bridge between one layered canvas, the stroke engine and the canvas
// view's renderer: owns the engine objects of the canvas, drives the stroke
// renderer every frame, draws the rendered canvas, writes finished strokes into
// the layer they were blended for and turns every stroke and every edit of the
// layer tree into an undo entry. Main thread only.
class DrawingController final : public RendererComputable,
                                public RendererDrawable,
                                public StrokeRendererDelegate,
                                public LayeredCanvasDelegate,
                                public LayerDelegate,
                                public BitmapProvider,
                                public std::enable_shared_from_this<DrawingController> {
public:
    using EncodedSnapshot = std::shared_ptr<StrokeSnapshot>;

    // Registers with the renderer, follows the active layer, subscribes to the
    // canvas and every layer, and becomes the receiver's bitmap provider.
    static std::shared_ptr<DrawingController>
    make(std::shared_ptr<Renderer> renderer, std::shared_ptr<DisplayViewModel> displayViewModel,
         const std::shared_ptr<LayeredCanvas>& canvas,
         const std::shared_ptr<UndoLockable>& undoLockable,
         const std::shared_ptr<RegistrationUndoManager>& undoManager,
         const std::shared_ptr<BitmapReceiver>& bitmapReceiver,
         DrawingSettings& settings = DrawingSettings::shared());
    // The controller showing `canvas` in `view`: `current` when it shows that
    // canvas already; else a new one on a new renderer, and `current`'s entries
    // leave the undo manager (they name a canvas no longer shown).
    static std::shared_ptr<DrawingController>
    setUp(const std::shared_ptr<DrawingController>& current, const std::shared_ptr<MTKView>& view,
          std::shared_ptr<DisplayViewModel> displayViewModel,
          const std::shared_ptr<LayeredCanvas>& canvas,
          const std::shared_ptr<UndoLockable>& undoLockable,
          const std::shared_ptr<UndoManager>& undoManager,
          const std::shared_ptr<BitmapReceiver>& bitmapReceiver,
          DrawingSettings& settings = DrawingSettings::shared());
    ~DrawingController() override;
    DrawingController(const DrawingController&) = delete;
    DrawingController& operator=(const DrawingController&) = delete;

    const std::shared_ptr<DrawingDrawable>& drawable() const { return drawable_; }
    const std::shared_ptr<StrokeRenderer>& strokeRenderer() const { return strokeRenderer_; }
    const std::shared_ptr<StrokesViewModel>& strokesViewModel() const { return strokesViewModel_; }
    std::shared_ptr<LayeredCanvas> canvas() const { return canvas_.lock(); }
    std::shared_ptr<DrawingControllerDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const std::shared_ptr<DrawingControllerDelegate>& d) { delegate_ = d; }
    const std::shared_ptr<OpaqueRenderedLayer>& currentRenderedLayer() const {
        return currentRenderedLayer_;
    }
    const MTLSize& canvasResolution() const { return canvasResolution_; }
    const std::shared_ptr<TexturePool>& pool() const { return pool_; }
    const std::shared_ptr<LiveRenderedCanvas>& renderedCanvas() const { return renderedCanvas_; }
    const std::shared_ptr<Renderer>& renderer() const { return renderer_; }
    std::shared_ptr<UndoLockable> undoLockable() const { return undoLockable_.lock(); }
    std::shared_ptr<RegistrationUndoManager> undoManager() const { return undoManager_.lock(); }
    // Where the undo entries keep their snapshots and archives: the program's
    // store unless given another.
    const std::shared_ptr<SnapshotStore>& snapshotStore() const { return snapshotStore_; }
    void setSnapshotStore(std::shared_ptr<SnapshotStore> store) {
        snapshotStore_ = std::move(store);
    }
    // From the first stroke's beginning until every stroke in progress is done.
    bool isDrawing() const { return strokeLiveScope_ != nullptr; }
    // Whether frames outside strokes may spread a large composite over several
    // frames, showing a reduced picture meanwhile (on by default).
    void setPacedFrames(bool paced) { pacedFrames_ = paced; }
    // The pacing of the next frame for the view's visible region and zoom; none without a view.
    std::optional<RenderedCanvas::Pacing> pacing() const;

    // RendererComputable, RendererDrawable.
    void compute(const std::shared_ptr<MTLCommandBuffer>& commandBuffer) override;
    void render(MTLViewport viewport, const MTLRenderPassDescriptor& renderPassDescriptor,
                const std::shared_ptr<MTLCommandBuffer>& commandBuffer) override;

    // StrokeRendererDelegate. A stroke finished while the active layer is not a
    // raster layer (it changed while the stroke waited) is written nowhere.
    std::shared_ptr<RasterLayer> strokeRendererPasteToActiveLayer(
        StrokeRenderer& renderer, const std::shared_ptr<MTLTexture>& texture,
        const MTLRegion& region, const std::vector<MTLRegion>& tiles,
        const std::shared_ptr<MTLCommandBuffer>& commandBuffer) override;
    void strokeRendererDidCommit(StrokeRenderer& renderer,
                                 const std::shared_ptr<NSBitmapImageRep>& after,
                                 const std::shared_ptr<NSBitmapImageRep>& before,
                                 const MTLOrigin& origin, const std::vector<MTLRegion>& parts,
                                 const std::shared_ptr<RasterLayer>& layer) override;
    void strokeRendererDidDrawIn(StrokeRenderer& renderer, const MTLRegion& region) override;
    // Only the stroke's tiles changed: the rest of the region already shows the layer.
    void strokeRendererDidCommitIn(StrokeRenderer& renderer, const MTLRegion& region,
                                   const std::vector<MTLRegion>& tiles) override;
    void strokeRendererDidBeginDrawing(StrokeRenderer& renderer) override;
    void strokeRendererDidEndDrawing(StrokeRenderer& renderer) override;

    // LayeredCanvasDelegate: layers inside an inserted or removed group are
    // subscribed or unsubscribed with it.
    void layeredCanvasDidInsert(LayeredCanvas& canvas, const std::shared_ptr<Layer>& layer,
                                const IndexPath& path) override;
    void layeredCanvasDidRemove(LayeredCanvas& canvas, const std::shared_ptr<Layer>& layer,
                                const IndexPath& path) override;
    void layeredCanvasDidMove(LayeredCanvas& canvas, const std::shared_ptr<Layer>& layer,
                              const IndexPath& from, const IndexPath& to,
                              const std::shared_ptr<LayerContainer>& fromContainer,
                              const std::shared_ptr<LayerContainer>& toContainer) override;

    // LayerDelegate.
    void layerDidChangeBlendMode(const std::shared_ptr<Layer>& layer, BlendMode from,
                                 BlendMode to) override;
    void layerDidChangeVisibility(const std::shared_ptr<Layer>& layer) override;
    void layerDidChangeOpacity(const std::shared_ptr<Layer>& layer, float from, float to) override;
    // A name shows on no pixel: only its undo entry.
    void layerDidChangeName(const std::shared_ptr<Layer>& layer, const std::string& from,
                            const std::string& to) override;

    // BitmapProvider: the flattened canvas, as its layers hold it (without a stroke
    // still being drawn).
    std::shared_ptr<NSBitmapImageRep> bitmap() override;

private:
    struct Token {};

public:
    DrawingController(Token, std::shared_ptr<Renderer> renderer);

private:
    void activeLayerDidChange(LayeredCanvas& canvas);
    void subscribe(const std::shared_ptr<Layer>& layer);
    void unsubscribe(const std::shared_ptr<Layer>& layer);
    // Marks the region dirty and draws a frame now, or at the next display pass;
    // `changed` when that layer alone changed.
    void redraw(const MTLRegion& region, bool now, const std::shared_ptr<Layer>& changed = nullptr);
    void restoreStroke(const UUID& layerID, const EncodedSnapshot& restore,
                       const EncodedSnapshot& other, const MTLOrigin& origin);
    void registerStrokeUndo(const UUID& layerID, EncodedSnapshot restore, EncodedSnapshot other,
                            const MTLOrigin& origin);
    // Registers the undo of a change of one of `layer`'s properties: `restore`
    // puts the old value back on the canvas's layer of that UUID.
    void registerLayerUndo(const std::shared_ptr<Layer>& layer, std::function<void(Layer&)> restore,
                           const std::string& actionName);

    std::shared_ptr<DrawingDrawable> drawable_;
    std::shared_ptr<StrokeRenderer> strokeRenderer_;
    std::shared_ptr<StrokesViewModel> strokesViewModel_;
    std::weak_ptr<LayeredCanvas> canvas_;
    std::weak_ptr<UndoLockable> undoLockable_;
    std::weak_ptr<RegistrationUndoManager> undoManager_;
    std::weak_ptr<DrawingControllerDelegate> delegate_;
    std::shared_ptr<OpaqueRenderedLayer> currentRenderedLayer_;
    MTLSize canvasResolution_{};
    std::shared_ptr<TexturePool> pool_ = std::make_shared<TexturePool>();
    std::shared_ptr<SnapshotStore> snapshotStore_ = SnapshotStore::shared();
    std::shared_ptr<LiveRenderedCanvas> renderedCanvas_;
    std::shared_ptr<Renderer> renderer_;
    std::shared_ptr<Renderer::LiveScope> strokeLiveScope_;
    std::shared_ptr<UndoLock> undoLock_;
    std::shared_ptr<void> activeLayerObservation_;
    bool pacedFrames_ = true;
    // Frames that showed a new step and left the catching up for later.
    uint64_t stepFrames_ = 0;
};

} // namespace velmora
