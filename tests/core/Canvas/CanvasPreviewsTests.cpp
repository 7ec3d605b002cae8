#include "Canvas/CanvasPreviews.hpp"
#include "Canvas/PreviewCanvas.hpp"
#include "CanvasTestSupport.hpp"
#include "PixelTestSupport.hpp"
#include "graphics/ImageCodecs.hpp"

#include <algorithm>
#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::testing;

namespace {

std::vector<std::pair<CGFloat, CGFloat>> sizesOf(const CanvasPreviews& previews) {
    std::vector<std::pair<CGFloat, CGFloat>> sizes;
    for (const auto& [key, bitmap] : previews.previews) {
        EXPECT_EQ(key, bitmap->size());
        EXPECT_EQ(bitmap->pixelsWide(), int64_t(key.width));
        EXPECT_EQ(bitmap->pixelsHigh(), int64_t(key.height));
        sizes.emplace_back(key.width, key.height);
    }
    std::sort(sizes.begin(), sizes.end());
    return sizes;
}

std::shared_ptr<NSBitmapImageRep> flat(int64_t w, int64_t h) {
    auto bitmap = NSBitmapImageRep::makeRGBA8(w, h, ColorManagement::workingNSColorSpace());
    for (int64_t y = 0; y < h; ++y) {
        for (int64_t x = 0; x < w; ++x) {
            uint8_t* p = bitmap->row(y) + 4 * x;
            p[0] = y < h / 2 ? 250 : 10; // light top half, dark bottom half
            p[1] = 90;
            p[2] = x < w / 2 ? 20 : 220;
            p[3] = 255;
        }
    }
    return bitmap;
}

} // namespace

TEST(CanvasPreviews, StandardPreviewsNeverEnlargeNorExceedTheirSquares) {
    using Sizes = std::vector<std::pair<CGFloat, CGFloat>>;
    const struct {
        int64_t w, h;
        Sizes sizes;
    } cases[] = {
        {64, 64, {{64, 64}}},
        {65, 10, {{64, 10}, {65, 10}}},
        {200, 100, {{64, 32}, {200, 100}}},
        {50, 50, {{50, 50}}},
        {1024, 768, {{64, 48}, {256, 192}, {1024, 768}}},
        {3, 1000, {{1, 64}, {1, 256}, {3, 1000}}},
        {255, 257, {{64, 64}, {255, 256}, {255, 257}}},
        {4097, 1, {{64, 1}, {256, 1}, {4097, 1}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h));
        const auto bitmap =
            NSBitmapImageRep::makeRGBA8(c.w, c.h, ColorManagement::workingNSColorSpace());
        const auto previews = CanvasPreviews::makeStandardPreviews(bitmap);
        EXPECT_EQ(sizesOf(*previews), c.sizes);
        EXPECT_EQ(previews->previews.at(bitmap->size()), bitmap) << "the bitmap itself";
        EXPECT_EQ(previews->bestPreview(), bitmap);
    }
}

TEST(CanvasPreviews, BestPreviewForASize) {
    const auto full = flat(1024, 768);
    const auto previews = CanvasPreviews::makeStandardPreviews(full);
    const auto at256 = previews->previews.at({256, 192});

    EXPECT_EQ(previews->bestPreview({256, 256}), at256) << "touches the width";

    const auto at100 = previews->bestPreview({100, 100});
    ASSERT_NE(at100, nullptr);
    EXPECT_EQ(at100->size(), (CGSize{100, 75}));
    EXPECT_EQ(previews->previews.size(), 3u) << "not kept";

    const auto at32 = previews->bestPreview({32, 32});
    ASSERT_NE(at32, nullptr);
    EXPECT_EQ(at32->size(), (CGSize{32, 24}));
    EXPECT_EQ(previews->previews.size(), 4u);
    EXPECT_EQ(previews->previews.at({32, 24}), at32);
    EXPECT_EQ(previews->bestPreview({32, 32}), at32) << "found again, not scaled again";

    EXPECT_EQ(previews->bestPreview({5000, 5000}), full);
    // Scaled copies keep the picture upright: the light half stays on top.
    EXPECT_GT(pixelOf(*at32, 16, 2)[0], 200);
    EXPECT_LT(pixelOf(*at32, 16, 21)[0], 60);
    EXPECT_LT(pixelOf(*at32, 2, 12)[2], 60);
    EXPECT_GT(pixelOf(*at32, 29, 12)[2], 180);

    CanvasPreviews empty;
    EXPECT_EQ(empty.bestPreview(), nullptr);
    EXPECT_EQ(empty.bestPreview({64, 64}), nullptr);
}

