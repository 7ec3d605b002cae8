#include "Canvas/RasterLayer.hpp"
#include "MetalExtensions/MTLCommandBufferExtensions.hpp"
#include "Rendering/MetalHelper.hpp"
#include "gpu/MPSImageConversion.hpp"
#include "gpu/cpu/PixelIO.hpp"
#include "gpu/cpu/Workers.hpp"
#include "graphics/ColorManagement.hpp"

#include <algorithm>

namespace velmora {

namespace {

bool holds(const RasterLayer::Patches& patches, const RasterLayerPatch& patch) {
    return std::any_of(patches.begin(), patches.end(), [&](const auto& p) { return *p == patch; });
}

MTLRegion wholeTexture(const MTLTexture& texture) {
    return {MTLOriginZero, {texture.width(), texture.height(), 1}};
}

} // namespace

RasterLayer::RasterLayer(std::string name, const NSBitmapImageRep& bitmap)
    : Layer(std::move(name)) {
    if (isEmpty(bitmap.pixelSize())) {
        return;
    }
    auto root = Patch::make(MTLOriginZero, bitmap.pixelsWide(), bitmap.pixelsHigh(),
                            this->name() + ".root");
    MetalHelper& helper = *MetalHelper::shared();
    const auto commandBuffer = helper.commandQueue()->commandBuffer();
    helper.paste(bitmap, root->texture(), ColorManagement::workingColorSpace(), commandBuffer);
    commandBuffer->commit();
    patches_.push_back(std::move(root));
}

RasterLayer::RasterLayer(std::string name, std::shared_ptr<MTLTexture> texture,
                         const MTLOrigin& origin)
    : Layer(std::move(name)) {
    precondition(texture != nullptr, "A raster layer needs a texture");
    texture->setLabel(this->name() + ".root");
    patches_.push_back(std::make_shared<Patch>(origin, std::move(texture)));
}

std::shared_ptr<RasterLayer::Patch>
RasterLayer::patch(const MTLRegion& region,
                   const std::shared_ptr<MTLCommandBuffer>& commandBuffer) {
    if (isEmpty(region)) {
        return nullptr;
    }
    // Gather every patch the growing bounds reach, rescanning after each find.
    MTLRegion grown = region;
    Patches gathered;
    for (bool found = true; found;) {
        found = false;
        for (const auto& candidate : patches_) {
            if (intersects(candidate->region(), grown) && !holds(gathered, *candidate)) {
                grown = unionWith(grown, candidate->region());
                gathered.push_back(candidate);
                found = true;
                break;
            }
        }
    }
    for (const auto& a : gathered) {
        for (const auto& b : gathered) {
            if (!(*a == *b) && intersects(a->region(), b->region())) {
                fatalError("Internal inconcistency: there are overlapping patches before merge");
            }
        }
    }
    for (const auto& candidate : gathered) {
        if (contains(candidate->region(), region)) {
            return candidate;
        }
    }
    if (gathered.empty()) {
        auto made = Patch::make(region.origin, region.size.width, region.size.height,
                                name() + "." + std::to_string(patchCounter_));
        patches_.push_back(made);
        ++patchCounter_;
        return made;
    }
    auto merged = Patch::merge(gathered, region, commandBuffer);
    for (const auto& old : gathered) {
        const auto it = std::find_if(patches_.begin(), patches_.end(),
                                     [&](const auto& p) { return *p == *old; });
        precondition(it != patches_.end(), "A gathered patch left the layer");
        patches_.erase(it);
    }
    patches_.push_back(merged);
    return merged;
}

void RasterLayer::paste(const NSBitmapImageRep& bitmap, const MTLOrigin& origin) {
    const MTLSize size = bitmap.pixelSize();
    if (isEmpty(size)) {
        return;
    }
    MetalHelper& helper = *MetalHelper::shared();
    const auto commandBuffer = helper.commandQueue()->commandBuffer();
    const auto target = patch({origin, size}, commandBuffer);
    const MTLOrigin offset = makeMTLOrigin(origin - target->origin);
    target->cachedTiffData.clear();
    // The shared upload texture is rewritten only once earlier copies out of it have run.
    const auto upload = helper.transferTexture("paste bitmap", size, MTLPixelFormat::rgba8Unorm);
    helper.replaceContents(upload, bitmap);
    blit(*commandBuffer, std::nullopt, [&](MTLBlitCommandEncoder& encoder) {
        helper.encodePaste(upload, wholeTexture(*upload), target->texture(), offset, encoder);
    });
    commandBuffer->commit();
}

void RasterLayer::paste(const std::shared_ptr<MTLTexture>& source, const MTLRegion& region,
                        const std::shared_ptr<MTLCommandBuffer>& commandBuffer) {
    if (isEmpty(region)) {
        return;
    }
    const auto target = patch(region, commandBuffer);
    precondition(source->pixelFormat() != target->texture()->pixelFormat(),
                 "Calling useless conversion while both texture have same pixel format");
    // Converted straight into the patch: no texture of the region's size made and
    // copied for every stroke.
    MPSImageConversion conversion(MetalHelper::shared()->device(), MPSAlphaType::nonPremultiplied,
                                  MPSAlphaType::nonPremultiplied, std::nullopt, std::nullopt);
    conversion.setOffset({target->origin.x, target->origin.y, 0});
    conversion.setClipRect({makeMTLOrigin(region.origin - target->origin), region.size});
    conversion.setLabel("Convert pixel format");
    target->cachedTiffData.clear();
    conversion.encode(*commandBuffer, source, target->texture());
}

void RasterLayer::paste(const std::shared_ptr<MTLTexture>& source, const MTLRegion& region,
                        const std::vector<MTLRegion>& parts,
                        const std::shared_ptr<MTLCommandBuffer>& commandBuffer) {
    if (isEmpty(region)) {
        return;
    }
    const auto target = patch(region, commandBuffer);
    const auto texture = target->texture();
    precondition(source->pixelFormat() == MTLPixelFormat::rgba32Float &&
                     texture->pixelFormat() == MTLPixelFormat::rgba8Unorm,
                 "Parts are pasted from floats into 8-bit patches");
    std::vector<MTLRegion> inside;
    MTLRegion written{};
    for (const MTLRegion& part : parts) {
        if (const auto cut = intersection(part, region)) {
            inside.push_back({makeMTLOrigin(cut->origin - target->origin), cut->size});
            written = unionWith(written, inside.back());
        }
    }
    target->cachedTiffData.clear();
    if (inside.empty()) {
        return;
    }
    // The conversion's own rounding, part by part in parallel.
    commandBuffer->encodeHostCommand(
        "Convert pixel format in parts",
        [source, texture, inside = std::move(inside), written, at = target->origin] {
            const auto from = source->contentsForReading();
            const auto to = texture->contents(written);
            const auto layout = *cpu::pixelLayout(MTLPixelFormat::rgba8Unorm);
            cpu::parallelRows(
                0, int64_t(inside.size()),
                [&](int64_t first, int64_t end) {
                    for (int64_t i = first; i < end; ++i) {
                        const MTLRegion& part = inside[size_t(i)];
                        for (int64_t y = 0; y < part.size.height; ++y) {
                            const int64_t row = part.origin.y + y;
                            const auto* in = reinterpret_cast<const float*>(
                                from.row(row + at.y) + (part.origin.x + at.x) * 16);
                            cpu::storeRow(layout, in, to.row(row) + part.origin.x * 4,
                                          part.size.width);
                        }
                    }
                },
                1);
        },
        {source, texture});
}

} // namespace velmora
