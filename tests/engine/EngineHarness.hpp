#pragma once

#include "Canvas/LayeredCanvas.hpp"
#include "Canvas/RasterLayer.hpp"
#include "Rendering/DisplayViewModel.hpp"
#include "Rendering/DrawingDrawable.hpp"
#include "Rendering/DrawingSettings.hpp"
#include "Rendering/LiveRenderedCanvas.hpp"
#include "Rendering/OpaqueRenderedLayer.hpp"
#include "Rendering/Renderer.hpp"
#include "Rendering/StrokeRenderer.hpp"
#include "Rendering/StrokesViewModel.hpp"
#include "Rendering/TexturePool.hpp"
#include "foundation/UserDefaults.hpp"
#include "gpu/HeadlessViewHost.hpp"
#include "gpu/MTKView.hpp"

#include <memory>
#include <string>
#include <vector>

namespace velmora::engine {

// Stands in for the application's drawing controller: owns the engine objects of
// one canvas, drives the stroke renderer in every frame's compute pass, draws the
// rendered canvas, pastes finished strokes into the active raster layer and
// records every call the stroke renderer makes.
class TestDrawingController : public RendererComputable,
                              public RendererDrawable,
                              public StrokeRendererDelegate,
                              public std::enable_shared_from_this<TestDrawingController> {
public:
    struct Event {
        enum class Kind { began, drew, pasted, committed, ended };
        Kind kind;
        MTLRegion region{};
        std::shared_ptr<NSBitmapImageRep> after, before;
        std::shared_ptr<RasterLayer> layer;
    };

    // A headless view of the canvas's size showing it at scale 1, its renderer,
    // and the engine objects wired as the application wires them.
    static std::shared_ptr<TestDrawingController> make(const std::shared_ptr<LayeredCanvas>& canvas,
                                                       DrawingSettings& settings,
                                                       bool keepsFrames = true);

    void compute(const std::shared_ptr<MTLCommandBuffer>& commandBuffer) override;
    void render(MTLViewport viewport, const MTLRenderPassDescriptor& renderPassDescriptor,
                const std::shared_ptr<MTLCommandBuffer>& commandBuffer) override;

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
    // Recorded as a drawn region; only the stroke's tiles are composited again.
    void strokeRendererDidCommitIn(StrokeRenderer& renderer, const MTLRegion& region,
                                   const std::vector<MTLRegion>& tiles) override;
    void strokeRendererDidBeginDrawing(StrokeRenderer& renderer) override;
    void strokeRendererDidEndDrawing(StrokeRenderer& renderer) override;

    // Feeds samples and waits on the main queue until each one's completion ran.
    void enqueue(const std::vector<RawPoint>& samples);
    // Closes the stroke and waits until it is queued.
    void closeStroke();
    // Every stroke closed so far, whole, from a second queue fed the same samples
    // that nothing draws from.
    std::vector<std::vector<StrokesViewModel::Dot>> closedStrokes();
    // One frame, as the view's clock would draw it.
    void drawFrame() { view->draw(); }
    // Waits for the GPU work committed so far, then runs the main queue dry.
    void settle();
    // Frames until the queue is empty, then settles: every stroke is complete.
    void drawUntilIdle();

    std::shared_ptr<LayeredCanvas> canvas;
    std::shared_ptr<HeadlessViewHost> host;
    std::shared_ptr<MTKView> view;
    std::shared_ptr<Renderer> renderer;
    std::shared_ptr<DisplayViewModel> displayViewModel = std::make_shared<DisplayViewModel>();
    std::shared_ptr<TexturePool> pool = std::make_shared<TexturePool>();
    std::shared_ptr<StrokesViewModel> strokesViewModel;
    std::shared_ptr<StrokesViewModel> shadow;
    std::shared_ptr<DrawingDrawable> drawable;
    std::shared_ptr<StrokeRenderer> strokeRenderer_;
    std::shared_ptr<LiveRenderedCanvas> renderedCanvas;
    std::shared_ptr<OpaqueRenderedLayer> currentRenderedLayer;
    std::shared_ptr<Renderer::LiveScope> strokeLiveScope;
    std::shared_ptr<void> activeLayerObservation;

    std::vector<Event> events;
    // The dots each stroke was given, in order, as the frames found them queued.
    std::vector<std::vector<StrokesViewModel::Dot>> strokeDots;
    std::vector<UUID> strokeIDs;
    int samplesDone = 0;
};

// Drawing settings of their own, kept only in memory.
struct TestSettings {
    UserDefaults defaults{std::nullopt};
    DrawingSettings settings{defaults};
};

} // namespace velmora::engine
