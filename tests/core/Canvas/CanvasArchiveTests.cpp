#include "Canvas/CanvasArchive.hpp"
#include "CanvasTestSupport.hpp"
#include "MetalExtensions/MTLGeometryCoding.hpp"
#include "PixelTestSupport.hpp"
#include "coding/KeyedArchiveError.hpp"
#include "coding/KeyedArchiver.hpp"
#include "coding/KeyedUnarchiver.hpp"
#include "coding/PropertyListEncoder.hpp"
#include "coding/PropertyListError.hpp"
#include "graphics/ImageCodecs.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <thread>
#include <unistd.h>

using namespace velmora;
using namespace velmora::testing;
namespace fs = std::filesystem;

namespace {

class CanvasArchiveTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("velmora-archive-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    fs::path folder;
};

std::vector<uint8_t> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A group holding two painted layers, one with a name that looks like an
// archive marker, and a layer with a patch away from the origin.
std::shared_ptr<LayeredCanvas> paintedCanvas() {
    const auto a = raster("$null");
    a->paste(*lopsidedBitmap(20, 12), {3, 4, 0});
    const auto b = raster("$class");
    b->paste(*lopsidedBitmap(6, 9), {-2, 30, 0});
    b->paste(*lopsidedBitmap(4, 4), {40, 40, 0});
    const auto c = raster("Ink");
    c->paste(*lopsidedBitmap(64, 64), {0, 0, 0});
    c->setOpacity(0.5);
    return canvasWith({group("Sketch", {a, b}), c});
}

std::vector<std::shared_ptr<RasterLayer>> rasterLayers(const Layers& layers) {
    std::vector<std::shared_ptr<RasterLayer>> result;
    for (const auto& layer : layers) {
        if (auto r = std::dynamic_pointer_cast<RasterLayer>(layer)) {
            result.push_back(r);
        } else if (auto g = std::dynamic_pointer_cast<GroupLayer>(layer)) {
            const auto inner = rasterLayers(g->immediateLayers());
            result.insert(result.end(), inner.begin(), inner.end());
        }
    }
    return result;
}

// Same tree, names, regions and pixels.
void expectSamePicture(const LayeredCanvas& a, const LayeredCanvas& b) {
    EXPECT_EQ(a.size(), b.size());
    EXPECT_EQ(a.description(), b.description());
    const auto ra = rasterLayers(a.immediateLayers());
    const auto rb = rasterLayers(b.immediateLayers());
    ASSERT_EQ(ra.size(), rb.size());
    for (size_t i = 0; i < ra.size(); ++i) {
        SCOPED_TRACE(ra[i]->name());
        EXPECT_EQ(ra[i]->name(), rb[i]->name());
        EXPECT_EQ(ra[i]->opacity(), rb[i]->opacity());
        EXPECT_EQ(ra[i]->regions(), rb[i]->regions());
        ASSERT_EQ(ra[i]->patches().size(), rb[i]->patches().size());
        for (size_t p = 0; p < ra[i]->patches().size(); ++p) {
            EXPECT_EQ(texturePixels(ra[i]->patches()[p]->texture()),
                      texturePixels(rb[i]->patches()[p]->texture()));
        }
    }
}

// Our own error types, and nothing else, for damaged documents.
::testing::AssertionResult failsCleanly(const std::function<void()>& read) {
    try {
        read();
    } catch (const KeyedArchiveError&) {
        return ::testing::AssertionSuccess();
    } catch (const PropertyListError&) {
        return ::testing::AssertionSuccess();
    } catch (const DecodingError&) {
        return ::testing::AssertionSuccess();
    } catch (const LayeredCanvas::DecodingError&) {
        return ::testing::AssertionSuccess();
    } catch (const RasterLayer::Patch::Error&) {
        return ::testing::AssertionSuccess();
    } catch (const std::exception& e) {
        return ::testing::AssertionFailure() << "unexpected error: " << e.what();
    }
    return ::testing::AssertionFailure() << "read succeeded";
}

// Lopsided, with every alpha from 0 up and colour 0 where alpha is 0, as
// stored pictures keep it.
std::shared_ptr<NSBitmapImageRep> halfTransparentBitmap(int64_t w, int64_t h, int seed) {
    auto bitmap = lopsidedBitmap(w, h);
    for (int64_t y = 0; y < h; ++y) {
        for (int64_t x = 0; x < w; ++x) {
            uint8_t* p = bitmap->row(y) + 4 * x;
            p[3] = static_cast<uint8_t>((5 * x + 3 * y * y + seed) % 256);
            if (p[3] == 0) {
                p[0] = p[1] = p[2] = 0;
            }
        }
    }
    return bitmap;
}

// Patches at odd offsets, some beyond the canvas, in a group and beside it.
std::shared_ptr<LayeredCanvas> halfTransparentCanvas() {
    const auto a = raster("a");
    a->paste(*halfTransparentBitmap(37, 23, 1), {-3, 7, 0});
    a->paste(*halfTransparentBitmap(9, 5, 2), {41, 50, 0});
    const auto b = raster("b");
    b->paste(*halfTransparentBitmap(64, 64, 3), {13, -11, 0});
    b->setOpacity(0.5);
    const auto c = raster("c");
    c->paste(*halfTransparentBitmap(50, 61, 4), {1, 3, 0});
    return canvasWith({group("Sketch", {a, b}), c, group("Empty", {})});
}

// The canvas with its pixels decoded in tasks of `taskBytes`.
std::shared_ptr<LayeredCanvas> decodedInTasks(std::span<const uint8_t> data,
                                              std::size_t taskBytes) {
    KeyedUnarchiver unarchiver(data);
    const auto uploads = std::make_shared<PatchUploads>(taskBytes);
    unarchiver.userInfo[std::string(RasterLayer::Patch::uploadsKey)] = uploads;
    auto canvas =
        unarchiver.decodeDecodable<std::shared_ptr<LayeredCanvas>>(CanvasArchive::canvasKey);
    if (!canvas) {
        std::rethrow_exception(unarchiver.error());
    }
    uploads->run();
    return *canvas;
}

} // namespace

