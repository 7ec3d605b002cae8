#include "CanvasTestSupport.hpp"
#include "MetalExtensions/MTLGeometryCoding.hpp"
#include "Rendering/MetalHelper.hpp"
#include "coding/JSONDecoder.hpp"
#include "coding/JSONEncoder.hpp"
#include "graphics/ColorManagement.hpp"
#include "graphics/ImageCodecs.hpp"
#include "imaging/CIContext.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::testing;

namespace {

using Pixel = std::array<uint8_t, 4>;

MetalHelper& helper() {
    return *MetalHelper::shared();
}

// Every pixel of a texture, row 0 first, once all committed work has run.
std::vector<uint8_t> pixelsOf(const std::shared_ptr<MTLTexture>& texture) {
    const auto readable = helper().makeTexture(
        {texture->width(), texture->height(), 1}, MTLTextureUsage::shaderReadWrite,
        MTLStorageMode::managed, MTLPixelFormat::rgba8Unorm, std::nullopt);
    helper().execute([&](MetalHelper& h, const std::shared_ptr<MTLCommandBuffer>& cb) {
        h.paste(texture, std::nullopt, MTLOriginZero, readable, cb);
    });
    std::vector<uint8_t> bytes(static_cast<size_t>(texture->width() * texture->height() * 4));
    readable->getBytes(bytes.data(), texture->width() * 4,
                       MTLRegionMake2D(0, 0, texture->width(), texture->height()), 0);
    return bytes;
}

Pixel at(const std::vector<uint8_t>& bytes, int64_t width, int64_t x, int64_t row) {
    const auto* p = &bytes[static_cast<size_t>((row * width + x) * 4)];
    return {p[0], p[1], p[2], p[3]};
}

// Rows top first, each pixel different, so a flip or a transposition shows.
std::shared_ptr<NSBitmapImageRep> asymmetricBitmap(int64_t w, int64_t h, uint8_t alpha = 255) {
    auto bitmap = NSBitmapImageRep::makeRGBA8(w, h, ColorManagement::workingNSColorSpace());
    for (int64_t y = 0; y < h; ++y) {
        for (int64_t x = 0; x < w; ++x) {
            uint8_t* p = bitmap->row(y) + 4 * x;
            p[0] = static_cast<uint8_t>(10 * x + 1);
            p[1] = static_cast<uint8_t>(40 * y + 2);
            p[2] = static_cast<uint8_t>(x * y + 3);
            p[3] = alpha;
        }
    }
    return bitmap;
}

Pixel bitmapPixel(const NSBitmapImageRep& bitmap, int64_t x, int64_t y) {
    const uint8_t* p = bitmap.row(y) + 4 * x;
    return {p[0], p[1], p[2], p[3]};
}

std::shared_ptr<MTLCommandBuffer> newCommandBuffer() {
    return helper().commandQueue()->commandBuffer();
}

std::vector<std::string> labels(const RasterLayer& layer) {
    std::vector<std::string> result;
    for (const auto& patch : layer.patches()) {
        result.push_back(patch->name().value_or("nil") + " " + description(patch->region()));
    }
    return result;
}

} // namespace

TEST(RasterLayer, PatchesAreMadeFoundAndMergedTransitively) {
    const auto layer = raster("L");
    const auto cb = newCommandBuffer();
    EXPECT_EQ(layer->patch(makeMTLRegion(0, 0, 0, 5), cb), nullptr) << "an empty region";
    EXPECT_TRUE(layer->patches().empty());

    const auto first = layer->patch(makeMTLRegion(0, 0, 10, 10), cb);
    EXPECT_EQ(layer->patch(makeMTLRegion(20, 0, 5, 5), cb)->name(), "L.2");
    EXPECT_EQ(layer->patchCounter(), 3);
    first->cachedTiffData = SharedBytes({1, 2, 3});
    EXPECT_EQ(layer->patch(makeMTLRegion(2, 2, 8, 8), cb), first) << "wholly inside";
    EXPECT_EQ(layer->patch(makeMTLRegion(10, 0, 4, 4), cb)->name(), "L.3") << "sharing an edge";
    EXPECT_EQ(labels(*layer),
              (std::vector<std::string>{"L.1 {(0, 0), 10 x 10}", "L.2 {(20, 0), 5 x 5}",
                                        "L.3 {(10, 0), 4 x 4}"}));
    EXPECT_EQ(cb->debugTrace().size(), 0u) << "nothing merged yet";

    // Meets L.2 only; the grown bounds do not reach another patch.
    const auto merged = layer->patch(makeMTLRegion(22, 3, 6, 6), cb);
    EXPECT_EQ(layer->patchCounter(), 4);
    EXPECT_EQ(labels(*layer),
              (std::vector<std::string>{"L.1 {(0, 0), 10 x 10}", "L.3 {(10, 0), 4 x 4}",
                                        "Merge of 1 patches {(20, 0), 8 x 9}"}));
    EXPECT_EQ(merged, layer->patches().back());
    cb->commit();
}

