#include "Rendering/RenderedCanvas.hpp"

#include "Canvas/FilledLayer.hpp"
#include "Canvas/GroupLayer.hpp"
#include "Canvas/RasterLayer.hpp"
#include "Extensions/CIImageExtensions.hpp"
#include "MetalExtensions/MTLRegionExtensions.hpp"
#include "MetalExtensions/MTLTextureExtensions.hpp"
#include "Rendering/BlendKernel.hpp"
#include "Rendering/MetalHelper.hpp"
#include "Rendering/OpaqueTextureBitmap.hpp"
#include "Rendering/ReducedCanvas.hpp"
#include "Rendering/SplitComposite.hpp"
#include "Rendering/TileCompositor.hpp"
#include "Rendering/ZeroTiles.hpp"
#include "foundation/FatalError.hpp"
#include "foundation/LogHandles.hpp"
#include "graphics/ColorManagement.hpp"
#include "imaging/CIContext.hpp"

#include <algorithm>
#include <map>
#include <tuple>
#include <utility>

namespace velmora {

namespace {

std::string intermediateLabel(size_t index) {
    return "Intermediate image for depth " + std::to_string(index);
}

// Notes the buffer being encoded into for the layers' pictures while it lasts.
class EncodingScope {
public:
    EncodingScope(MTLCommandBuffer*& slot, MTLCommandBuffer* buffer) : slot_(slot) {
        slot_ = buffer;
    }
    ~EncodingScope() { slot_ = nullptr; }
    EncodingScope(const EncodingScope&) = delete;
    EncodingScope& operator=(const EncodingScope&) = delete;

private:
    MTLCommandBuffer*& slot_;
};

int64_t area(const MTLRegion& r) {
    return r.size.width * r.size.height;
}

// The region cut along a grid of `side`, row by row.
void cutAlongGrid(const MTLRegion& r, int64_t side, std::vector<MTLRegion>& out) {
    const auto floorTo = [side](int64_t v) { return (v >= 0 ? v : v - side + 1) / side * side; };
    for (int64_t y = floorTo(bottom(r)); y < top(r); y += side) {
        for (int64_t x = floorTo(left(r)); x < right(r); x += side) {
            if (const auto piece = intersection(r, makeMTLRegion(x, y, side, side))) {
                out.push_back(*piece);
            }
        }
    }
}

} // namespace

RenderedCanvas::RenderedCanvas(const std::shared_ptr<LayeredCanvas>& canvas)
    : dirtyRect_{MTLOriginZero, canvas->size()}, canvas_(canvas),
      scratch_(std::make_shared<imaging::ScratchPool>()),
      zeroTiles_(std::make_shared<ZeroTiles>()) {
    const MTLSize& size = canvas->size();
    texture_ = MetalHelper::shared()->makeTexture(
        {size.width, size.height, 1}, MTLTextureUsage::shaderReadWrite, MTLStorageMode::private_,
        MTLPixelFormat::rgba8Unorm, "Rendered Canvas output");
    precondition(texture_ != nullptr, "No texture for the rendered canvas");
}

RenderedCanvas::RenderedCanvas(const std::shared_ptr<LayeredCanvas>& canvas, const MTLSize& size)
    : dirtyRect_{MTLOriginZero, size}, canvas_(canvas),
      scratch_(std::make_shared<imaging::ScratchPool>()),
      zeroTiles_(std::make_shared<ZeroTiles>()) {
    texture_ = MetalHelper::shared()->makeTexture(
        {size.width, size.height, 1}, MTLTextureUsage::shaderReadWrite, MTLStorageMode::private_,
        MTLPixelFormat::rgba8Unorm, "Reduced canvas");
    precondition(texture_ != nullptr, "No texture for the reduced canvas");
}

RenderedCanvas::~RenderedCanvas() = default;

CompositeStep RenderedCanvas::makeStep(const LayerNodeTree& node, const MTLRegion& tile) {
    CompositeStep step;
    const Layer& layer = *node.value.layer;
    step.setKernel(*blendKernel(layer.blendMode()));
    if (node.children.empty()) {
        if (dynamic_cast<const RasterLayer*>(&layer) == nullptr &&
            dynamic_cast<const FilledLayer*>(&layer) == nullptr) {
            fatalError("Internal inconcistency");
        }
        step.image = node.value.image
                         .transformed(CGAffineTransform::makeTranslation(-CGFloat(tile.origin.x),
                                                                         -CGFloat(tile.origin.y)))
                         .node();
        return step;
    }
    if (dynamic_cast<const GroupLayer*>(&layer) == nullptr) {
        fatalError("Internal inconcistency");
    }
    step.visible = layer.visible();
    step.opacity = layer.opacity();
    step.children.reserve(node.children.size());
    for (const auto& child : node.children) {
        step.children.push_back(makeStep(*child, tile));
    }
    return step;
}

void RenderedCanvas::needsUpdate(const MTLRegion& region) {
    mark(region, nullptr);
}

void RenderedCanvas::needsUpdate(const MTLRegion& region, const std::shared_ptr<Layer>& changed) {
    mark(region, changed);
}

void RenderedCanvas::mark(const MTLRegion& region, const std::shared_ptr<Layer>& changed) {
    if (changed == nullptr || focus_.lock() != changed) {
        split_.reset();
    }
    focus_ = changed;
    const auto inside = intersection(region, MTLRegion{MTLOriginZero, size(*texture_)});
    if (inside) {
        dirtyRect_ = unionWith(dirtyRect_, *inside);
        markedSinceCompute_ = true;
        if (preview_ != nullptr) {
            preview_->mark(ReducedCanvas::reducedRegion(*inside, preview_->level()), changed);
        }
    }
}

void RenderedCanvas::needsUpdateIn(const std::vector<MTLRegion>& parts) {
    split_.reset();
    focus_.reset();
    for (const MTLRegion& part : parts) {
        if (const auto inside = intersection(part, MTLRegion{MTLOriginZero, size(*texture_)})) {
            dirtyParts_.push_back(*inside);
            markedSinceCompute_ = true;
            if (preview_ != nullptr) {
                preview_->mark(ReducedCanvas::reducedRegion(*inside, preview_->level()), nullptr);
            }
        }
    }
}

int64_t RenderedCanvas::dirtyArea() const {
    int64_t sum = area(dirtyRect_);
    for (const MTLRegion& part : dirtyParts_) {
        sum += area(part);
    }
    return sum;
}

std::pair<std::shared_ptr<MTLTexture>, int> RenderedCanvas::shownTexture() const {
    if (pacing_ && pacing_->level > 0 && preview_ != nullptr &&
        preview_->level() == pacing_->level && !isCaughtUp()) {
        return {preview_->texture(), pacing_->level};
    }
    return {texture_, 0};
}

void RenderedCanvas::compute(const std::shared_ptr<MTLCommandBuffer>& commandBuffer) {
    const bool stepped = std::exchange(markedSinceCompute_, false);
    computedAStep_ = false;
    splitRegion_ = MTLRegion{};
    splitTree_.reset();
    if (pacing_ && dirtyArea() > pacing_->area) {
        if (stepped) {
            // A new step: its frame shows it first; catching up waits for a frame without one.
            Pacing quick = *pacing_;
            quick.budget = 0;
            computePaced(quick, commandBuffer);
            computedAStep_ = true;
            return;
        }
        computePaced(*pacing_, commandBuffer);
    } else {
        computeAll(commandBuffer);
    }
}

void RenderedCanvas::computePaced(const Pacing& pacing,
                                  const std::shared_ptr<MTLCommandBuffer>& commandBuffer) {
    std::vector<MTLRegion> pieces;
    if (!isEmpty(dirtyRect_)) {
        cutAlongGrid(dirtyRect_, pacing.block, pieces);
    }
    for (const MTLRegion& part : dirtyParts_) {
        if (!contains(dirtyRect_, part)) {
            cutAlongGrid(part, pacing.block, pieces);
        }
    }
    std::stable_partition(pieces.begin(), pieces.end(), [&](const MTLRegion& piece) {
        return intersects(piece, pacing.visible);
    });
    std::vector<MTLRegion> now, later;
    int64_t budget = pacing.budget;
    if (pacing.level == 0 && !isEmpty(pacing.visible)) {
        // The blocks the view shows, whole: every one of them is done now.
        const auto outward = [&](int64_t v, bool up) {
            const int64_t b = pacing.block;
            return up ? (v + b - 1) / b * b : v / b * b;
        };
        const int64_t x0 = outward(left(pacing.visible), false);
        const int64_t y0 = outward(bottom(pacing.visible), false);
        const int64_t x1 = outward(right(pacing.visible), true);
        const int64_t y1 = outward(top(pacing.visible), true);
        splitRegion_ = intersection(makeMTLRegion(x0, y0, x1 - x0, y1 - y0),
                                    MTLRegion{MTLOriginZero, size(*texture_)})
                           .value_or(MTLRegion{});
        splitExact_ = true;
    }
    for (const MTLRegion& piece : pieces) {
        // At full resolution the view shows this texture itself: all it shows is done now.
        if (pacing.level == 0 && intersects(piece, pacing.visible)) {
            now.push_back(piece);
        } else if (budget > 0) {
            now.push_back(piece);
            budget -= area(piece);
        } else {
            later.push_back(piece);
        }
    }
    {
        const EncodingScope scope(encodingBuffer_, commandBuffer.get());
        dirtyRect_ = MTLRegion{};
        dirtyParts_ = std::move(now);
        renderParts(MTLRegion{}, commandBuffer);
        dirtyParts_ = std::move(later);
    }
    if (pacing.level > 0 && !isCaughtUp()) {
        const auto canvas = canvas_.lock();
        if (canvas == nullptr) {
            return;
        }
        if (preview_ == nullptr || preview_->level() != pacing.level) {
            preview_ = std::make_shared<ReducedCanvas>(canvas, pacing.level);
        }
        const MTLRegion reduced = ReducedCanvas::reducedRegion(pacing.visible, pacing.level);
        // Only a picture to look at: what lies above may be flattened.
        RenderedCanvas& preview = *preview_;
        preview.splitRegion_ = reduced;
        preview.splitExact_ = false;
        preview_->computeWithin(reduced, commandBuffer);
    }
}

void RenderedCanvas::computeWithin(const MTLRegion& within,
                                   const std::shared_ptr<MTLCommandBuffer>& commandBuffer) {
    const EncodingScope scope(encodingBuffer_, commandBuffer.get());
    splitTree_.reset();
    if (!isEmpty(dirtyRect_)) {
        if (const auto part = intersection(dirtyRect_, within)) {
            renderRegion(*part, texture_, commandBuffer);
        }
        if (contains(within, dirtyRect_)) {
            dirtyRect_ = MTLRegion{};
        }
    }
    if (dirtyParts_.empty()) {
        return;
    }
    std::vector<MTLRegion> inside, kept;
    for (const MTLRegion& part : dirtyParts_) {
        if (const auto common = intersection(part, within)) {
            inside.push_back(*common);
        }
        if (!contains(within, part)) {
            kept.push_back(part);
        }
    }
    dirtyParts_ = std::move(inside);
    renderParts(MTLRegion{}, commandBuffer);
    dirtyParts_ = std::move(kept);
}

void RenderedCanvas::computeAll(const std::shared_ptr<MTLCommandBuffer>& commandBuffer) {
    const EncodingScope scope(encodingBuffer_, commandBuffer.get());
    splitRegion_ = MTLRegion{};
    splitTree_.reset();
    const MTLRegion whole = dirtyRect_;
    if (!isEmpty(whole)) {
        renderRegion(whole, texture_, commandBuffer);
    }
    if (!dirtyParts_.empty()) {
        renderParts(whole, commandBuffer);
    }
    dirtyRect_ = MTLRegion{};
    dirtyParts_.clear();
}

std::shared_ptr<NSBitmapImageRep> RenderedCanvas::asBitmap() {
    // Always through a committed buffer: the timeline runs buffers in commit
    // order, so waiting for this one also waits for frames still compositing
    // into the texture, and a save never reads it half written.
    MetalHelper& helper = *MetalHelper::shared();
    const auto commandBuffer = helper.commandQueue()->commandBuffer();
    precondition(commandBuffer != nullptr, "No command buffer");
    computeAll(commandBuffer);
    commandBuffer->commit();
    commandBuffer->waitUntilCompleted();
    if (commandBuffer->status() == MTLCommandBufferStatus::error) {
        throw MetalHelper::CommandBufferError(
            commandBuffer->error().value_or("Compositing failed"));
    }
    // Opaque, as flattened over white, its rows are the picture as they are.
    if (auto bitmap = opaqueTextureBitmap(*texture_)) {
        return bitmap;
    }
    CIImageOptions options;
    options.colorSpace = ColorManagement::workingColorSpace();
    const auto image = CIImage::withTexture(texture_, options);
    precondition(image.has_value(), "No image of the rendered canvas");
    // The texture holds straight colour; the image graph works premultiplied.
    const CIContext context;
    auto bitmap = context.createBitmap(image->premultiplyingAlpha(), image->extent());
    precondition(bitmap != nullptr, "No bitmap of the rendered canvas");
    return bitmap;
}

CIImage RenderedCanvas::activeLayerImage(const Layer& layer, const MTLRegion& region) const {
    return layer.applyingAlpha(layerImage(layer, region));
}

CIImage RenderedCanvas::layerImage(const Layer& layer, const MTLRegion& region) const {
    return layer.image(region);
}

std::optional<RenderedCanvas::LayerNode>
RenderedCanvas::makeLayerNode(const std::shared_ptr<Layer>& layer,
                              const std::shared_ptr<Layer>& activeLayer,
                              const MTLRegion& region) const {
    const bool raster = dynamic_cast<const RasterLayer*>(layer.get()) != nullptr;
    if (raster && layer == activeLayer) {
        return LayerNode{activeLayerImage(*layer, region), layer};
    }
    CIImage image = layer->applyingAlpha(layerImage(*layer, region));
    if (raster && image.isEmpty()) {
        return std::nullopt;
    }
    return LayerNode{std::move(image), layer};
}

RenderedCanvas::LayerNodeTree::Pointer
RenderedCanvas::prune(const LayerNodeTree::Pointer& node, const std::shared_ptr<Layer>& activeLayer,
                      const std::shared_ptr<Layer>& keep) {
    const Layer* layer = node->value.layer.get();
    if (dynamic_cast<const RasterLayer*>(layer) != nullptr ||
        dynamic_cast<const FilledLayer*>(layer) != nullptr) {
        if (node->value.image.isEmpty() && (activeLayer == nullptr || layer != activeLayer.get()) &&
            (keep == nullptr || layer != keep.get())) {
            return nullptr;
        }
        return node;
    }
    if (dynamic_cast<const GroupLayer*>(layer) == nullptr) {
        fatalError("Unknown node type");
    }
    if (node->children.empty()) {
        return nullptr;
    }
    std::vector<LayerNodeTree::Pointer> kept;
    for (const auto& child : node->children) {
        if (auto pruned = prune(child, activeLayer, keep)) {
            kept.push_back(std::move(pruned));
        }
    }
    if (kept.empty()) {
        return nullptr;
    }
    for (const auto& child : node->children) {
        child->parent.reset();
    }
    node->children.clear();
    node->addChildren(kept);
    return node;
}

RenderedCanvas::LayerNodeTree::Pointer
RenderedCanvas::prunedTree(const LayeredCanvas& canvas, const MTLRegion& region,
                           const std::shared_ptr<Layer>& kept) const {
    const auto activeLayer = canvas.activeLayer();
    const auto tree = canvas.layerTree()->compactMap(
        {}, [&](const std::shared_ptr<Layer>& layer, const std::vector<std::shared_ptr<Layer>>&) {
            auto node = makeLayerNode(layer, activeLayer, region);
            if (!node && layer == kept) {
                node = LayerNode{CIImage(), layer};
            }
            return node;
        });
    return tree ? prune(tree, activeLayer, kept) : nullptr;
}

RenderedCanvas::LayerNodeTree::Pointer RenderedCanvas::splitTree(const LayeredCanvas& canvas,
                                                                 const MTLRegion& region,
                                                                 MTLCommandBuffer& commandBuffer) {
    const auto focus = focus_.lock();
    if (focus == nullptr || isEmpty(splitRegion_) || !contains(splitRegion_, region)) {
        return nullptr;
    }
    if (split_ != nullptr && (split_->region() != splitRegion_ || split_->exact() != splitExact_ ||
                              split_->layer() != focus)) {
        split_.reset();
    }
    if (splitTree_ == nullptr) {
        // The layer stays in even while it shows nothing, so the split holds.
        splitTree_ = prunedTree(canvas, splitRegion_, focus);
    }
    if (splitTree_ == nullptr) {
        return nullptr;
    }
    if (split_ == nullptr) {
        split_ = std::make_unique<SplitComposite>(focus, splitRegion_, splitExact_);
    }
    if (!split_->isBuilt() || !split_->matches(*splitTree_)) {
        updateIntermediateTextures(*canvas.layerTree());
        if (!split_->build(*splitTree_, size(*texture_), intermediateTextures_, scratch_,
                           commandBuffer)) {
            split_.reset();
            return nullptr;
        }
    }
    return splitTree_;
}

void RenderedCanvas::renderRegion(const MTLRegion& region,
                                  const std::shared_ptr<MTLTexture>& destination,
                                  const std::shared_ptr<MTLCommandBuffer>& commandBuffer) {
    const auto canvas = canvas_.lock();
    if (!canvas) {
        // Nothing left to show; the texture keeps its last picture.
        return;
    }
    if (const auto tree = splitTree(*canvas, region, *commandBuffer)) {
        updateIntermediateTextures(*canvas->layerTree());
        std::vector<TileComposite> tiles;
        for (const MTLRegion& tile : split(region, tileSize)) {
            tiles.push_back({split_->step(*tree, tile), tile, {}});
        }
        commandBuffer->pushDebugGroup(description(region));
        encodeTileComposites(std::move(tiles), intermediateTextures_, destination, scratch_,
                             *commandBuffer, zeroTiles_);
        commandBuffer->popDebugGroup();
        return;
    }
    const auto pruned = prunedTree(*canvas, region);
    if (!pruned) {
        MetalHelper::shared()->render(canvasFillImage(CIColor::white()), destination, region.origin,
                                      region, commandBuffer);
        return;
    }
    renderTiles(*pruned, region, destination, commandBuffer);
}

void RenderedCanvas::renderParts(const MTLRegion& done,
                                 const std::shared_ptr<MTLCommandBuffer>& commandBuffer) {
    const auto canvas = canvas_.lock();
    if (!canvas) {
        return;
    }
    // The parts cut along the canvas's tile grid, by tile, those inside the
    // split's region apart.
    const int64_t side = tileSize.width;
    std::map<std::tuple<int64_t, int64_t, bool>, std::vector<MTLRegion>> byTile;
    for (const MTLRegion& part : dirtyParts_) {
        if (contains(done, part)) {
            continue;
        }
        for (int64_t ty = bottom(part) / side; ty * side < top(part); ++ty) {
            for (int64_t tx = left(part) / side; tx * side < right(part); ++tx) {
                const MTLRegion tile = makeMTLRegion(tx * side, ty * side, side, side);
                if (const auto piece = intersection(part, tile)) {
                    const bool inside = !isEmpty(splitRegion_) && contains(splitRegion_, *piece);
                    byTile[{ty, tx, inside}].push_back(*piece);
                }
            }
        }
    }
    std::vector<TileComposite> tiles;
    MTLRegion all{};
    const auto addTile = [&](auto step, const MTLRegion& bounds,
                             const std::vector<MTLRegion>& pieces) {
        TileComposite tile{std::move(step), bounds, {}};
        for (const MTLRegion& piece : pieces) {
            tile.parts.push_back({piece.origin.x - bounds.origin.x,
                                  piece.origin.y - bounds.origin.y, piece.size.width,
                                  piece.size.height});
        }
        tiles.push_back(std::move(tile));
        all = unionWith(all, bounds);
    };
    for (const auto& [key, pieces] : byTile) {
        MTLRegion bounds{};
        for (const MTLRegion& piece : pieces) {
            bounds = unionWith(bounds, piece);
        }
        if (std::get<2>(key)) {
            if (const auto tree = splitTree(*canvas, bounds, *commandBuffer)) {
                addTile(split_->step(*tree, bounds), bounds, pieces);
                continue;
            }
        }
        const auto pruned = prunedTree(*canvas, bounds);
        if (!pruned) {
            for (const MTLRegion& piece : pieces) {
                MetalHelper::shared()->render(canvasFillImage(CIColor::white()), texture_,
                                              piece.origin, piece, commandBuffer);
            }
            continue;
        }
        addTile(makeStep(*pruned, bounds), bounds, pieces);
    }
    if (tiles.empty()) {
        return;
    }
    updateIntermediateTextures(*canvas->layerTree());
    commandBuffer->pushDebugGroup(description(all));
    encodeTileComposites(std::move(tiles), intermediateTextures_, texture_, scratch_,
                         *commandBuffer, zeroTiles_);
    commandBuffer->popDebugGroup();
}

void RenderedCanvas::updateIntermediateTextures(const LayerTree& tree) {
    size_t deepest = 0;
    tree.recursiveForEach(
        [&](const std::shared_ptr<Layer>&, const std::vector<std::shared_ptr<Layer>>& parents) {
            deepest = std::max(deepest, parents.size());
        });
    const size_t needed = 1 + deepest;
    const size_t count = intermediateTextures_.size();
    if (needed < count) {
        intermediateTextures_.resize(needed);
        renderingStatisticsLogs().log("Removed %d intermediate textures, total: %d.",
                                      int64_t(count - needed), int64_t(needed));
    } else if (needed > count) {
        MetalHelper& helper = *MetalHelper::shared();
        while (intermediateTextures_.size() < needed) {
            auto texture = helper.makeTexture(tileSize, MTLTextureUsage::shaderReadWrite,
                                              MTLStorageMode::private_, MTLPixelFormat::rgba8Unorm,
                                              intermediateLabel(intermediateTextures_.size()));
            precondition(texture != nullptr, "No intermediate texture");
            intermediateTextures_.push_back(std::move(texture));
        }
        renderingStatisticsLogs().log("Allocated %d intermediate textures, total: %d.",
                                      int64_t(needed - count), int64_t(needed));
    }
}

void RenderedCanvas::renderTiles(const LayerNodeTree& tree, const MTLRegion& region,
                                 const std::shared_ptr<MTLTexture>& destination,
                                 const std::shared_ptr<MTLCommandBuffer>& commandBuffer) {
    const auto canvas = canvas_.lock();
    precondition(canvas != nullptr, "The rendered canvas lost its canvas");
    updateIntermediateTextures(*canvas->layerTree());
    // One command for every tile: no worker waits at the end of each.
    std::vector<TileComposite> tiles;
    for (const MTLRegion& tile : split(region, tileSize)) {
        tiles.push_back({makeStep(tree, tile), tile, {}});
    }
    commandBuffer->pushDebugGroup(description(region));
    encodeTileComposites(std::move(tiles), intermediateTextures_, destination, scratch_,
                         *commandBuffer, zeroTiles_);
    commandBuffer->popDebugGroup();
}

} // namespace velmora
