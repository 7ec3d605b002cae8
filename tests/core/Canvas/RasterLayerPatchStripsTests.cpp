#include "Canvas/CanvasArchive.hpp"
#include "CanvasTestSupport.hpp"
#include "PixelTestSupport.hpp"
#include "graphics/ColorManagement.hpp"
#include "graphics/NSColor.hpp"
#include "graphics/TiffStripReader.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <unistd.h>

using namespace velmora;
using namespace velmora::testing;

namespace {

using Patch = RasterLayer::Patch;

// Every alpha, colour 0 where alpha is 0, as stored pictures keep it.
std::shared_ptr<NSBitmapImageRep> halfTransparent(int64_t w, int64_t h, int seed) {
    auto bitmap = lopsidedBitmap(w, h);
    for (int64_t y = 0; y < h; ++y) {
        for (int64_t x = 0; x < w; ++x) {
            uint8_t* p = bitmap->row(y) + 4 * x;
            p[3] = uint8_t((5 * x + 3 * y * y + seed) % 256);
            if (p[3] == 0) {
                p[0] = p[1] = p[2] = 0;
            }
        }
    }
    return bitmap;
}

// A stroke's result laid out in canvas coordinates, pasted into the layer at
// `region` as a finished stroke is.
void stroke(RasterLayer& layer, const MTLRegion& region, double red) {
    MetalHelper& helper = *MetalHelper::shared();
    const auto texture =
        helper.makeTexture({256, 128, 1}, MTLTextureUsage::shaderReadWrite,
                           MTLStorageMode::private_, MTLPixelFormat::rgba32Float, std::nullopt);
    helper.execute([&](MetalHelper& h, const std::shared_ptr<MTLCommandBuffer>& cb) {
        h.fill(texture, *NSColor::colorWithSRGBRed(red, 0.4, 0.7, 0.45), region, cb);
        layer.paste(texture, region, cb);
    });
}

// Each strip's coded bytes.
std::vector<std::vector<uint8_t>> strips(const SharedBytes& tiff) {
    const auto reader =
        codec::TiffStripReader::open(tiff.span(), ColorManagement::workingColorSpace()->iccData());
    std::vector<std::vector<uint8_t>> result;
    if (!reader) {
        ADD_FAILURE() << "not our strips";
        return result;
    }
    for (const auto& [offset, size] : reader->stripPlaces()) {
        result.emplace_back(tiff.data() + offset, tiff.data() + offset + size);
    }
    return result;
}

// Which strips differ between two TIFFs of one patch.
std::vector<bool> changedStrips(const SharedBytes& before, const SharedBytes& after) {
    const auto a = strips(before), b = strips(after);
    EXPECT_EQ(a.size(), b.size());
    std::vector<bool> changed;
    for (size_t s = 0; s < std::min(a.size(), b.size()); ++s) {
        changed.push_back(a[s] != b[s]);
    }
    return changed;
}

std::vector<std::shared_ptr<Patch>> patchesOf(const LayeredCanvas& canvas) {
    std::vector<std::shared_ptr<Patch>> patches;
    for (const auto& layer : canvas.immediateLayers()) {
        const auto raster = std::dynamic_pointer_cast<RasterLayer>(layer);
        patches.insert(patches.end(), raster->patches().begin(), raster->patches().end());
    }
    return patches;
}

// Saved, read back: the same regions and pixels as the canvas.
std::shared_ptr<LayeredCanvas> savedAndReopened(const LayeredCanvas& canvas) {
    const auto previews = CanvasPreviews::makeStandardPreviews(lopsidedBitmap(16, 16));
    const auto back = CanvasArchive::readCanvas(CanvasArchive::encodedData(canvas, *previews));
    const auto mine = patchesOf(canvas), theirs = patchesOf(*back);
    EXPECT_EQ(mine.size(), theirs.size());
    for (size_t i = 0; i < std::min(mine.size(), theirs.size()); ++i) {
        SCOPED_TRACE(mine[i]->description());
        EXPECT_EQ(mine[i]->region(), theirs[i]->region());
        EXPECT_EQ(texturePixels(mine[i]->texture()), texturePixels(theirs[i]->texture()));
    }
    return back;
}

// A 160-pixel-wide patch has strips of 12 rows; 48 rows make 4 strips, file
// row r (top first) being texture row 47 - r.
std::shared_ptr<LayeredCanvas> paintedCanvas() {
    const auto a = raster("a");
    a->paste(*halfTransparent(160, 48, 1), {5, 7, 0});
    const auto b = raster("b");
    b->paste(*halfTransparent(64, 40, 2), {180, 3, 0});
    b->paste(*halfTransparent(37, 23, 3), {41, 70, 0});
    return canvasWith({a, b});
}

} // namespace