TEST(RasterLayer, GatheringGrowsTransitively) {
    const auto layer = raster("T");
    const auto cb = newCommandBuffer();
    layer->patch(makeMTLRegion(10, 0, 4, 20), cb);
    layer->patch(makeMTLRegion(20, 0, 8, 9), cb);
    layer->patch(makeMTLRegion(0, 30, 2, 2), cb);
    // Meets T.1 only; T.1 grown by it reaches T.2.
    const auto merged = layer->patch(makeMTLRegion(12, 15, 10, 2), cb);
    EXPECT_EQ(labels(*layer), (std::vector<std::string>{"T.3 {(0, 30), 2 x 2}",
                                                        "Merge of 2 patches {(10, 0), 18 x 20}"}));
    EXPECT_EQ(merged, layer->patches().back());
    EXPECT_EQ(layer->patchCounter(), 4);
    // One blit pass for each merged patch, in the order they were found.
    const auto trace = cb->debugTrace();
    EXPECT_EQ(std::count_if(trace.begin(), trace.end(),
                            [](const MTLCommandTraceEntry& e) {
                                return e.kind == MTLCommandTraceEntry::Kind::blitEncoder;
                            }),
              2);
    cb->commit();
}

TEST(RasterLayer, PastedBitmapsLandRowsAsTheyAreAndMergesKeepOldPixels) {
    const auto layer = raster("L");
    const auto first = asymmetricBitmap(4, 3);
    layer->paste(*first, {2, 1, 0});
    ASSERT_EQ(layer->patches().size(), 1u);
    EXPECT_EQ(layer->patches()[0]->region(), makeMTLRegion(2, 1, 4, 3));

    // Sticks out to the right: one merged patch holding both.
    const auto second = asymmetricBitmap(2, 2, 128);
    layer->paste(*second, {5, 0, 0});
    ASSERT_EQ(labels(*layer), (std::vector<std::string>{"Merge of 1 patches {(2, 0), 5 x 4}"}));
    const auto bytes = pixelsOf(layer->patches()[0]->texture());
    // The first bitmap's rows, one row up, the second's over its corner.
    EXPECT_EQ(at(bytes, 5, 0, 1), bitmapPixel(*first, 0, 0));
    EXPECT_EQ(at(bytes, 5, 2, 3), bitmapPixel(*first, 2, 2));
    EXPECT_EQ(at(bytes, 5, 3, 1), bitmapPixel(*second, 0, 1));
    EXPECT_EQ(at(bytes, 5, 4, 0), bitmapPixel(*second, 1, 0));
    EXPECT_EQ(at(bytes, 5, 0, 0), (Pixel{0, 0, 0, 0})) << "cleared where nothing was";

    // A paste inside writes into the patch and drops its cached TIFF.
    layer->patches()[0]->cachedTiffData = SharedBytes({7});
    layer->paste(*asymmetricBitmap(1, 1), {2, 0, 0});
    EXPECT_EQ(layer->patches().size(), 1u);
    EXPECT_TRUE(layer->patches()[0]->cachedTiffData.empty());
    EXPECT_EQ(at(pixelsOf(layer->patches()[0]->texture()), 5, 0, 0), (Pixel{1, 2, 3, 255}));
}