TEST_F(CanvasArchiveTest, SavedCanvasReadsBackUprightWithItsPreviews) {
    const auto canvas = paintedCanvas();
    const auto flat = lopsidedBitmap(64, 64);
    const auto path = folder / "picture.velmora";
    CanvasArchive::write(path, *canvas, *CanvasPreviews::makeStandardPreviews(flat));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1)
        << "no temporary file left";
    const auto data = readFile(path);
    EXPECT_EQ(data,
              CanvasArchive::encodedData(*canvas, *CanvasPreviews::makeStandardPreviews(flat)));

    const auto back = CanvasArchive::readCanvas(data);
    expectSamePicture(*canvas, *back);
    EXPECT_EQ(back->activeLayer(), nullptr);

    const auto previews = CanvasArchive::readPreviews(data);
    const auto best = previews->bestPreview();
    ASSERT_NE(best, nullptr);
    EXPECT_EQ(best->size(), (CGSize{64, 64}));
    // JPEG at full quality keeps the lopsided picture's gradients upright.
    EXPECT_NEAR(pixelOf(*best, 60, 2)[0], pixelOf(*flat, 60, 2)[0], 6);
    EXPECT_NEAR(pixelOf(*best, 3, 60)[1], pixelOf(*flat, 3, 60)[1], 6);
}

TEST_F(CanvasArchiveTest, IndependentReaderFindsCanvasPreviewsNamesAndPictures) {
    if (std::system("python3 -c 'import plistlib' > /dev/null 2>&1") != 0) {
        GTEST_SKIP() << "no python3";
    }
    const auto path = folder / "picture.velmora";
    CanvasArchive::write(path, *paintedCanvas(),
                         *CanvasPreviews::makeStandardPreviews(lopsidedBitmap(64, 64)));
    const auto script = folder / "read.py";
    std::ofstream(script) << R"(import plistlib, sys
archive = plistlib.load(open(sys.argv[1], 'rb'))
objects = archive['$objects']
def resolve(v):
    if isinstance(v, plistlib.UID):
        if v.data == 0: return None
        v = objects[v.data]
    if isinstance(v, dict) and 'NS.objects' in v:
        values = [resolve(o) for o in v['NS.objects']]
        if 'NS.keys' in v:
            return dict(zip([resolve(k) for k in v['NS.keys']], values))
        return values
    return v
print(archive['$archiver'], archive['$version'], list(archive['$top'].keys()))
names, kinds = [], []
def walk(v):
    if isinstance(v, dict):
        if 'name' in v and isinstance(v['name'], str): names.append(v['name'])
        for x in v.values(): walk(x)
    elif isinstance(v, list):
        for x in v: walk(x)
    elif isinstance(v, bytes):
        kinds.append('tiff' if v[:4] in (b'II*\0', b'MM\0*') else 'jpeg' if v[:2] == b'\xff\xd8' else 'other')
canvas = resolve(archive['$top']['Canvas'])
walk(canvas)
print(sorted(set(n for n in names if not n.startswith('Merge'))), sorted(kinds))
kinds.clear()
walk(resolve(archive['$top']['Previews']))
print(canvas['size'], sorted(kinds))
)";
    const auto output = folder / "out.txt";
    ASSERT_EQ(std::system(("python3 " + script.string() + " " + path.string() + " > " +
                           output.string() + " 2>&1")
                              .c_str()),
              0)
        << "the reader failed";
    std::ifstream in(output);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // A name "$null" is an object of its own: only UID 0 is nil.
    EXPECT_EQ(text, "NSKeyedArchiver 100000 ['Canvas', 'Previews']\n"
                    "['$class', '$class.1', '$class.2', '$null', '$null.1', 'Ink', 'Ink.1', "
                    "'Sketch'] ['tiff', 'tiff', 'tiff', 'tiff']\n"
                    "{'width': 64, 'height': 64, 'depth': 1} ['jpeg']\n");
}

