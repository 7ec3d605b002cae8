#include "CanvasTestSupport.hpp"
#include "MetalExtensions/MTLGeometryCoding.hpp"
#include "PixelTestSupport.hpp"
#include "graphics/ColorManagement.hpp"
#include "graphics/ImageCodecs.hpp"
#include "graphics/NSColor.hpp"
#include "imaging/CIContext.hpp"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::testing;

namespace {

using Patch = RasterLayer::Patch;

MetalHelper& helper() {
    return *MetalHelper::shared();
}

CodedValue::Bytes storedTexture(const CodedValue& tree) {
    const auto bytes = tree.dictionary()->find("texture")->bytes();
    return {bytes.begin(), bytes.end()};
}

// A patch that a layer holds after pasting the picture at `origin`.
std::shared_ptr<RasterLayer> layerWith(const NSBitmapImageRep& bitmap, const MTLOrigin& origin) {
    auto layer = raster("L");
    layer->paste(bitmap, origin);
    return layer;
}

} // namespace

TEST(RasterLayerPatch, UnchangedPatchIsRenderedOnceAndMovesKeepItsBytes) {
    const auto layer = layerWith(*lopsidedBitmap(6, 4), {3, 5, 0});
    const auto& patch = layer->patches()[0];
    const CodedValue first = encodeTree(patch);
    const uint8_t* const rendered = patch->cachedTiffData.data();
    const CodedValue second = encodeTree(patch);
    EXPECT_EQ(patch->cachedTiffData.data(), rendered) << "rendered again";
    EXPECT_EQ(storedTexture(second), storedTexture(first));

    layer->moveContents({-10, 2, 0});
    const CodedValue moved = encodeTree(patch);
    EXPECT_EQ(patch->cachedTiffData.data(), rendered) << "a move renders nothing";
    EXPECT_EQ(storedTexture(moved), storedTexture(first));
    EXPECT_EQ(decodeTree<MTLOrigin>(*moved.dictionary()->find("origin")), (MTLOrigin{-7, 7, 0}));
}

TEST(RasterLayerPatch, DecodedPatchWritesTheBytesItWasReadAs) {
    const auto layer = layerWith(*lopsidedBitmap(5, 3), {0, 0, 0});
    CodedValue tree = encodeTree(layer->patches()[0]);
    // Bytes of another writer: the same picture, compressed differently.
    const auto original = NSBitmapImageRep::imageRepWithData(storedTexture(tree));
    ASSERT_NE(original, nullptr);
    const auto foreign = *original->representation(NSBitmapImageFileType::tiff, {});
    ASSERT_NE(foreign, storedTexture(tree));
    tree.dictionary()->set("texture", foreign);

    const auto back = decodeTree<std::shared_ptr<Patch>>(tree);
    EXPECT_EQ(back->cachedTiffData.toVector(), foreign);
    EXPECT_EQ(storedTexture(encodeTree(back)), foreign);
    EXPECT_EQ(texturePixels(back->texture()), texturePixels(layer->patches()[0]->texture()));
}

TEST(RasterLayerPatch, EveryWriteBeforeTheSaveReachesTheStoredPicture) {
    const auto red = NSColor::colorWithSRGBRed(1, 0, 0, 1);
    const struct {
        const char* name;
        std::function<void(RasterLayer&)> write;
    } writes[] = {
        {"bitmap paste",
         [](RasterLayer& layer) {
             layer.paste(*lopsidedBitmap(2, 2), {1, 1, 0});
         }},
        {"texture paste, committed and not waited for",
         [](RasterLayer& layer) {
             const auto source = helper().makeTexture({4, 4, 1}, MTLTextureUsage::shaderReadWrite,
                                                      MTLStorageMode::private_,
                                                      MTLPixelFormat::rgba32Float, std::nullopt);
             const auto cb = helper().commandQueue()->commandBuffer();
             helper().fill(source, *NSColor::colorWithSRGBRed(0, 0, 1, 1),
                           {MTLOriginZero, {4, 4, 1}}, cb);
             layer.paste(source, {{1, 1, 0}, {2, 2, 1}}, cb);
             cb->commit();
         }},
        // A writer that knows nothing of the cache.
        {"fill straight into the texture",
         [&](RasterLayer& layer) {
             const auto cb = helper().commandQueue()->commandBuffer();
             helper().fill(layer.patches()[0]->texture(), *red, {{1, 1, 0}, {1, 1, 1}}, cb);
             cb->commit();
         }},
    };
    for (const auto& w : writes) {
        SCOPED_TRACE(w.name);
        const auto layer = layerWith(*lopsidedBitmap(6, 4), {0, 0, 0});
        const auto patch = layer->patches()[0];
        const CodedValue before = encodeTree(patch);
        w.write(*layer);
        ASSERT_EQ(layer->patches().size(), 1u);
        const CodedValue after = encodeTree(patch);
        EXPECT_NE(storedTexture(after), storedTexture(before));
        const auto stored = NSBitmapImageRep::imageRepWithData(storedTexture(after));
        ASSERT_NE(stored, nullptr);
        const auto pixels = texturePixels(patch->texture());
        // Texture row r is file row h - 1 - r.
        for (int64_t row = 0; row < 4; ++row) {
            for (int64_t x = 0; x < 6; ++x) {
                ASSERT_EQ(pixelOf(*stored, x, 3 - row), texturePixel(pixels, 6, x, row))
                    << x << ", " << row;
            }
        }
    }
}