TEST(RasterLayer, ZeroSizedRegionsDoNothing) {
    const auto layer = raster("L");
    const auto source =
        helper().makeTexture({4, 4, 1}, MTLTextureUsage::shaderReadWrite, MTLStorageMode::private_,
                             MTLPixelFormat::rgba32Float, std::nullopt);
    const auto cb = newCommandBuffer();
    layer->paste(source, makeMTLRegion(1, 1, 3, 0), cb);
    EXPECT_TRUE(cb->debugTrace().empty());
    cb->commit();
    EXPECT_TRUE(layer->patches().empty());
    EXPECT_EQ(layer->patchCounter(), 1);
}

TEST(RasterLayer, PastedTextureRegionIsConvertedInPlace) {
    const auto source =
        helper().makeTexture({8, 8, 1}, MTLTextureUsage::shaderReadWrite, MTLStorageMode::managed,
                             MTLPixelFormat::rgba32Float, std::nullopt);
    std::vector<float> values(8 * 8 * 4);
    for (int64_t y = 0; y < 8; ++y) {
        for (int64_t x = 0; x < 8; ++x) {
            float* p = &values[static_cast<size_t>((y * 8 + x) * 4)];
            p[0] = float(x) / 10;
            p[1] = float(y) / 10;
            p[2] = 1;
            p[3] = 1;
        }
    }
    source->replaceRegion(MTLRegionMake2D(0, 0, 8, 8), 0, values.data(), 8 * 16);

    const auto layer = raster("L");
    layer->paste(*asymmetricBitmap(2, 2), {1, 1, 0});
    layer->patches()[0]->cachedTiffData = SharedBytes({7});
    const auto cb = newCommandBuffer();
    layer->paste(source, makeMTLRegion(2, 2, 3, 2), cb);
    cb->commit();
    ASSERT_EQ(labels(*layer), (std::vector<std::string>{"Merge of 1 patches {(1, 1), 4 x 3}"}));
    EXPECT_TRUE(layer->patches()[0]->cachedTiffData.empty());
    const auto bytes = pixelsOf(layer->patches()[0]->texture());
    // Canvas (4, 3) is the source's (4, 3), at (3, 2) in the patch.
    EXPECT_EQ(at(bytes, 4, 3, 2), (Pixel{102, 77, 255, 255}));
    EXPECT_EQ(at(bytes, 4, 0, 0), bitmapPixel(*asymmetricBitmap(2, 2), 0, 0));
}

// Pasting only the parts where the source differs from the layer gives the
// same bits as converting the whole region; parts are cut to the region, and
// outside them the layer keeps its pixels whatever the source holds there.
TEST(RasterLayer, PastingPartsMatchesPastingTheWholeRegion) {
    constexpr int64_t w = 20, h = 14;
    const auto bitmap = asymmetricBitmap(w, h, 200);
    std::vector<float> values(size_t(w * h * 4));
    for (int64_t y = 0; y < h; ++y) {
        for (int64_t x = 0; x < w; ++x) {
            for (int c = 0; c < 4; ++c) {
                // Texture row y is bitmap row y, as pastes of bitmaps land them.
                values[size_t((y * w + x) * 4 + c)] = float(bitmap->row(y)[4 * x + c]) / 255.0f;
            }
        }
    }
    const MTLRegion region = makeMTLRegion(3, 2, 15, 11);
    const std::vector<MTLRegion> parts{makeMTLRegion(3, 2, 6, 4), makeMTLRegion(10, 6, 12, 3)};
    // Within the parts: colours between 8-bit steps, some of them out of range.
    for (const MTLRegion& part : parts) {
        for (int64_t y = part.origin.y; y < part.origin.y + part.size.height; ++y) {
            for (int64_t x = part.origin.x; x < std::min(w, part.origin.x + part.size.width); ++x) {
                float* p = &values[size_t((y * w + x) * 4)];
                p[0] = 0.3137f + float(x) * 0.0123f, p[1] = -0.2f + float(y) * 0.1f;
                p[2] = 1.4f, p[3] = 0.5f + float(x + y) / 97.0f;
            }
        }
    }
    const auto source =
        helper().makeTexture({w, h, 1}, MTLTextureUsage::shaderReadWrite, MTLStorageMode::managed,
                             MTLPixelFormat::rgba32Float, std::nullopt);
    source->replaceRegion(MTLRegionMake2D(0, 0, w, h), 0, values.data(), w * 16);
    const auto pasted = [&](bool inParts, bool elsewhereOther) {
        const auto layer = raster("L");
        layer->paste(*bitmap, {0, 0, 0});
        if (elsewhereOther) {
            // What the source holds outside the parts must not matter.
            std::vector<float> zero(size_t(4 * 4), 0.0f);
            source->replaceRegion(MTLRegionMake2D(15, 10, 2, 2), 0, zero.data(), 2 * 16);
        }
        const auto cb = newCommandBuffer();
        if (inParts) {
            layer->paste(source, region, parts, cb);
        } else {
            layer->paste(source, region, cb);
        }
        cb->commit();
        EXPECT_EQ(layer->patches().size(), 1u);
        return pixelsOf(layer->patches()[0]->texture());
    };
    const auto whole = pasted(false, false);
    EXPECT_EQ(pasted(true, false), whole);
    const auto unpasted = raster("B");
    unpasted->paste(*bitmap, {0, 0, 0});
    const auto layerBytes = pixelsOf(unpasted->patches()[0]->texture());
    EXPECT_NE(whole, layerBytes);
    const auto parted = pasted(true, true);
    EXPECT_EQ(parted, whole);
    EXPECT_EQ(at(parted, w, 15, 10), at(layerBytes, w, 15, 10));
}