TEST_F(CanvasArchiveTest, PasteRightBeforeSavingIsSaved) {
    const auto layer = raster("L");
    layer->paste(*lopsidedBitmap(8, 8), {0, 0, 0});
    const auto canvas = canvasWith({layer});
    const auto previews = CanvasPreviews::makeStandardPreviews(lopsidedBitmap(8, 8));
    const auto before = CanvasArchive::encodedData(*canvas, *previews);

    const auto stroke = MetalHelper::shared()->makeTexture(
        {64, 64, 1}, MTLTextureUsage::shaderReadWrite, MTLStorageMode::private_,
        MTLPixelFormat::rgba32Float, std::nullopt);
    const auto cb = MetalHelper::shared()->commandQueue()->commandBuffer();
    MetalHelper::shared()->fill(stroke, *NSColor::colorWithSRGBRed(0, 1, 0, 1),
                                {MTLOriginZero, {64, 64, 1}}, cb);
    layer->paste(stroke, {{2, 2, 0}, {3, 3, 1}}, cb);
    cb->commit();
    const auto after = CanvasArchive::encodedData(*canvas, *previews);
    EXPECT_NE(after, before);
    const auto back = rasterLayers(CanvasArchive::readCanvas(after)->immediateLayers());
    ASSERT_EQ(back.size(), 1u);
    const auto pixels = texturePixels(back[0]->patches()[0]->texture());
    EXPECT_EQ(texturePixel(pixels, 8, 3, 3), (RGBA{0, 255, 0, 255}));
    EXPECT_EQ(texturePixel(pixels, 8, 5, 5),
              texturePixel(texturePixels(layer->patches()[0]->texture()), 8, 5, 5));
}

TEST_F(CanvasArchiveTest, DamagedDocumentsFailWithAnError) {
    const auto data = CanvasArchive::encodedData(
        *paintedCanvas(), *CanvasPreviews::makeStandardPreviews(lopsidedBitmap(16, 16)));
    std::vector<std::vector<uint8_t>> damaged;
    for (const size_t length :
         {size_t(0), size_t(8), data.size() / 3, data.size() / 2, data.size() - 1}) {
        damaged.emplace_back(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(length));
    }
    for (size_t at = 9; at < data.size(); at += data.size() / 7) {
        auto copy = data;
        for (size_t i = at; i < std::min(at + 24, copy.size()); ++i) {
            copy[i] ^= 0x5A;
        }
        damaged.push_back(std::move(copy));
    }
    for (size_t i = 0; i < damaged.size(); ++i) {
        SCOPED_TRACE(i);
        const auto& bytes = damaged[i];
        if (i < 5) {
            EXPECT_TRUE(failsCleanly([&] { CanvasArchive::readCanvas(bytes); }));
            EXPECT_TRUE(failsCleanly([&] { CanvasArchive::readPreviews(bytes); }));
        } else {
            // A flip may land in bytes that no reader checks (image samples).
            try {
                CanvasArchive::readCanvas(bytes);
            } catch (...) {
                EXPECT_TRUE(failsCleanly([&] { CanvasArchive::readCanvas(bytes); }));
            }
        }
    }
}

TEST_F(CanvasArchiveTest, MissingOrOversizedEntriesFail) {
    const auto canvas = paintedCanvas();
    CodedValue tree = encodeTree(*canvas);
    tree.dictionary()->set("size", encodeTree(MTLSize{8001, 10, 1}));
    KeyedArchiver oversized;
    oversized.encodeObject(PropertyListEncoder::propertyList(std::move(tree)), "Canvas");
    EXPECT_THROW(CanvasArchive::readCanvas(oversized.encodedData()), LayeredCanvas::DecodingError);

    KeyedArchiver empty;
    const auto none = empty.encodedData();
    EXPECT_THROW(CanvasArchive::readCanvas(none), DecodingError);
    EXPECT_THROW(CanvasArchive::readPreviews(none), DecodingError);
}