// After strokes, a save renders only the patches they reached, and of those
// only the strips the strokes touched where the patch stays the same; the
// file reads back as the canvas. Then the same from the bytes read back.
TEST(RasterLayerPatchStrips, SaveAfterAStrokeRewritesOnlyTheTouchedStrips) {
    const auto canvas = paintedCanvas();
    savedAndReopened(*canvas);
    const auto a = std::static_pointer_cast<RasterLayer>(canvas->immediateLayers()[0]);
    const auto b = std::static_pointer_cast<RasterLayer>(canvas->immediateLayers()[1]);
    std::map<const Patch*, SharedBytes> before;
    for (const auto& patch : patchesOf(*canvas)) {
        before[patch.get()] = patch->cachedTiffData;
    }
    // From a's left edge, texture rows 30..40 (file rows 8..17): strips 0 and 1.
    stroke(*a, {{5, 37, 0}, {20, 10, 1}}, 0.9);
    // Out of b's small patch: merged into a patch of its own, encoded whole.
    stroke(*b, {{70, 80, 0}, {12, 5, 1}}, 0.2);
    savedAndReopened(*canvas);

    const auto& patchA = a->patches()[0];
    EXPECT_EQ(changedStrips(before[patchA.get()], patchA->cachedTiffData),
              (std::vector<bool>{true, true, false, false}));
    EXPECT_EQ(patchA->cachedTiffData.toVector(), patchA->tiffData()) << "a whole encode's bytes";
    ASSERT_EQ(b->patches().size(), 2u);
    EXPECT_EQ(b->patches()[0]->cachedTiffData, before[b->patches()[0].get()]) << "untouched";
    EXPECT_EQ(before.count(b->patches()[1].get()), 0u) << "merged anew";

    // Patches read from a file keep its bytes; a stroke over a's bottom rows
    // and right edge (texture rows 0..2, file rows 45..47) renews the last strip.
    const auto back = savedAndReopened(*canvas);
    const auto backA = std::static_pointer_cast<RasterLayer>(back->immediateLayers()[0]);
    const SharedBytes read = backA->patches()[0]->cachedTiffData;
    stroke(*backA, {{150, 7, 0}, {15, 3, 1}}, 0.5);
    savedAndReopened(*back);
    EXPECT_EQ(changedStrips(read, backA->patches()[0]->cachedTiffData),
              (std::vector<bool>{false, false, false, true}));
    EXPECT_EQ(backA->patches()[0]->cachedTiffData.toVector(), backA->patches()[0]->tiffData());
}

// Strips a stroke did not touch are not encoded again: a change there that
// nothing counted stays out of the file. Writes the texture does not place (a
// view taken for writing anywhere) and strokes that reach every strip are
// encoded whole, and read back right.
TEST(RasterLayerPatchStrips, OnlyPlacedChangesAreEncodedAndTheRestWhole) {
    const auto canvas = paintedCanvas();
    savedAndReopened(*canvas);
    const auto a = std::static_pointer_cast<RasterLayer>(canvas->immediateLayers()[0]);
    const auto& patch = a->patches()[0];
    const SharedBytes first = patch->cachedTiffData;
    uint8_t& hidden = patch->texture()->contentsForReading().row(0)[4 * 70]; // strip 3
    hidden ^= 0x55;
    stroke(*a, {{40, 50, 0}, {9, 5, 1}}, 0.8); // texture rows 43..47: strip 0
    Patch::refreshCaches(a->patches());
    EXPECT_EQ(changedStrips(first, patch->cachedTiffData),
              (std::vector<bool>{true, false, false, false}));
    EXPECT_NE(patch->cachedTiffData.toVector(), patch->tiffData()) << "strip 3 was kept";
    hidden ^= 0x55;
    EXPECT_EQ(patch->cachedTiffData.toVector(), patch->tiffData());
    // The top-left pixel (file row 0, strip 0), changed where nothing tells the row.
    patch->texture()->contents().row(47)[0] ^= 0x55;
    stroke(*a, {{5, 7, 0}, {3, 3, 1}}, 0.3); // bottom rows: the last strip
    savedAndReopened(*canvas);
    EXPECT_EQ(patch->cachedTiffData.toVector(), patch->tiffData());

    const SharedBytes kept = patch->cachedTiffData;
    stroke(*a, {{100, 7, 0}, {2, 48, 1}}, 0.6); // every row
    savedAndReopened(*canvas);
    EXPECT_EQ(changedStrips(kept, patch->cachedTiffData),
              (std::vector<bool>{true, true, true, true}));
    EXPECT_EQ(patch->cachedTiffData.toVector(), patch->tiffData());
}

// The bytes a patch was read from are the program's own: a file cut short
// since it was read still gives the strips a stroke did not touch.
TEST(RasterLayerPatchStrips, AFileCutShortSinceItWasReadStillGivesItsStrips) {
    const auto previews = CanvasPreviews::makeStandardPreviews(lopsidedBitmap(16, 16));
    const auto path = std::filesystem::temp_directory_path() /
                      ("velmora-strips-" + std::to_string(::getpid()) + ".velmora");
    CanvasArchive::write(path, *paintedCanvas(), *previews);
    const auto opened = CanvasArchive::readCanvas(SharedBytes::readFile(path));
    const auto a = std::static_pointer_cast<RasterLayer>(opened->immediateLayers()[0]);
    const SharedBytes read = a->patches()[0]->cachedTiffData;
    stroke(*a, {{5, 37, 0}, {20, 10, 1}}, 0.9);
    ASSERT_EQ(::truncate(path.c_str(), 0), 0);
    savedAndReopened(*opened);
    EXPECT_EQ(changedStrips(read, a->patches()[0]->cachedTiffData),
              (std::vector<bool>{true, true, false, false}));
    EXPECT_EQ(a->patches()[0]->cachedTiffData.toVector(), a->patches()[0]->tiffData());
    std::filesystem::remove(path);
}
