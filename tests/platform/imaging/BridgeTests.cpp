#include "ImagingTestSupport.hpp"
#include "gpu/MTLDevice.hpp"
#include "graphics/ColorManagement.hpp"
#include "graphics/ImageCodecs.hpp"
#include "imaging/CIBlendKernel.hpp"

#include <gtest/gtest.h>

namespace velmora {
namespace {

using testing::Pixel8;
using testing::rect;

std::shared_ptr<MTLTexture> makeTexture(int64_t w, int64_t h,
                                        MTLPixelFormat format = MTLPixelFormat::rgba8Unorm) {
    auto d = MTLTextureDescriptor::texture2DDescriptor(format, w, h);
    d.storageMode = MTLStorageMode::shared;
    d.usage = MTLTextureUsage::shaderReadWrite;
    return MTLCreateSystemDefaultDevice()->newTexture(d);
}

// Texture rows as stored: row 0 first (the bottom of the picture).
std::vector<Pixel8> textureRows(const MTLTexture& t) {
    std::vector<Pixel8> px(size_t(t.width() * t.height()));
    t.getBytes(px.data(), t.width() * 4, MTLRegionMake2D(0, 0, t.width(), t.height()), 0);
    return px;
}

void setTextureRows(MTLTexture& t, const std::vector<Pixel8>& px) {
    t.replaceRegion(MTLRegionMake2D(0, 0, t.width(), t.height()), 0, px.data(), t.width() * 4);
}

// Row 0 of the texture: red, green, blue; row 1: three greys.
const std::vector<Pixel8> rows = {{255, 0, 0, 255},  {0, 255, 0, 255},  {0, 0, 255, 255},
                                  {10, 10, 10, 255}, {20, 20, 20, 255}, {30, 30, 30, 255}};

class TextureRender : public ::testing::Test {
protected:
    void SetUp() override { MTLCreateSystemDefaultDevice()->setSynchronousCommandExecution(false); }
    std::shared_ptr<MTLCommandBuffer> buffer() {
        static auto queue = MTLCreateSystemDefaultDevice()->newCommandQueue();
        return queue->commandBuffer();
    }
    CIContext context;
};

TEST_F(TextureRender, TextureRowsAreYUpAndBitmapsTopFirst) {
    auto texture = makeTexture(3, 2);
    setTextureRows(*texture, rows);
    const CIImage image = *CIImage::withTexture(texture);
    EXPECT_EQ(image.extent(), rect(0, 0, 3, 2));
    const NSBitmapImageRepRef bitmap = context.createBitmap(image, image.extent());
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->pixelsWide(), 3);
    EXPECT_FALSE(bitmap->isAlphaPremultiplied());
    // The bitmap's first row is the texture's last.
    EXPECT_EQ(std::memcmp(bitmap->row(0), rows.data() + 3, 12), 0);
    EXPECT_EQ(std::memcmp(bitmap->row(1), rows.data(), 12), 0);