TEST_F(CanvasArchiveTest, FailedSaveLeavesTheOldFile) {
    const auto path = folder / "picture.velmora";
    const auto previews = CanvasPreviews::makeStandardPreviews(lopsidedBitmap(8, 8));
    const auto canvas = paintedCanvas();
    CanvasArchive::write(path, *canvas, *previews);
    const auto saved = readFile(path);
    // Contents moved where no reader could find them cannot be written.
    canvas->immediateLayers()[1]->moveContents({RasterLayer::Patch::maximumCoordinate, 0, 0});
    EXPECT_THROW(CanvasArchive::write(path, *canvas, *previews), EncodingError);
    EXPECT_EQ(readFile(path), saved);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

TEST_F(CanvasArchiveTest, PatchesDecodedInParallelEqualThoseWritten) {
    const auto canvas = halfTransparentCanvas();
    const auto previews = CanvasPreviews::makeStandardPreviews(lopsidedBitmap(16, 16));
    const auto data = CanvasArchive::encodedData(*canvas, *previews);
    // A strip a task, a few strips a task, a patch a task.
    for (const std::size_t taskBytes :
         {std::size_t(1), std::size_t(3000), PatchUploads::defaultTaskBytes}) {
        SCOPED_TRACE(taskBytes);
        expectSamePicture(*canvas, *decodedInTasks(data, taskBytes));
    }

    // Read from the file's bytes, the patches keep views of them, copied nowhere.
    const auto path = folder / "picture.velmora";
    CanvasArchive::write(path, *canvas, *previews);
    const SharedBytes read = SharedBytes::readFile(path);
    CanvasArchive::ReadSteps steps;
    const auto back = CanvasArchive::readCanvas(read, &steps);
    expectSamePicture(*canvas, *back);
    EXPECT_GT(steps.pixels, 0);
    for (const auto& layer : rasterLayers(back->immediateLayers())) {
        for (const auto& patch : layer->patches()) {
            const SharedBytes& bytes = patch->cachedTiffData;
            EXPECT_TRUE(bytes.data() >= read.data() &&
                        bytes.data() + bytes.size() <= read.data() + read.size())
                << patch->description();
        }
    }
    // And write them unchanged.
    EXPECT_EQ(CanvasArchive::encodedData(*back, *previews), data);
}

TEST_F(CanvasArchiveTest, DamagedPatchAmongOthersDecodedInParallelFails) {
    const auto canvas = halfTransparentCanvas();
    const auto data = CanvasArchive::encodedData(
        *canvas, *CanvasPreviews::makeStandardPreviews(lopsidedBitmap(16, 16)));
    // The strips of the third of the four patches, found by their bytes.
    const auto patch = rasterLayers(canvas->immediateLayers())[1]->patches()[0];
    const auto tiff = patch->cachedTiffData.span();
    const auto at = std::search(data.begin(), data.end(), tiff.begin(), tiff.end());
    ASSERT_NE(at, data.end());
    auto damaged = data;
    const auto start = damaged.begin() + (at - data.begin());
    std::fill(start + 8, start + static_cast<std::ptrdiff_t>(tiff.size() / 2), uint8_t(0xFF));
    for (const std::size_t taskBytes : {std::size_t(1), PatchUploads::defaultTaskBytes}) {
        SCOPED_TRACE(taskBytes);
        EXPECT_THROW(decodedInTasks(damaged, taskBytes), RasterLayer::Patch::Error);
    }
    EXPECT_THROW(CanvasArchive::readCanvas(damaged), RasterLayer::Patch::Error);
    expectSamePicture(*canvas, *CanvasArchive::readCanvas(data));
}

// The document cut short or written over in place by another program while
// open: the save writes the patches' bytes as they were read, never the file's.
TEST_F(CanvasArchiveTest, SaveAfterTheOpenFileWasChangedInPlaceIsWhole) {
    const auto canvas = halfTransparentCanvas();
    const auto previews = CanvasPreviews::makeStandardPreviews(lopsidedBitmap(16, 16));
    const auto path = folder / "picture.velmora";
    for (const bool cutShort : {true, false}) {
        SCOPED_TRACE(cutShort ? "cut short" : "written over");
        CanvasArchive::write(path, *canvas, *previews);
        const auto data = readFile(path);
        const auto opened = CanvasArchive::readCanvas(SharedBytes::readFile(path));
        if (cutShort) {
            ASSERT_EQ(::truncate(path.c_str(), off_t(data.size() / 3)), 0);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(20)); // a later time
            std::fstream out(path, std::ios::in | std::ios::out | std::ios::binary);
            const std::string zeros(data.size() - 100, '\0');
            out.seekp(100);
            out.write(zeros.data(), std::streamsize(zeros.size()));
        }
        CanvasArchive::write(path, *opened, *previews);
        EXPECT_EQ(readFile(path), data);
        expectSamePicture(*canvas, *CanvasArchive::readCanvas(readFile(path)));
    }
}
