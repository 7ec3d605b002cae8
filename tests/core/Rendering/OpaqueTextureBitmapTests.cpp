#include "CompositingTestSupport.hpp"
#include "Rendering/OpaqueTextureBitmap.hpp"
#include "imaging/CIContext.hpp"

#include <cstring>
#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::testing;

namespace {

// The picture the image graph makes of a straight-alpha texture.
std::shared_ptr<NSBitmapImageRep> graphBitmap(const std::shared_ptr<MTLTexture>& texture) {
    CIImageOptions options;
    options.colorSpace = ColorManagement::workingColorSpace();
    const auto image = CIImage::withTexture(texture, options);
    return CIContext().createBitmap(image->premultiplyingAlpha(), image->extent());
}

bool samePixels(const NSBitmapImageRep& a, const NSBitmapImageRep& b) {
    if (a.pixelsWide() != b.pixelsWide() || a.pixelsHigh() != b.pixelsHigh()) {
        return false;
    }
    for (int64_t y = 0; y < a.pixelsHigh(); ++y) {
        if (std::memcmp(a.bitmapData() + y * a.bytesPerRow(), b.bitmapData() + y * b.bytesPerRow(),
                        size_t(a.pixelsWide() * 4)) != 0) {
            return false;
        }
    }
    return true;
}

std::shared_ptr<MTLTexture> textureOf(int64_t w, int64_t h, uint8_t alpha, int64_t odd) {
    auto texture = MetalHelper::shared()->makeTexture({w, h, 1}, MTLTextureUsage::shaderReadWrite,
                                                      MTLStorageMode::shared,
                                                      MTLPixelFormat::rgba8Unorm, "rendered");
    std::vector<uint8_t> bytes(size_t(w * h * 4));
    for (size_t i = 0; i < bytes.size(); ++i) {
        // Every value in each channel, and rows unlike each other.
        bytes[i] = i % 4 == 3 ? 255 : uint8_t((i * 7 + i / size_t(w * 4) * 13) & 0xFF);
    }
    if (odd >= 0) {
        bytes[size_t(odd) * 4 + 3] = alpha;
    }
    texture->replaceRegion({MTLOriginZero, {w, h, 1}}, 0, bytes.data(), w * 4);
    return texture;
}

} // namespace

// Opaque textures give the graph's pixels, top row first; any other alpha
// leaves the picture to the graph.
TEST(OpaqueTextureBitmap, GivesTheGraphsPictureOrNone) {
    const struct {
        const char* name;
        int64_t w, h;
        uint8_t alpha;
        int64_t at; // the pixel given `alpha`, none below 0
        bool made;
    } cases[] = {
        {"opaque", 37, 23, 255, -1, true},
        {"opaque, several bands", 3, 150, 255, -1, true},
        {"one pixel 254 in the last band", 3, 150, 254, 3 * 149 + 1, false},
        {"one clear pixel in the first row", 37, 23, 0, 5, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto texture = textureOf(c.w, c.h, c.alpha, c.at);
        const auto bitmap = opaqueTextureBitmap(*texture);
        ASSERT_EQ(bitmap != nullptr, c.made);
        if (bitmap) {
            EXPECT_TRUE(samePixels(*bitmap, *graphBitmap(texture)));
            EXPECT_EQ(bitmap->colorSpaceName(), graphBitmap(texture)->colorSpaceName());
        }
    }
}

// A rendered canvas over white, half-transparent layers and all, is saved
// with the same pixels either way; where a layer erased the white, the graph
// still makes the picture.
TEST(OpaqueTextureBitmap, RenderedCanvasPictureIsTheGraphs) {
    for (const BlendMode mode : {BlendMode::sourceOver, BlendMode::multiply, BlendMode::eraser}) {
        SCOPED_TRACE(rawValue(mode));
        auto canvas = canvasOf({40, 70, 1}, {solidLayer("lower", 30, 50, {200, 100, 50, 200}),
                                             solidLayer("upper", 9, 66, {30, 160, 240, 77}, mode)});
        RenderedCanvas rendered(canvas);
        const auto bitmap = rendered.asBitmap();
        EXPECT_TRUE(samePixels(*bitmap, *graphBitmap(rendered.texture())));
        EXPECT_EQ(pixelAt(*bitmap, 35, 0), (RGBA8{255, 255, 255, 255}));
    }
}