TEST(RasterLayerPatch, StoredPictureIsTopRowFirstWithStraightAlphaAndProfile) {
    const auto bitmap = lopsidedBitmap(7, 5);
    const auto layer = layerWith(*bitmap, {0, 0, 0});
    const CodedValue tree = encodeTree(layer->patches()[0]);
    const auto& bytes = storedTexture(tree);
    const ImageInfo info = ImageCodecs::readInfo(bytes);
    EXPECT_EQ(info.fileType, NSBitmapImageFileType::tiff);
    EXPECT_EQ(info.bitsPerSample, 8);
    const auto stored = NSBitmapImageRep::imageRepWithData(bytes);
    ASSERT_NE(stored, nullptr);
    // Pasted rows land as they are, so texture row 0 (the bottom) is bitmap row 0.
    for (int64_t y = 0; y < 5; ++y) {
        for (int64_t x = 0; x < 7; ++x) {
            ASSERT_EQ(pixelOf(*stored, x, 4 - y), pixelOf(*bitmap, x, y)) << x << ", " << y;
        }
    }
}

TEST(RasterLayerPatch, NonImageBytesFailBeforeOriginAndName) {
    const auto layer = layerWith(*lopsidedBitmap(64, 64), {0, 0, 0});
    const CodedValue good = encodeTree(layer->patches()[0]);
    const auto tiff = storedTexture(good);
    const CodedValue::Bytes truncated(tiff.begin(), tiff.begin() + tiff.size() / 2);
    const CodedValue::Bytes cases[] = {{}, {'I', 'I', 42, 0}, {1, 2, 3}, truncated};
    for (const auto& bytes : cases) {
        SCOPED_TRACE(bytes.size());
        CodedValue tree = good;
        tree.dictionary()->set("texture", bytes);
        tree.dictionary()->remove("origin");
        tree.dictionary()->remove("name");
        EXPECT_THROW(decodeTree<std::shared_ptr<Patch>>(tree), Patch::Error);
    }
}

TEST(RasterLayerPatch, DeferredUploadsReadPixelsLaterAndRefuseDamagedBodies) {
    const auto layer = layerWith(*lopsidedBitmap(64, 40), {2, 1, 0});
    const CodedValue good = encodeTree(layer->patches()[0]);
    const auto decodeDeferred = [](const CodedValue& tree, PatchUploads& uploads) {
        ValueDecoder decoder;
        auto shared = std::shared_ptr<PatchUploads>(&uploads, [](PatchUploads*) {});
        decoder.userInfo[std::string(Patch::uploadsKey)] = shared;
        return decoder.decode<std::shared_ptr<Patch>>(tree);
    };
    PatchUploads uploads;
    const auto back = decodeDeferred(good, uploads);
    EXPECT_EQ(uploads.count(), 1u);
    uploads.run();
    EXPECT_EQ(uploads.count(), 0u);
    EXPECT_EQ(texturePixels(back->texture()), texturePixels(layer->patches()[0]->texture()));
    const uint8_t* const cache = back->cachedTiffData.data();
    EXPECT_EQ(storedTexture(encodeTree(back)), storedTexture(good));
    EXPECT_EQ(back->cachedTiffData.data(), cache) << "a fresh upload counts as unchanged";

    // A sound header over a damaged body is found only when the pixels are read.
    CodedValue damaged = good;
    auto bytes = storedTexture(good);
    std::fill(bytes.begin() + 8, bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() / 2),
              uint8_t(0xFF));
    damaged.dictionary()->set("texture", bytes);
    PatchUploads later;
    EXPECT_NO_THROW(decodeDeferred(damaged, later));
    EXPECT_THROW(later.run(), Patch::Error);
}

