#include "Rendering/SplitComposite.hpp"

#include "Canvas/FilledLayer.hpp"
#include "Extensions/CIImageExtensions.hpp"
#include "MetalExtensions/MTLRegionExtensions.hpp"
#include "MetalExtensions/MTLTextureExtensions.hpp"
#include "Rendering/BlendKernel.hpp"
#include "Rendering/MetalHelper.hpp"
#include "foundation/FatalError.hpp"
#include "graphics/ColorManagement.hpp"

#include <algorithm>
#include <utility>

namespace velmora {

namespace {

using Tree = RenderedCanvas::LayerNodeTree;

// A group's step without its children.
CompositeStep groupStep(const Layer& group) {
    CompositeStep step;
    step.setKernel(*blendKernel(group.blendMode()));
    step.visible = group.visible();
    step.opacity = group.opacity();
    return step;
}

// A kept texture as a leaf of a tile's steps.
CompositeStep textureStep(const std::shared_ptr<MTLTexture>& texture, const MTLRegion& tile,
                          bool seed) {
    CIImageOptions options;
    options.colorSpace = ColorManagement::workingColorSpace();
    const auto image = CIImage::withTexture(texture, options);
    precondition(image.has_value(), "A kept composite gives no image");
    // The texture holds straight colour: a seed is copied as it is, a
    // flattened layer is blended premultiplied like any other.
    const CIImage placed = seed ? *image : image->premultiplyingAlpha();
    CompositeStep step;
    step.setKernel(*blendKernel(BlendMode::sourceOver));
    step.seed = seed;
    step.image = placed
                     .transformed(CGAffineTransform::makeTranslation(-CGFloat(tile.origin.x),
                                                                     -CGFloat(tile.origin.y)))
                     .node();
    return step;
}

std::vector<std::shared_ptr<Layer>> layersOf(const Tree& group, size_t from, size_t to) {
    std::vector<std::shared_ptr<Layer>> out;
    for (size_t i = from; i < to; ++i) {
        out.push_back(group.children[i]->value.layer);
    }
    return out;
}

// The same layer; the canvas's filled layer is made anew for every tree.
bool same(const Layer& a, const Layer& b) {
    if (&a == &b) {
        return true;
    }
    const auto* fa = dynamic_cast<const FilledLayer*>(&a);
    const auto* fb = dynamic_cast<const FilledLayer*>(&b);
    return fa != nullptr && fb != nullptr && fa->color() == fb->color() &&
           a.blendMode() == b.blendMode() && a.visible() == b.visible() &&
           a.opacity() == b.opacity();
}

bool same(const std::vector<std::shared_ptr<Layer>>& a,
          const std::vector<std::shared_ptr<Layer>>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const auto& x, const auto& y) { return same(*x, *y); });
}

} // namespace

SplitComposite::SplitComposite(std::shared_ptr<Layer> layer, const MTLRegion& region, bool exact)
    : layer_(std::move(layer)), region_(region), exact_(exact) {}

SplitComposite::Path SplitComposite::pathTo(const Tree& tree) const {
    Path path;
    const auto search = [&](const auto& self, const Tree& node) -> bool {
        for (size_t i = 0; i < node.children.size(); ++i) {
            const Tree& child = *node.children[i];
            path.emplace_back(&node, i);
            if (child.value.layer == layer_ || self(self, child)) {
                return true;
            }
            path.pop_back();
        }
        return false;
    };
    search(search, tree);
    return path;
}

bool SplitComposite::flattens(const std::vector<std::shared_ptr<Layer>>& above) const {
    if (exact_) {
        return false;
    }
    for (const auto& layer : above) {
        if (layer->blendMode() != BlendMode::sourceOver) {
            return false;
        }
    }
    return true;
}

