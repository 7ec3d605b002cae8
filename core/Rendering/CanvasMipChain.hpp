#pragma once

#include "gpu/MTLCommandBuffer.hpp"
#include "gpu/MTLDevice.hpp"
#include "gpu/MTLTexture.hpp"

#include <memory>
#include <mutex>
#include <vector>

namespace velmora {

// Box-filtered halvings of a canvas texture, made on the GPU timeline, so a strongly
// reduced canvas is sampled from a level close to its displayed size (reading the
// texture once, in order) instead of averaging scattered footprints of many texels
// for every pixel. A level is remade only when the texture's pixels changed since.
class CanvasMipChain {
public:
    explicit CanvasMipChain(std::shared_ptr<MTLDevice> device) : device_(std::move(device)) {}

    // The number of halvings that bring `texelsPerPixel` (texels one framebuffer pixel
    // spans) closest to one: none below the square root of 2.
    static int levelFor(double texelsPerPixel);

    // Encodes the making of level `level` (1 or more) of `source` and returns it;
    // none when the format has no fast reduction (8-bit RGBA and BGRA only) or the
    // texture is too small to halve that often.
    std::shared_ptr<MTLTexture> encodeLevel(const std::shared_ptr<MTLTexture>& source, int level,
                                            MTLCommandBuffer& commandBuffer);

    // Texels [x0, x1) x [y0, y1) of a level.
    struct Rect {
        int64_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    };

    // The halving itself: each texel the rounded mean of the 2 x 2 block above it,
    // an odd last row or column counted twice; all of `to`, or only `r` of it.
    static void halve(const MTLTextureContents& from, const MTLTextureContents& to);
    static void halve(const MTLTextureContents& from, const MTLTextureContents& to, const Rect& r);
    // Two halvings at once: each texel the rounded mean of the 4 x 4 block above it,
    // edge rows and columns repeated to fill a block.
    static void quarter(const MTLTextureContents& from, const MTLTextureContents& to);
    static void quarter(const MTLTextureContents& from, const MTLTextureContents& to,
                        const Rect& r);

private:
    // What a level was made from, read and written only by the commands that make levels.
    struct Made {
        std::weak_ptr<MTLTexture> source, level;
        uint64_t sourceGeneration = 0, levelGeneration = 0;
    };
    struct Record {
        std::mutex mutex;
        std::vector<Made> levels; // levels[n - 1] is level n
    };

    std::shared_ptr<MTLDevice> device_;
    std::shared_ptr<Record> made_ = std::make_shared<Record>();
    std::vector<std::shared_ptr<MTLTexture>> levels_; // levels_[0] is level 1
};

} // namespace velmora
