#pragma once

#include "Canvas/RasterLayer.hpp"
#include "Rendering/DotDesc.hpp"
#include "Rendering/Renderer.hpp"
#include "Rendering/StrokeRendererDelegate.hpp"
#include "Rendering/StrokeTiles.hpp"
#include "Rendering/StrokesViewModel.hpp"
#include "foundation/UUID.hpp"
#include "gpu/MTLCommandBuffer.hpp"
#include "gpu/MTLLibrary.hpp"
#include "gpu/MTLTexture.hpp"

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace velmora {

// The format of the stroke, scratch and active-layer copy textures, between which
// regions are blitted.
inline constexpr MTLPixelFormat drawingPixelFormat = MTLPixelFormat::rgba32Float;

// Turns the strokes of a stroke queue into pixels: stamps their dots, batch by
// batch, into the stroke texture (the one patch of `strokeLayer`), and blends each
// finished stroke into the active layer's copy, with before and after snapshots
// for undo. Main thread only; GPU work goes into the caller's command buffers.
class StrokeRenderer : public std::enable_shared_from_this<StrokeRenderer> {
public:
    static std::shared_ptr<StrokeRenderer> make(const Renderer::Settings& settings,
                                                std::shared_ptr<StrokesViewModel> strokesViewModel,
                                                const MTLSize& resolution);
    StrokeRenderer(const StrokeRenderer&) = delete;
    StrokeRenderer& operator=(const StrokeRenderer&) = delete;

    // Taking it counts as writing the stroke layer's patch: its cached image goes.
    const std::shared_ptr<MTLTexture>& strokeTexture();

    // Stamps every pending dot into the stroke texture and blends each finished
    // stroke into `destination` (drawingPixelFormat, canvas size). Encodes only.
    void render(const std::shared_ptr<MTLTexture>& destination,
                const std::shared_ptr<MTLCommandBuffer>& commandBuffer);

    const Renderer::Settings& settings() const { return settings_; }
    const std::shared_ptr<StrokesViewModel>& strokesViewModel() const { return strokesViewModel_; }
    const std::shared_ptr<MTLTexture>& scratchTexture() const { return scratchTexture_; }
    const std::shared_ptr<RasterLayer>& strokeLayer() const { return strokeLayer_; }
    // What the current stroke has drawn so far; empty when nothing is pending.
    const MTLRegion& strokeBounds() const { return strokeBounds_; }

    std::shared_ptr<StrokeRendererDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const std::shared_ptr<StrokeRendererDelegate>& delegate) {
        delegate_ = delegate;
    }

    static constexpr std::array<int32_t, 4> batchSizes{85, 32, 8, 1};

    // The record the kernel reads for a dot.
    static DotDesc dotDesc(const StrokesViewModel::Dot& dot);

    struct Token;
    StrokeRenderer(Token, const Renderer::Settings& settings,
                   std::shared_ptr<StrokesViewModel> strokesViewModel, const MTLSize& resolution);

private:
    using Stroke = StrokesViewModel::Stroke;
    // A blended stroke's undo data, written by its finish on the GPU timeline.
    struct Commit {
        MTLRegion region;
        // The region's pixels in `pieces` before and after the stroke, packed.
        std::shared_ptr<NSBitmapImageRep> before;
        std::shared_ptr<NSBitmapImageRep> after;
        std::shared_ptr<RasterLayer> layer;
        std::vector<MTLRegion> tiles;  // where the stroke had pixels, in canvas pixels
        std::vector<MTLRegion> pieces; // the same cut at every tile edge
    };

    // The pipeline and encoder label of one batch size, made once.
    struct DrawPipeline {
        int32_t batchSize = 0;
        std::shared_ptr<MTLComputePipelineState> state;
        std::string label;
    };

    std::shared_ptr<MTLComputePipelineState> makeDrawPipeline(int32_t batchSize,
                                                              const MTLLibrary& library) const;
    // dotDesc, converting each colour once for a run of dots that share it.
    const DotDesc& record(const StrokesViewModel::Dot& dot);
    MTLRegion drawDots(std::span<const StrokesViewModel::Dot> dots,
                       const std::shared_ptr<MTLTexture>& destination,
                       const std::shared_ptr<MTLCommandBuffer>& commandBuffer);
    std::optional<Commit>
    blendFinishedStroke(const std::shared_ptr<MTLTexture>& destination,
                        const std::shared_ptr<MTLCommandBuffer>& commandBuffer);
    void addCompletion(const Stroke& stroke, std::optional<Commit> commit,
                       MTLCommandBuffer& commandBuffer);
    void complete(const UUID& stroke, const std::optional<Commit>& commit);
    void releaseStrokeTexturePages();
    // Tells the stroke texture where it may hold pixels, so compositing never
    // reads (and so never allocates) the rest.
    void updateNonZeroBounds();

    Renderer::Settings settings_;
    std::shared_ptr<StrokesViewModel> strokesViewModel_;
    std::vector<DrawPipeline> drawPipelines_;
    // A batch's records and regions, kept so encoding allocates nothing per batch.
    std::vector<DotDesc> records_;
    std::vector<MTLRegion> regions_;
    NSColorRef recordColor_;
    DotDesc colorRecord_;
    std::shared_ptr<MTLTexture> scratchTexture_;
    std::shared_ptr<RasterLayer> strokeLayer_;
    MTLRegion strokeBounds_{};
    // The regions of finished strokes whose clearing has not completed yet.
    MTLRegion clearing_{};
    int finishing_ = 0;
    std::set<UUID> strokesInProgress_;
    // Counts the spells of drawing, so a pause's page release knows none began since.
    uint64_t drawingSpells_ = 0;
    // Where the current stroke has drawn, tile by tile.
    StrokeTiles tiles_;
    std::weak_ptr<StrokeRendererDelegate> delegate_;
};

} // namespace velmora