bool SplitComposite::matches(const Tree& tree) const {
    const Path path = pathTo(tree);
    if (path.empty() || path.size() != levels_.size()) {
        return false;
    }
    for (size_t k = 0; k < path.size(); ++k) {
        const auto& [group, index] = path[k];
        const Level& level = levels_[k];
        if (!same(*group->children[index]->value.layer, *level.path) ||
            !same(layersOf(*group, 0, index), level.below) ||
            !same(layersOf(*group, index + 1, group->children.size()), level.above)) {
            return false;
        }
    }
    return true;
}

bool SplitComposite::build(const Tree& tree, const MTLSize& textureSize,
                           const std::vector<std::shared_ptr<MTLTexture>>& intermediates,
                           const std::shared_ptr<imaging::ScratchPool>& scratch,
                           MTLCommandBuffer& commandBuffer) {
    built_ = false;
    const Path path = pathTo(tree);
    if (path.empty()) {
        levels_.clear();
        return false;
    }
    std::vector<Level> levels(path.size());
    // What the children [from, to) of a group make over transparency, into a
    // kept texture (the one of the last build when it fits).
    const auto keep = [&](const Tree& group, size_t from, size_t to,
                          std::shared_ptr<MTLTexture> texture, const char* label) {
        if (texture == nullptr || size(*texture) != textureSize) {
            texture = MetalHelper::shared()->makeTexture(
                textureSize, MTLTextureUsage::shaderReadWrite, MTLStorageMode::private_,
                MTLPixelFormat::rgba8Unorm, label);
            precondition(texture != nullptr, "No texture for a kept composite");
        }
        std::vector<TileComposite> tiles;
        for (const MTLRegion& tile : split(region_, RenderedCanvas::tileSize)) {
            CompositeStep root;
            for (size_t i = from; i < to; ++i) {
                root.children.push_back(RenderedCanvas::makeStep(*group.children[i], tile));
            }
            tiles.push_back({std::move(root), tile, {}});
        }
        encodeTileComposites(std::move(tiles), intermediates, texture, scratch, commandBuffer);
        return texture;
    };
    for (size_t k = 0; k < path.size(); ++k) {
        const auto& [group, index] = path[k];
        Level& level = levels[k];
        const Level* old = k < levels_.size() ? &levels_[k] : nullptr;
        level.path = group->children[index]->value.layer;
        level.below = layersOf(*group, 0, index);
        level.above = layersOf(*group, index + 1, group->children.size());
        if (!level.below.empty()) {
            level.belowTexture = keep(*group, 0, index, old ? old->belowTexture : nullptr,
                                      "Composite below the changed layer");
        }
        if (!level.above.empty() && flattens(level.above)) {
            level.aboveTexture =
                keep(*group, index + 1, group->children.size(), old ? old->aboveTexture : nullptr,
                     "Composite above the changed layer");
        }
    }
    levels_ = std::move(levels);
    built_ = true;
    return true;
}

CompositeStep SplitComposite::stepAlong(const Path& path, size_t k, const MTLRegion& tile) const {
    const auto& [group, index] = path[k];
    const Level& level = levels_[k];
    CompositeStep step = groupStep(*group->value.layer);
    if (level.belowTexture != nullptr) {
        step.children.push_back(textureStep(level.belowTexture, tile, true));
    }
    const Tree& onPath = *group->children[index];
    step.children.push_back(k + 1 < path.size() ? stepAlong(path, k + 1, tile)
                                                : RenderedCanvas::makeStep(onPath, tile));
    if (level.aboveTexture != nullptr) {
        step.children.push_back(textureStep(level.aboveTexture, tile, false));
    } else {
        for (size_t i = index + 1; i < group->children.size(); ++i) {
            step.children.push_back(RenderedCanvas::makeStep(*group->children[i], tile));
        }
    }
    return step;
}

CompositeStep SplitComposite::step(const Tree& tree, const MTLRegion& tile) const {
    precondition(built_ && contains(region_, tile),
                 "A split composite used where it holds nothing");
    const Path path = pathTo(tree);
    precondition(path.size() == levels_.size(), "A split composite used on another tree");
    return stepAlong(path, 0, tile);
}

} // namespace velmora