TEST(RasterLayer, LayerFromABitmapHoldsItUprightInOneRootPatch) {
    const auto bitmap = asymmetricBitmap(6, 4);
    const auto layer = RasterLayer::make("Image", *bitmap);
    ASSERT_EQ(labels(*layer), (std::vector<std::string>{"Image.root {(0, 0), 6 x 4}"}));
    EXPECT_EQ(layer->patchCounter(), 1);
    EXPECT_EQ(layer->patches()[0]->description(), "Image.root @ {(0, 0), 6 x 4}");
    const auto bytes = pixelsOf(layer->patches()[0]->texture());
    EXPECT_EQ(at(bytes, 6, 0, 3), bitmapPixel(*bitmap, 0, 0)) << "top row on top";
    EXPECT_EQ(at(bytes, 6, 5, 0), bitmapPixel(*bitmap, 5, 3));
    const auto cb = newCommandBuffer();
    EXPECT_EQ(layer->patch(makeMTLRegion(10, 10, 2, 2), cb)->name(), "Image.1");
    cb->commit();

    const auto canvas = LayeredCanvas::make(*bitmap, "Image");
    EXPECT_EQ(canvas->size(), (MTLSize{6, 4, 1}));
    EXPECT_EQ(canvas->activeLayer()->name(), "Image");
}

TEST(RasterLayer, LayerAroundATextureNeitherClearsNorCopiesIt) {
    const auto texture =
        helper().makeTexture({3, 3, 1}, MTLTextureUsage::shaderReadWrite, MTLStorageMode::managed,
                             MTLPixelFormat::rgba8Unorm, std::nullopt);
    std::vector<uint8_t> fill(3 * 3 * 4, 200);
    texture->replaceRegion(MTLRegionMake2D(0, 0, 3, 3), 0, fill.data(), 12);
    const auto layer = RasterLayer::make("Internal Stroke Layer", texture, MTLOriginZero);
    ASSERT_EQ(layer->patches().size(), 1u);
    EXPECT_EQ(layer->patches()[0]->texture(), texture);
    EXPECT_EQ(texture->label(), "Internal Stroke Layer.root");
    EXPECT_EQ(pixelsOf(texture), fill);
}

TEST(RasterLayer, ImageHoldsTheWholePatchesMeetingTheRegion) {
    const auto layer = raster("L");
    layer->paste(*asymmetricBitmap(4, 4, 128), {10, 10, 0});
    layer->paste(*asymmetricBitmap(2, 2), {30, 0, 0});
    EXPECT_TRUE(layer->image(makeMTLRegion(0, 0, 5, 5)).isEmpty());
    EXPECT_TRUE(layer->image(makeMTLRegion(14, 10, 5, 5)).isEmpty()) << "an edge is no overlap";
    const CIImage corner = layer->image(makeMTLRegion(13, 13, 20, 20));
    EXPECT_EQ(corner.extent(), (CGRect{{10, 10}, {4, 4}}));
    EXPECT_EQ(layer->image(makeMTLRegion(0, 0, 40, 40)).extent(), (CGRect{{10, 0}, {22, 14}}));

    // Premultiplied, at its canvas place: pasted rows go up from the origin.
    helper().execute([](MetalHelper&, const std::shared_ptr<MTLCommandBuffer>&) {});
    const auto pixels = CIContext().renderBitmap(corner, {{10, 10}, {1, 1}}, CIFormat::RGBA8);
    EXPECT_EQ((Pixel{pixels[0], pixels[1], pixels[2], pixels[3]}), (Pixel{1, 1, 2, 128}));
}

