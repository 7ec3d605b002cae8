#include "Rendering/StrokeRenderer.hpp"

#include "MetalExtensions/MTLCommandBufferExtensions.hpp"
#include "MetalExtensions/MTLOriginExtensions.hpp"
#include "MetalExtensions/MTLRegionExtensions.hpp"
#include "MetalExtensions/MTLTextureExtensions.hpp"
#include "Rendering/BlendKernel.hpp"
#include "Rendering/DrawDotsKernel.hpp"
#include "Rendering/MetalHelper.hpp"
#include "foundation/CheckedMath.hpp"
#include "foundation/DispatchQueue.hpp"
#include "foundation/FatalError.hpp"
#include "gpu/MTLError.hpp"
#include "graphics/ColorManagement.hpp"

#include <algorithm>
#include <climits>
#include <string>

namespace velmora {

struct StrokeRenderer::Token {};

std::shared_ptr<StrokeRenderer>
StrokeRenderer::make(const Renderer::Settings& settings,
                     std::shared_ptr<StrokesViewModel> strokesViewModel,
                     const MTLSize& resolution) {
    return std::make_shared<StrokeRenderer>(Token{}, settings, std::move(strokesViewModel),
                                            resolution);
}

StrokeRenderer::StrokeRenderer(Token, const Renderer::Settings& settings,
                               std::shared_ptr<StrokesViewModel> strokesViewModel,
                               const MTLSize& resolution)
    : settings_(settings), strokesViewModel_(std::move(strokesViewModel)),
      tiles_(MTLSize{resolution.width, resolution.height, 1}) {
    precondition(strokesViewModel_ != nullptr && settings_.device != nullptr);
    auto& helper = *MetalHelper::shared();
    const MTLSize size{resolution.width, resolution.height, 1};
    auto strokeTexture =
        helper.makeTexture(size, MTLTextureUsage::shaderReadWrite, MTLStorageMode::private_,
                           drawingPixelFormat, "Stroke texture");
    scratchTexture_ =
        helper.makeTexture(size, MTLTextureUsage::shaderReadWrite, MTLStorageMode::private_,
                           drawingPixelFormat, "Scratch texture");
    strokeLayer_ = RasterLayer::make("Internal Stroke Layer", strokeTexture, MTLOriginZero);

    registerDrawDotsKernel();
    const auto library = settings_.device->newDefaultLibrary();
    if (library == nullptr) {
        fatalError("The shader library cannot be loaded");
    }
    precondition(!batchSizes.empty() &&
                 *std::max_element(batchSizes.begin(), batchSizes.end()) * sizeof(DotDesc) <= 4096);
    for (const int32_t batchSize : batchSizes) {
        drawPipelines_.push_back({batchSize, makeDrawPipeline(batchSize, *library),
                                  "Draw " + std::to_string(batchSize) + " dots compute encoder"});
    }
    records_.reserve(size_t(batchSizes.front()));
    regions_.reserve(size_t(batchSizes.front()));

    const auto commandBuffer = helper.commandQueue()->commandBuffer();
    precondition(commandBuffer != nullptr);
    commandBuffer->setLabel("Temporary cmd buffer");
    helper.fill(strokeTexture, *NSColor::clearColor(), MTLRegion{MTLOriginZero, size},
                commandBuffer);
    commandBuffer->commit();
    updateNonZeroBounds();
}

std::shared_ptr<MTLComputePipelineState>
StrokeRenderer::makeDrawPipeline(int32_t batchSize, const MTLLibrary& library) const {
    MTLFunctionConstantValues constants;
    constants.setConstantValue(&batchSize, MTLDataType::int_, 0);
    try {
        return settings_.device->newComputePipelineState(
            library.newFunction("drawDots", constants));
    } catch (const MTLError& e) {
        fatalError(e.what());
    }
}

const std::shared_ptr<MTLTexture>& StrokeRenderer::strokeTexture() {
    auto& patches = strokeLayer_->patches();
    if (patches.size() != 1) {
        fatalError("Internal inconcistency");
    }
    patches.front()->cachedTiffData.clear();
    return patches.front()->texture();
}

DotDesc StrokeRenderer::dotDesc(const StrokesViewModel::Dot& dot) {
    DotDesc desc;
    desc.pos[0] = static_cast<float>(dot.position.x);
    desc.pos[1] = static_cast<float>(dot.position.y);
    if (dot.color != nullptr) {
        desc.color[0] = static_cast<float>(dot.color->redComponent());
        desc.color[1] = static_cast<float>(dot.color->greenComponent());
        desc.color[2] = static_cast<float>(dot.color->blueComponent());
        desc.color[3] = static_cast<float>(dot.color->alphaComponent());
    }
    desc.radius = static_cast<float>(dot.radius);
    desc.hardness = static_cast<float>(dot.hardness);
    desc.opacity = static_cast<float>(dot.opacity);
    return desc;
}

const DotDesc& StrokeRenderer::record(const StrokesViewModel::Dot& dot) {
    if (dot.color != recordColor_ || recordColor_ == nullptr) {
        colorRecord_ = dotDesc(dot);
        recordColor_ = dot.color;
    }
    DotDesc& desc = records_.emplace_back(colorRecord_);
    desc.pos[0] = static_cast<float>(dot.position.x);
    desc.pos[1] = static_cast<float>(dot.position.y);
    desc.radius = static_cast<float>(dot.radius);
    desc.hardness = static_cast<float>(dot.hardness);
    desc.opacity = static_cast<float>(dot.opacity);
    return desc;
}

void StrokeRenderer::render(const std::shared_ptr<MTLTexture>& destination,
                            const std::shared_ptr<MTLCommandBuffer>& commandBuffer) {
    while (const auto stroke = strokesViewModel_->front()) {
        const bool begins = strokesInProgress_.empty();
        strokesInProgress_.insert(stroke->uuid);
        if (begins) {
            drawingSpells_ += 1;
            if (const auto d = delegate()) {
                d->strokeRendererDidBeginDrawing(*this);
            }
        }
        strokeLayer_->setBlendMode(stroke->erasing ? BlendMode::eraser : BlendMode::normal);

        // The dots are taken batch by batch from the front and dropped together after.
        size_t taken = 0;
        for (const int32_t batchSize : batchSizes) {
            const auto n = static_cast<size_t>(batchSize);
            while (stroke->dots.size() - taken >= n) {
                const std::span<const StrokesViewModel::Dot> batch(stroke->dots.data() + taken, n);
                taken += n;
                const auto region = drawDots(batch, destination, commandBuffer);
                strokeBounds_ = unionWith(strokeBounds_, region);
                updateNonZeroBounds();
                if (const auto d = delegate()) {
                    d->strokeRendererDidDrawIn(*this, region);
                }
            }
        }
        stroke->dots.erase(stroke->dots.begin(),
                           stroke->dots.begin() + static_cast<std::ptrdiff_t>(taken));

        if (!stroke->finished) {
            break; // its dots are used up; it comes back once more arrive
        }
        addCompletion(*stroke, blendFinishedStroke(destination, commandBuffer), *commandBuffer);
        strokesViewModel_->popFront();
    }
}

MTLRegion StrokeRenderer::drawDots(std::span<const StrokesViewModel::Dot> dots,
                                   const std::shared_ptr<MTLTexture>& destination,
                                   const std::shared_ptr<MTLCommandBuffer>& commandBuffer) {
    const auto count = static_cast<int32_t>(dots.size());
    const auto pipeline = std::find_if(drawPipelines_.begin(), drawPipelines_.end(),
                                       [&](const DrawPipeline& p) { return p.batchSize == count; });
    if (pipeline == drawPipelines_.end()) {
        fatalError("Unsupported batch size");
    }
    records_.clear();
    regions_.clear();
    // The union of the regions, folded inline: a dot's region is empty or a square
    // in plane 0 whose coordinates stay far from overflowing.
    int64_t x0 = INT64_MAX, y0 = INT64_MAX, x1 = INT64_MIN, y1 = INT64_MIN;
    for (const auto& dot : dots) {
        const MTLRegion& r = regions_.emplace_back(dotRegion(record(dot)));
        if (!isEmpty(r)) {
            x0 = std::min(x0, r.origin.x);
            y0 = std::min(y0, r.origin.y);
            x1 = std::max(x1, r.origin.x + r.size.width);
            y1 = std::max(y1, r.origin.y + r.size.height);
        }
    }
    const MTLRegion region = x0 < x1 ? MTLRegion{{x0, y0, 0}, {x1 - x0, y1 - y0, 1}} : MTLRegion{};
    const auto& stroke = strokeTexture();
    const auto clipped = clipBlitRegions(region, std::min(destination->width(), stroke->width()),
                                         std::min(destination->height(), stroke->height()));
    if (!clipped) {
        return {};
    }
    for (const MTLRegion& r : regions_) {
        tiles_.mark(r);
    }
    // Only the part inside the textures is dispatched: a stroke dragged far off the
    // canvas costs nothing and its origin always fits the kernel's integers.
    const MTLRegion inside = clipped->second;
    const std::array<int32_t, 2> origin{checked::toInteger<int32_t>(double(inside.origin.x)),
                                        checked::toInteger<int32_t>(double(inside.origin.y))};
    compute(*commandBuffer, pipeline->label, [&](MTLComputeCommandEncoder& encoder) {
        encoder.setComputePipelineState(pipeline->state);
        // Stamped in place: each pixel depends only on its own value and
        // the dots, so reading and writing one texture gives the same bits.
        encoder.setTexture(stroke, 0);
        encoder.setTexture(stroke, 1);
        encoder.setBytes(records_.data(), records_.size() * sizeof(DotDesc), 2);
        encoder.setBytes(origin.data(), sizeof(origin), 3);
        dispatchThreadgroupsForWorkingOn(encoder, inside.size);
    });
    return inside;
}

void StrokeRenderer::updateNonZeroBounds() {
    strokeLayer_->patches().front()->texture()->setNonZeroBounds(
        unionWith(clearing_, strokeBounds_));
}

std::optional<StrokeRenderer::Commit>
StrokeRenderer::blendFinishedStroke(const std::shared_ptr<MTLTexture>& destination,
                                    const std::shared_ptr<MTLCommandBuffer>& commandBuffer) {
    if (isEmpty(strokeBounds_)) {
        tiles_.clear();
        return std::nullopt;
    }
    const MTLRegion bounds = strokeBounds_;
    strokeBounds_ = MTLRegion{};
    const auto clipped = clipBlitRegions(bounds, destination->width(), destination->height());
    if (!clipped) {
        tiles_.clear();
        return std::nullopt;
    }
    const MTLRegion region = clipped->second;
    const auto& stroke = strokeTexture();

    clearing_ = unionWith(clearing_, region);
    finishing_ += 1;
    // The snapshots keep only the tiles the stroke drew in, packed tile by tile;
    // their pages are first touched by the finish itself, off the main thread.
    auto runs = tiles_.markedRuns(region);
    auto pieces = StrokeTiles::tileByTile(runs);
    const MTLSize packed = StrokeTiles::packedSize(pieces);
    const auto& space = ColorManagement::workingNSColorSpace();
    Commit commit{region,
                  NSBitmapImageRep::makeRGBA8(packed.width, packed.height, space),
                  NSBitmapImageRep::makeRGBA8(packed.width, packed.height, space),
                  nullptr,
                  std::move(runs),
                  std::move(pieces)};
    precondition(commit.before != nullptr && commit.after != nullptr, "No stroke snapshots");

    const BlendMode mode = strokeLayer_->blendMode();
    precondition(mode == BlendMode::normal || mode == BlendMode::eraser,
                 "The stroke layer blends by source-over or the eraser");
    // Blend, snapshots and clearing in one pass that reads each pixel once and
    // touches only the tiles the stroke drew in.
    commandBuffer->pushDebugGroup("Blend stroke to layer (" + std::string(rawValue(mode)) + ")");
    tiles_.encodeFinish(stroke, destination, commit.pieces, mode == BlendMode::eraser,
                        commit.before, commit.after, *commandBuffer);
    commandBuffer->popDebugGroup();

    if (const auto d = delegate()) {
        commit.layer = d->strokeRendererPasteToActiveLayer(*this, destination, region, commit.tiles,
                                                           commandBuffer);
    }
    return commit;
}

void StrokeRenderer::releaseStrokeTexturePages() {
    // Every stroke is finished and cleared, and the next one is stamped after
    // this on the timeline: the whole texture is cleared, which gives its
    // pages back. Else a long session would keep the whole canvas's worth of
    // floats that some stroke once touched.
    MetalHelper& helper = *MetalHelper::shared();
    const auto commandBuffer = helper.commandQueue()->commandBuffer();
    commandBuffer->setLabel("Release stroke texture");
    const auto& texture = strokeTexture();
    helper.fill(texture, *NSColor::clearColor(),
                MTLRegion{MTLOriginZero, {texture->width(), texture->height(), 1}}, commandBuffer);
    commandBuffer->commit();
}

void StrokeRenderer::addCompletion(const Stroke& stroke, std::optional<Commit> commit,
                                   MTLCommandBuffer& commandBuffer) {
    // One main-queue turn for the end of drawing, the commit and the redraw, so no
    // user event lands between releasing the undo lock and registering the undo.
    commandBuffer.addCompletedHandler([weak = weak_from_this(), uuid = stroke.uuid,
                                       commit = std::move(commit)](MTLCommandBuffer&) mutable {
        // The data moves on, so the layer and the snapshots are let go on the main thread.
        DispatchQueue::main().async([weak, uuid, commit = std::move(commit)] {
            if (const auto self = weak.lock()) {
                self->complete(uuid, commit);
            }
        });
    });
}

void StrokeRenderer::complete(const UUID& stroke, const std::optional<Commit>& commit) {
    strokesInProgress_.erase(stroke);
    if (strokesInProgress_.empty()) {
        // Only after a pause: strokes drawn in quick succession would each
        // fault their pages in again.
        DispatchQueue::main().asyncAfter(
            std::chrono::seconds(1), [weak = weak_from_this(), spell = drawingSpells_] {
                const auto self = weak.lock();
                if (self && self->strokesInProgress_.empty() && self->drawingSpells_ == spell) {
                    self->releaseStrokeTexturePages();
                }
            });
        if (const auto d = delegate()) {
            d->strokeRendererDidEndDrawing(*this);
        }
    }
    if (!commit) {
        return;
    }
    // Every finish encoded before this one has run too: the timeline keeps order.
    if (--finishing_ == 0) {
        clearing_ = MTLRegion{};
    }
    updateNonZeroBounds();
    MetalHelper::shared()->clearCaches();
    if (const auto d = delegate()) {
        // The snapshots were written by the finish itself: nothing to wait for.
        std::vector<MTLRegion> parts;
        parts.reserve(commit->pieces.size());
        for (const MTLRegion& tile : commit->pieces) {
            parts.push_back({makeMTLOrigin(tile.origin - commit->region.origin), tile.size});
        }
        d->strokeRendererDidCommit(*this, commit->after, commit->before, commit->region.origin,
                                   parts, commit->layer);
        d->strokeRendererDidCommitIn(*this, commit->region, commit->tiles);
    }
}

} // namespace velmora