TEST(CanvasPreviews, CodingKeepsOnePreviewPerSizeAsJpeg) {
    const auto previews = CanvasPreviews::makeStandardPreviews(flat(300, 20));
    const CodedValue tree = encodeTree(*previews);
    const auto& stored = *tree.dictionary()->find("previews")->array();
    ASSERT_EQ(stored.size(), 3u);
    for (const auto& data : stored) {
        EXPECT_EQ(ImageCodecs::readInfo(data.bytes()).fileType, NSBitmapImageFileType::jpeg);
    }
    const auto back = decodeTree<std::shared_ptr<CanvasPreviews>>(tree);
    EXPECT_EQ(sizesOf(*back), sizesOf(*previews));
    const auto best = back->bestPreview();
    ASSERT_NE(best, nullptr);
    // Full quality: colours come back within a few levels, top row first.
    EXPECT_NEAR(pixelOf(*best, 10, 2)[0], 250, 4);
    EXPECT_NEAR(pixelOf(*best, 10, 17)[0], 10, 4);
    EXPECT_NEAR(pixelOf(*best, 290, 17)[2], 220, 4);

    // Two stored pictures of one size leave the later one.
    CodedValue twice = tree;
    auto& list = *twice.dictionary()->find("previews")->array();
    list.push_back(list.front());
    EXPECT_EQ(sizesOf(*decodeTree<std::shared_ptr<CanvasPreviews>>(twice)), sizesOf(*previews));
}

TEST(CanvasPreviews, StoredJpegsAreThoseOfTheImageGraphsRender) {
    CIContextOptions options;
    options.outputPremultiplied = false;
    options.workingColorSpace = ColorManagement::workingColorSpace();
    options.outputColorSpace = ColorManagement::workingColorSpace();
    const CIContext graph(options);
    CIImageRepresentationOptions quality;
    quality.lossyCompressionQuality = 1.0;
    // Every byte value in every channel; then one pixel not quite opaque,
    // which takes the graph's road again.
    auto bitmap = NSBitmapImageRep::makeRGBA8(300, 220, ColorManagement::workingNSColorSpace());
    for (int64_t y = 0; y < 220; ++y) {
        for (int64_t x = 0; x < 300; ++x) {
            uint8_t* p = bitmap->row(y) + 4 * x;
            p[0] = uint8_t(x + y);
            p[1] = uint8_t(x * 7 + y * 3);
            p[2] = uint8_t(255 - y);
            p[3] = 255;
        }
    }
    for (const bool opaque : {true, false}) {
        SCOPED_TRACE(opaque ? "opaque" : "one pixel at 254");
        if (!opaque) {
            bitmap->row(219)[4 * 299 + 3] = 254;
        }
        const auto previews = CanvasPreviews::makeStandardPreviews(bitmap);
        const CodedValue tree = encodeTree(*previews);
        const auto& stored = *tree.dictionary()->find("previews")->array();
        std::size_t i = 0;
        for (const auto& [size, preview] : previews->previews) {
            const auto expected = graph.jpegRepresentation(
                *CIImage::withBitmap(preview), preview->colorSpace()->cgColorSpace(), quality);
            ASSERT_TRUE(expected.has_value());
            const auto bytes = stored.at(i++).bytes();
            EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), expected->begin(), expected->end()))
                << size.width << " x " << size.height;
        }
    }
}

TEST(CanvasPreviews, DamagedPreviewsFailToDecode) {
    const auto tooLarge =
        *NSBitmapImageRep::makeRGBA8(8001, 1, ColorManagement::workingNSColorSpace())
             ->representation(NSBitmapImageFileType::jpeg, {});
    const CodedValue good = encodeTree(*CanvasPreviews::makeStandardPreviews(flat(8, 8)));
    const auto first = (*good.dictionary()->find("previews")->array())[0].bytes();
    std::vector<uint8_t> truncated(first.begin(), first.end());
    truncated.resize(truncated.size() / 3);
    const struct {
        const char* name;
        std::function<void(CodedValue&)> damage;
    } cases[] = {
        {"missing key", [](CodedValue& t) { t.dictionary()->remove("previews"); }},
        {"not a list", [](CodedValue& t) { t.dictionary()->set("previews", CodedValue("x")); }},
        {"not an image",
         [](CodedValue& t) {
             t.dictionary()->find("previews")->array()->push_back(CodedValue::Bytes{1, 2, 3});
         }},
        {"truncated",
         [&](CodedValue& t) { (*t.dictionary()->find("previews")->array())[0] = truncated; }},
        {"larger than a canvas",
         [&](CodedValue& t) { t.dictionary()->find("previews")->array()->push_back(tooLarge); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CodedValue tree = good;
        c.damage(tree);
        EXPECT_THROW(decodeTree<std::shared_ptr<CanvasPreviews>>(tree), DecodingError);
    }
}

TEST(PreviewCanvas, HoldsTheBitmapBottomRowFirst) {
    const auto bitmap = lopsidedBitmap(5, 3);
    const PreviewCanvas canvas(*bitmap);
    EXPECT_EQ(canvas.size(), (MTLSize{5, 3, 1}));
    const auto pixels = texturePixels(canvas.texture());
    for (int64_t y = 0; y < 3; ++y) {
        for (int64_t x = 0; x < 5; ++x) {
            ASSERT_EQ(texturePixel(pixels, 5, x, 2 - y), pixelOf(*bitmap, x, y)) << x << ", " << y;
        }
    }
}