TEST(RasterLayer, MovingContentsShiftsOriginsOnly) {
    const auto layer = raster("L");
    layer->paste(*asymmetricBitmap(2, 2), {1, 1, 0});
    layer->paste(*asymmetricBitmap(2, 2), {5, 5, 0});
    layer->patches()[1]->cachedTiffData = SharedBytes({9});
    const auto before = pixelsOf(layer->patches()[0]->texture());
    layer->moveContents({-10, 5, 0});
    EXPECT_EQ(layer->regions(),
              (std::vector<MTLRegion>{makeMTLRegion(-9, 6, 2, 2), makeMTLRegion(-5, 10, 2, 2)}));
    EXPECT_EQ(layer->patches()[1]->cachedTiffData.toVector(), (std::vector<uint8_t>{9}));
    EXPECT_EQ(pixelsOf(layer->patches()[0]->texture()), before);
}

TEST(RasterLayer, EqualityNeedsTheSameTextures) {
    const auto layer = raster("L");
    layer->paste(*asymmetricBitmap(2, 2), {1, 1, 0});
    const auto copy = decodeTree<std::shared_ptr<RasterLayer>>(
        encodeTree(std::static_pointer_cast<Layer>(layer)));
    EXPECT_TRUE(copy->Layer::isEqual(*layer));
    EXPECT_FALSE(copy->isEqual(*layer)) << "other texture objects";
    EXPECT_EQ(*copy->patches()[0]->name(), *layer->patches()[0]->name());
    EXPECT_EQ(copy->patches()[0]->region(), layer->patches()[0]->region());

    copy->patches() = layer->patches();
    EXPECT_TRUE(copy->isEqual(*layer));
    EXPECT_EQ(copy->hash(), layer->hash());
}

TEST(RasterLayer, CodingRoundTripKeepsPixelsAndResetsTheCounter) {
    const auto layer = raster("L");
    const auto bitmap = asymmetricBitmap(5, 3, 200);
    layer->paste(*bitmap, {-4, 2, 0});
    layer->paste(*asymmetricBitmap(2, 2), {20, 20, 0});
    EXPECT_EQ(layer->patchCounter(), 3);

    const std::string json = JSONEncoder().encode(std::static_pointer_cast<Layer>(layer));
    const auto& cache = layer->patches()[0]->cachedTiffData;
    ASSERT_FALSE(cache.empty());
    // Top row first in the file, straight alpha.
    const auto stored = NSBitmapImageRep::imageRepWithData(cache.span());
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(bitmapPixel(*stored, 0, 0), bitmapPixel(*bitmap, 0, 2));
    EXPECT_EQ(bitmapPixel(*stored, 4, 2), bitmapPixel(*bitmap, 4, 0));

    const auto back = JSONDecoder().decode<std::shared_ptr<RasterLayer>>(json);
    EXPECT_EQ(back->patchCounter(), 1);
    EXPECT_EQ(labels(*back), labels(*layer));
    EXPECT_EQ(back->patches()[0]->cachedTiffData, cache);
    EXPECT_EQ(pixelsOf(back->patches()[0]->texture()), pixelsOf(layer->patches()[0]->texture()));
    EXPECT_EQ(JSONEncoder().encode(std::static_pointer_cast<Layer>(back)), json)
        << "unchanged patches are written with the bytes they were read as";
    const auto cb = newCommandBuffer();
    EXPECT_EQ(back->patch(makeMTLRegion(100, 100, 1, 1), cb)->name(), "L.1");
    cb->commit();
}