    // And back: a bitmap made into an image renders into a texture row for row.
    const CIImage fromBitmap = *CIImage::withBitmap(bitmap);
    auto out = makeTexture(3, 2);
    auto cb = buffer();
    CIRenderDestination destination(out, cb);
    destination.setAlphaMode(CIRenderDestinationAlphaMode::unpremultiplied);
    context.startTask(fromBitmap, fromBitmap.extent(), destination, CGPoint{0, 0});
    cb->commit();
    cb->waitUntilCompleted();
    EXPECT_EQ(cb->status(), MTLCommandBufferStatus::completed);
    EXPECT_EQ(textureRows(*out), rows);
}

TEST_F(TextureRender, SourcesAreReadWhenTheBufferRuns) {
    auto source = makeTexture(3, 2);
    setTextureRows(*source, rows);
    auto out = makeTexture(2, 2);
    setTextureRows(*out, std::vector<Pixel8>(4, Pixel8{7, 7, 7, 7}));
    auto cb = buffer();
    CIRenderDestination destination(out, cb);
    destination.setAlphaMode(CIRenderDestinationAlphaMode::unpremultiplied);
    // Source region (1, 1, 2, 1) to the destination's (0, 1).
    const CIImage image = CIImage::withTexture(source)->premultiplyingAlpha();
    context.startTask(image, rect(1, 1, 2, 1), destination, CGPoint{0, 1});
    // Written after encoding, before the buffer runs: the render sees it.
    std::vector<Pixel8> changed = rows;
    changed[4] = {99, 98, 97, 255};
    setTextureRows(*source, changed);
    EXPECT_EQ(textureRows(*out)[2], (Pixel8{7, 7, 7, 7}));
    cb->commit();
    auto second = buffer();
    CIRenderDestination again(out, second);
    again.setAlphaMode(CIRenderDestinationAlphaMode::unpremultiplied);
    const CIRenderTask task = context.startTask(image, rect(0, 0, 1, 1), again, CGPoint{0, 0});
    second->commit();
    task.waitUntilCompleted();
    EXPECT_EQ(textureRows(*out),
              (std::vector<Pixel8>{
                  {255, 0, 0, 255}, {7, 7, 7, 7}, {99, 98, 97, 255}, {30, 30, 30, 255}}));
}

TEST_F(TextureRender, BlendOfTwoLayersIntoAFloatTexture) {
    auto bottom = makeTexture(1, 1), top = makeTexture(1, 1);
    setTextureRows(*bottom, {{0, 0, 255, 255}});
    setTextureRows(*top, {{255, 0, 0, 51}});
    auto out = makeTexture(1, 1, MTLPixelFormat::rgba32Float);
    auto cb = buffer();
    CIRenderDestination destination(out, cb);
    destination.setAlphaMode(CIRenderDestinationAlphaMode::unpremultiplied);
    const CIImage blended =
        *CIBlendKernel::sourceOver()->apply(CIImage::withTexture(top)->premultiplyingAlpha(),
                                            CIImage::withTexture(bottom)->premultiplyingAlpha());
    context.startTask(blended, rect(0, 0, 1, 1), destination, CGPoint{0, 0});
    cb->commit();
    cb->waitUntilCompleted();
    float px[4];
    out->getBytes(px, 16, MTLRegionMake2D(0, 0, 1, 1), 0);
    EXPECT_FLOAT_EQ(px[0], 0.2f);
    EXPECT_FLOAT_EQ(px[2], 0.8f);
    EXPECT_FLOAT_EQ(px[3], 1.0f);
}

TEST_F(TextureRender, UnsupportedFormatsAreRefused) {
    auto r8 = makeTexture(2, 2, MTLPixelFormat::r8Unorm);
    ASSERT_NE(r8, nullptr);
    EXPECT_FALSE(CIImage::withTexture(r8).has_value());
    EXPECT_FALSE(CIImage::withTexture(nullptr).has_value());
    CIRenderDestination destination(r8, buffer());
    EXPECT_THROW(
        context.startTask(CIImage(CIColor::white()), rect(0, 0, 2, 2), destination, CGPoint{0, 0}),
        CIContextError);
}

TEST(BitmapBridge, OtherSpacesAreConvertedIntoTheWorkingSpace) {
    auto p3 = NSBitmapImageRep::makeRGBA8(2, 1, NSColorSpace::displayP3ColorSpace());
    const uint8_t px[8] = {255, 0, 0, 255, 30, 160, 90, 128};
    std::memcpy(p3->bitmapData(), px, 8);
    const CIImage image = *CIImage::withBitmap(p3);
    const NSBitmapImageRepRef rendered = CIContext().createBitmap(image, image.extent());
    const NSBitmapImageRepRef expected = p3->converting(ColorManagement::workingNSColorSpace());
    ASSERT_NE(expected, nullptr);
    EXPECT_NE(std::memcmp(expected->bitmapData(), px, 8), 0);
    for (int i = 0; i < 8; ++i) {
        EXPECT_NEAR(rendered->bitmapData()[i], expected->bitmapData()[i], 1) << i;
    }
}

} // namespace
} // namespace velmora