TEST(RasterLayerPatch, RefreshingManyPatchesRendersOnlyTheChangedOnes) {
    const auto layer = raster("L");
    for (int i = 0; i < 4; ++i) {
        layer->paste(*lopsidedBitmap(4, 4), {10 * i, 0, 0});
    }
    const auto patches = layer->patches();
    ASSERT_EQ(patches.size(), 4u);
    Patch::refreshCaches(patches);
    // Held, so a new cache cannot take an old one's freed address.
    std::vector<SharedBytes> caches;
    for (const auto& p : patches) {
        caches.push_back(p->cachedTiffData);
        EXPECT_EQ(p->cachedTiffData.toVector(), p->tiffData());
    }
    layer->paste(*lopsidedBitmap(1, 1), {21, 2, 0});
    Patch::refreshCaches(patches);
    for (size_t i = 0; i < patches.size(); ++i) {
        EXPECT_EQ(patches[i]->cachedTiffData.data() != caches[i].data(), i == 2) << i;
        EXPECT_EQ(patches[i]->cachedTiffData.toVector(), patches[i]->tiffData()) << i;
    }
}

// A save knows an unchanged patch by its texture's change count alone: pixels
// altered where nothing counts the change (a view for reading) are not even
// looked at, and the stored bytes are reused as they are.
TEST(RasterLayerPatch, UnchangedPatchesAreKnownWithoutReadingTheirPixels) {
    const auto layer = raster("L");
    layer->paste(*lopsidedBitmap(4, 4), {0, 0, 0});
    layer->paste(*lopsidedBitmap(4, 4), {10, 0, 0});
    const auto patches = layer->patches();
    ASSERT_EQ(patches.size(), 2u);
    Patch::refreshCaches(patches);
    const std::vector<uint8_t> storedBefore = patches[1]->cachedTiffData.toVector();
    const SharedBytes cache = patches[1]->cachedTiffData;
    patches[1]->texture()->contentsForReading().row(0)[0] ^= 0xFF;

    layer->paste(*lopsidedBitmap(1, 1), {1, 1, 0});
    Patch::refreshCaches(patches);
    EXPECT_EQ(patches[0]->cachedTiffData.toVector(), patches[0]->tiffData()) << "the changed one";
    EXPECT_EQ(patches[1]->cachedTiffData.data(), cache.data());
    EXPECT_EQ(patches[1]->cachedTiffData.toVector(), storedBefore);
    EXPECT_EQ(storedTexture(encodeTree(patches[1])), storedBefore);
}

// Straight textures are read row by row into the encoder instead of through a
// rendered bitmap: the same file, also where colour hides under alpha 0, with
// odd sizes and more than one band of strips.
TEST(RasterLayerPatch, RowByRowEncodingWritesTheBytesOfTheRenderedBitmap) {
    for (const auto& [width, height] : {std::pair<int64_t, int64_t>{1, 1}, {37, 5}, {700, 513}}) {
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
        auto patch = Patch::make({0, 0, 0}, width, height, "P");
        std::vector<uint8_t> pixels(size_t(width * height) * 4);
        uint32_t s = uint32_t(width * 977 + height);
        for (uint8_t& v : pixels) {
            s = s * 1664525u + 1013904223u;
            v = uint8_t(s >> 24);
        }
        for (size_t i = 3; i < pixels.size(); i += 4 * 7) {
            pixels[i] = 0; // colour under no coverage
        }
        // The clearing fill of a new patch lands first, then the pixels.
        helper().execute([](MetalHelper&, const std::shared_ptr<MTLCommandBuffer>&) {});
        const MTLTextureContents host = patch->texture()->contents();
        for (int64_t y = 0; y < height; ++y) {
            std::memcpy(host.row(y), pixels.data() + size_t(y * width) * 4, size_t(width) * 4);
        }

        CIImageOptions options;
        options.colorSpace = ColorManagement::workingColorSpace();
        CIContextOptions contextOptions;
        contextOptions.outputPremultiplied = false;
        const auto bitmap =
            CIContext(contextOptions)
                .createBitmap(
                    CIImage::withTexture(patch->texture(), options)->premultiplyingAlpha(),
                    {{0, 0}, {CGFloat(width), CGFloat(height)}});
        ImageEncodingProperties properties;
        properties.compressionMethod = 5;
        properties.colorSyncProfileData = ColorManagement::workingColorSpace()->iccData();
        EXPECT_EQ(patch->tiffData(),
                  ImageCodecs::encode(*bitmap, NSBitmapImageFileType::tiff, properties));
    }
}