TEST(RasterLayer, DecodingRefusesDamagedPatches) {
    const auto layer = raster("L");
    layer->paste(*asymmetricBitmap(4, 4), {0, 0, 0});
    layer->paste(*asymmetricBitmap(4, 4), {10, 0, 0});
    const CodedValue encoded = encodeTree(std::static_pointer_cast<Layer>(layer));
    const auto patchAt = [](CodedValue& tree, size_t i) -> CodedDictionary& {
        return *(*tree.dictionary()->find("patches")->array())[i].dictionary();
    };
    const auto wide = *NSBitmapImageRep::makeRGBA8(RasterLayer::Patch::maximumSide + 1, 1,
                                                   ColorManagement::workingNSColorSpace())
                           ->representation(NSBitmapImageFileType::tiff, {});
    const struct {
        const char* name;
        std::function<void(CodedValue&)> damage;
        bool patchError; // else a decoding error
    } cases[] = {
        {"overlapping patches",
         [&](CodedValue& t) {
             patchAt(t, 1).set("origin", encodeTree(MTLOrigin{2, 2, 0}));
         },
         false},
        {"far away",
         [&](CodedValue& t) {
             patchAt(t, 1).set(
                 "origin", encodeTree(MTLOrigin{RasterLayer::Patch::maximumCoordinate - 2, 0, 0}));
         },
         true},
        {"off the plane",
         [&](CodedValue& t) {
             patchAt(t, 1).set("origin", encodeTree(MTLOrigin{10, 0, 1}));
         },
         true},
        {"larger than any texture", [&](CodedValue& t) { patchAt(t, 1).set("texture", wide); },
         true},
        {"no image",
         [&](CodedValue& t) {
             patchAt(t, 0).set("texture", CodedValue::Bytes{1, 2});
         },
         true},
        {"no name", [&](CodedValue& t) { patchAt(t, 0).set("name", CodedValue()); }, false},
        {"no patches", [](CodedValue& t) { t.dictionary()->remove("patches"); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CodedValue tree = encoded;
        c.damage(tree);
        if (c.patchError) {
            EXPECT_THROW(decodeTree<std::shared_ptr<RasterLayer>>(tree), RasterLayer::Patch::Error);
        } else {
            EXPECT_THROW(decodeTree<std::shared_ptr<RasterLayer>>(tree), DecodingError);
        }
    }
    EXPECT_NO_THROW(decodeTree<std::shared_ptr<RasterLayer>>(encoded));
}

TEST(RasterLayer, ContentsMovedBeyondTheReadableRangeAreNotWritten) {
    const auto layer = raster("L");
    layer->paste(*asymmetricBitmap(2, 2), {0, 0, 0});
    layer->moveContents({RasterLayer::Patch::maximumCoordinate - 1, 0, 0});
    EXPECT_THROW(encodeTree(std::static_pointer_cast<Layer>(layer)), EncodingError);
    layer->moveContents({-2, 0, 0});
    const auto back = decodeTree<std::shared_ptr<RasterLayer>>(
        encodeTree(std::static_pointer_cast<Layer>(layer)));
    EXPECT_EQ(back->regions(), layer->regions());
}

TEST(LayeredCanvas, JSONRoundTripWithPixels) {
    const auto bitmap = asymmetricBitmap(8, 6);
    const auto canvas = LayeredCanvas::make(*bitmap, "Image");
    const auto ink = raster("Ink");
    ink->paste(*asymmetricBitmap(3, 3, 90), {2, 2, 0});
    canvas->insertLayer(group("G", {ink}), {1});

    const std::string json = JSONEncoder().encode(canvas);
    const auto back = JSONDecoder().decode<std::shared_ptr<LayeredCanvas>>(json);
    EXPECT_EQ(back->size(), canvas->size());
    const auto backInk = std::dynamic_pointer_cast<RasterLayer>(back->layer({1, 0}));
    ASSERT_NE(backInk, nullptr);
    EXPECT_EQ(pixelsOf(backInk->patches()[0]->texture()), pixelsOf(ink->patches()[0]->texture()));
    const auto image = std::dynamic_pointer_cast<RasterLayer>(back->layer({0}));
    EXPECT_EQ(at(pixelsOf(image->patches()[0]->texture()), 8, 0, 5), bitmapPixel(*bitmap, 0, 0));
}