namespace velmora {
namespace {

TEST_F(TextureRender, TiffOfATextureKeepsPixelsRowOrderAndProfile) {
    auto texture = makeTexture(3, 2);
    std::vector<Pixel8> px = rows;
    px[1] = {0, 255, 0, 128}; // straight alpha survives the premultiplied graph
    setTextureRows(*texture, px);
    const CIImage image = CIImage::withTexture(texture)->premultiplyingAlpha();
    const auto tiff =
        context.tiffRepresentation(image, CIFormat::RGBA8, ColorManagement::workingColorSpace());
    ASSERT_TRUE(tiff.has_value());
    EXPECT_EQ(ImageCodecs::fileTypeOf(*tiff), NSBitmapImageFileType::tiff);
    const NSBitmapImageRepRef decoded = ImageCodecs::decode(*tiff);
    ASSERT_EQ(decoded->pixelsWide(), 3);
    ASSERT_EQ(decoded->pixelsHigh(), 2);
    // File rows are top first: the texture's row 1 comes first.
    EXPECT_EQ(std::memcmp(decoded->row(0), px.data() + 3, 12), 0);
    EXPECT_EQ(std::memcmp(decoded->row(1), px.data(), 12), 0);
    EXPECT_FALSE(context.tiffRepresentation(image, CIFormat::RGBAf, nullptr).has_value());
    EXPECT_FALSE(context.tiffRepresentation(CIImage(), CIFormat::RGBA8, nullptr).has_value());
    EXPECT_FALSE(context.tiffRepresentation(CIImage(CIColor::white()), CIFormat::RGBA8, nullptr)
                     .has_value());
}

TEST(Representations, JpegOfAnImageDecodesToItsSize) {
    const CIImage image = CIImage(CIColor{0.2, 0.6, 0.9, 1}).cropped(rect(0, 0, 16, 8));
    const CIContext context;
    const auto jpeg = context.jpegRepresentation(image, ColorManagement::workingColorSpace(),
                                                 {.lossyCompressionQuality = 1.0});
    ASSERT_TRUE(jpeg.has_value());
    const NSBitmapImageRepRef decoded = ImageCodecs::decode(*jpeg);
    EXPECT_EQ(decoded->pixelsWide(), 16);
    EXPECT_EQ(decoded->pixelsHigh(), 8);
    EXPECT_NEAR(decoded->row(3)[4 * 5 + 1], 153, 2);
}

} // namespace
} // namespace velmora

namespace velmora {
namespace {

TEST_F(TextureRender, OverhangingRegionsAreClippedAndEmptyImagesClear) {
    auto out = makeTexture(3, 2);
    setTextureRows(*out, std::vector<Pixel8>(6, Pixel8{5, 5, 5, 5}));
    auto cb = buffer();
    CIRenderDestination destination(out, cb);
    // The empty image over a region hanging off the left and bottom edges.
    context.startTask(CIImage::empty(), rect(0, 0, 3, 2), destination, CGPoint{-1, -1});
    // Dropping the context's scratch memory while the render waits changes nothing.
    context.clearCaches();
    cb->commit();
    cb->waitUntilCompleted();
    const Pixel8 keep{5, 5, 5, 5}, clear{0, 0, 0, 0};
    EXPECT_EQ(textureRows(*out), (std::vector<Pixel8>{clear, clear, keep, keep, keep, keep}));
}

TEST_F(TextureRender, RenderKeepsItsSourcesInUseUntilTheBufferRuns) {
    auto out = makeTexture(1, 1);
    auto cb = buffer();
    {
        auto source = makeTexture(1, 1);
        setTextureRows(*source, {{10, 20, 30, 255}});
        CIRenderDestination destination(out, cb);
        context.startTask(*CIImage::withTexture(source), rect(0, 0, 1, 1), destination,
                          CGPoint{0, 0});
    } // the caller's last references are gone before the buffer runs
    cb->commit();
    cb->waitUntilCompleted();
    EXPECT_EQ(textureRows(*out)[0], (Pixel8{10, 20, 30, 255}));
}

} // namespace
} // namespace velmora
