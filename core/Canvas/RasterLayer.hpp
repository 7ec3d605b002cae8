#pragma once

#include "Canvas/Layer.hpp"
#include "Canvas/RasterLayerPatch.hpp"
#include "graphics/NSBitmapImageRep.hpp"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace velmora {

// The layer that holds pixels: non-overlapping patches at integer canvas
// origins, transparent elsewhere. Patches are not clipped to the canvas.
class RasterLayer : public Layer {
public:
    using Patch = RasterLayerPatch;
    using Patches = std::vector<std::shared_ptr<Patch>>;

    explicit RasterLayer(std::string name) : Layer(std::move(name)) {}
    // One patch "name.root" at the zero origin holding the bitmap, converted
    // into the working colour space.
    RasterLayer(std::string name, const NSBitmapImageRep& bitmap);
    // One patch "name.root" around the texture, which is neither cleared nor
    // copied; its label is set.
    RasterLayer(std::string name, std::shared_ptr<MTLTexture> texture, const MTLOrigin& origin);

    static std::shared_ptr<RasterLayer> make(std::string name) {
        return std::make_shared<RasterLayer>(std::move(name));
    }
    static std::shared_ptr<RasterLayer> make(std::string name, const NSBitmapImageRep& bitmap) {
        return std::make_shared<RasterLayer>(std::move(name), bitmap);
    }
    static std::shared_ptr<RasterLayer> make(std::string name, std::shared_ptr<MTLTexture> texture,
                                             const MTLOrigin& origin) {
        return std::make_shared<RasterLayer>(std::move(name), std::move(texture), origin);
    }

    const Patches& patches() const { return patches_; }
    Patches& patches() { return patches_; }
    // The number in the label of the next new patch.
    int64_t patchCounter() const { return patchCounter_; }

    // The one patch that is to receive the region: one that holds it already,
    // a new one when the region meets none, or one merged from every patch
    // the region reaches (transitively), with the copies encoded into the
    // command buffer (not committed). Nothing for an empty region.
    std::shared_ptr<Patch> patch(const MTLRegion& region,
                                 const std::shared_ptr<MTLCommandBuffer>& commandBuffer);
    // The bitmap's rows as they are, at `origin`, on a command buffer of its
    // own that is committed and not waited for. An empty bitmap does nothing.
    void paste(const NSBitmapImageRep& bitmap, const MTLOrigin& origin);
    // The region of the source (laid out in canvas coordinates, not
    // rgba8Unorm) into the layer at the same place, encoded into the command
    // buffer (not committed). An empty region does nothing.
    void paste(const std::shared_ptr<MTLTexture>& source, const MTLRegion& region,
               const std::shared_ptr<MTLCommandBuffer>& commandBuffer);
    // The same for a source that differs from the layer only in `parts` of the
    // region (rgba32Float, straight): only those are converted, with the same bits.
    void paste(const std::shared_ptr<MTLTexture>& source, const MTLRegion& region,
               const std::vector<MTLRegion>& parts,
               const std::shared_ptr<MTLCommandBuffer>& commandBuffer);

    std::vector<MTLRegion> regions() const override;
    // Every patch that meets the region, whole and composited in list order;
    // the empty image when none does.
    CIImage image(const MTLRegion& region) const override;
    // Origins only: no pixel moves and cached TIFF data stays valid.
    void moveContents(const MTLVector& vector) override;

    void typedEncode(Encoder& encoder) const override;
    // Patches that overlap fail as corrupted data.
    static std::shared_ptr<RasterLayer> decode(Decoder& decoder);

    // Also the patches, pairwise in order, textures compared by identity.
    bool isEqual(const Layer& other) const override;
    std::size_t hash() const override;

private:
    struct Decoding {};
    RasterLayer(Decoding, Decoder& base) : Layer(base) {}

    Patches patches_;
    int64_t patchCounter_ = 1;
};

} // namespace velmora
