// Saving, opening and exporting an 8000 x 8000 canvas of four painted layers
// through the document, against the engine calls the document makes, in the
// same iteration: the ratio is what the document layer adds.

#include "BenchSupport.hpp"
#include "Canvas/CanvasArchive.hpp"
#include "Canvas/RasterLayer.hpp"
#include "Document/Document.hpp"
#include "Document/FlatExport.hpp"
#include "PaintedBitmap.hpp"
#include "PaintedDocument.hpp"
#include "Rendering/MetalHelper.hpp"
#include "Rendering/RenderedCanvas.hpp"
#include "desktop/VersionStore.hpp"
#include "foundation/AtomicFile.hpp"
#include "foundation/LogCapture.hpp"
#include "graphics/ColorManagement.hpp"
#include "graphics/ImageCodecs.hpp"
#include "graphics/NSColor.hpp"

#include <QApplication>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <iostream>
#include <sys/mman.h>
#include <tbb/parallel_for.h>
#include <unistd.h>

using namespace velmora;

namespace {

constexpr int64_t side = 8000;
constexpr int layerCount = 4;
const std::string nativeType = "com.tovik.velmora-image";

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

std::shared_ptr<NSBitmapImageRep> painting(int seed) {
    return bench::paintedBitmap(side, seed);
}

// The window's drawing controller stands in as a rendered canvas.
struct RenderedProvider : BitmapProvider {
    explicit RenderedProvider(const std::shared_ptr<LayeredCanvas>& canvas) : rendered(canvas) {}
    std::shared_ptr<NSBitmapImageRep> bitmap() override { return rendered.asBitmap(); }
    RenderedCanvas rendered;
};

struct Fixture {
    std::shared_ptr<LayeredCanvas> canvas;
    std::shared_ptr<Document> document;
    std::shared_ptr<RenderedProvider> provider;
    RasterLayer::Patches patches;
    std::filesystem::path folder;
};

Fixture& fixture() {
    static Fixture f = [] {
        Fixture f;
        Layers layers;
        for (int i = 0; i < layerCount; ++i) {
            auto layer = RasterLayer::make("Layer " + std::to_string(i + 1), *painting(i));
            f.patches.insert(f.patches.end(), layer->patches().begin(), layer->patches().end());
            layers.push_back(std::move(layer));
        }
        f.canvas = LayeredCanvas::make({side, side, 1}, layers[0]);
        f.canvas->setImmediateLayers(layers);
        f.document = std::make_shared<Document>();
        f.document->versionStore = nullptr; // the engine keeps none either
        f.document->setContent(Document::Content(f.canvas));
        f.provider = std::make_shared<RenderedProvider>(f.canvas);
        f.document->setBitmapProvider(f.provider);
        f.folder = std::filesystem::temp_directory_path() /
                   ("velmora-document-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(f.folder);
        return f;
    }();
    return f;
}

void forgetCaches() {
    for (const auto& patch : fixture().patches) {
        patch->cachedTiffData.clear();
    }
}

// Runs the document's way and the engine's way once each per iteration, in
// alternating order, and reports both and their ratio.
void compare(benchmark::State& state, const std::function<void()>& prepare,
             const std::function<void()>& document, const std::function<void()>& engine) {
    double documentTotal = 0, engineTotal = 0;
    bool documentFirst = true;
    for (auto _ : state) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool runDocument = (turn == 0) == documentFirst;
            prepare();
            const auto t0 = std::chrono::steady_clock::now();
            (runDocument ? document : engine)();
            (runDocument ? documentTotal : engineTotal) += seconds(t0);
        }
        documentFirst = !documentFirst;
    }
    const double n = double(state.iterations());
    state.SetIterationTime((documentTotal + engineTotal) / n);
    state.counters["document_s"] = documentTotal / n;
    state.counters["engine_s"] = engineTotal / n;
    state.counters["document_per_engine"] = documentTotal / engineTotal;
}

void nativeEngineSave(const std::filesystem::path& path) {
    Fixture& f = fixture();
    const auto bitmap = f.provider->rendered.asBitmap();
    const auto previews = CanvasPreviews::makeStandardPreviews(bitmap);
    CanvasArchive::write(path, *f.canvas, *previews);
}

void BM_NativeSaveAllPatches(benchmark::State& state) {
    Fixture& f = fixture();
    const URL url = URL::fileURL(f.folder / "all.velmora", false);
    compare(
        state, forgetCaches, [&] { f.document->write(url, nativeType); },
        [&] { nativeEngineSave(f.folder / "all-engine.velmora"); });
}

void BM_NativeSaveUnchanged(benchmark::State& state) {
    Fixture& f = fixture();
    const URL url = URL::fileURL(f.folder / "same.velmora", false);
    f.document->write(url, nativeType);
    compare(
        state, [] {}, [&] { f.document->write(url, nativeType); },
        [&] { nativeEngineSave(f.folder / "same-engine.velmora"); });
}

// Paints a 64-pixel square into one layer, a new colour each time, as a small
// stroke would, and marks it for the next flatten.
std::function<void()> smallStroke(Fixture& f, size_t layer, MTLRegion region) {
    MetalHelper& helper = *MetalHelper::shared();
    const auto stroke =
        helper.makeTexture({side, side, 1}, MTLTextureUsage::shaderReadWrite,
                           MTLStorageMode::private_, MTLPixelFormat::rgba32Float, std::nullopt);
    return [&f, &helper, stroke, layer, region, n = 0]() mutable {
        const auto cb = helper.commandQueue()->commandBuffer();
        helper.fill(stroke, *NSColor::colorWithSRGBRed(0.1, 0.2, 0.3 + 0.01 * (n++ % 50), 1),
                    region, cb);
        std::static_pointer_cast<RasterLayer>(f.canvas->immediateLayers()[layer])
            ->paste(stroke, region, cb);
        cb->commit();
        f.provider->rendered.needsUpdate(region);
    };
}

// A small stroke on one layer before each save, as the canvas view leaves it:
// the layer's patch and the rendered canvas dirty in the stroke's square. The
// document's save runs on the calling thread, the main thread of the program.
void BM_NativeSaveAfterSmallStroke(benchmark::State& state) {
    Fixture& f = fixture();
    const URL url = URL::fileURL(f.folder / "stroke.velmora", false);
    f.document->write(url, nativeType);
    nativeEngineSave(f.folder / "stroke-engine.velmora");
    const auto paint = smallStroke(f, 2, {{4000, 4000, 0}, {64, 64, 1}});
    compare(
        state, paint, [&] { f.document->write(url, nativeType); },
        [&] { nativeEngineSave(f.folder / "stroke-engine.velmora"); });
}

// The same small stroke before each save, the save made by the document with
// a version store (the file replaced is kept as a copy, made on a thread of its
// own while the new file is written) against one without.
void BM_NativeSaveKeepingAVersion(benchmark::State& state) {
    Fixture& f = fixture();
    const URL url = URL::fileURL(f.folder / "versioned.velmora", false);
    const URL plain = URL::fileURL(f.folder / "plain.velmora", false);
    const auto store = std::make_shared<VersionStore>(f.folder / "Versions");
    f.document->write(url, nativeType);
    f.document->write(plain, nativeType);
    const auto paint = smallStroke(f, 1, {{2000, 2000, 0}, {64, 64, 1}});
    compare(
        state, paint,
        [&] {
            f.document->versionStore = store;
            f.document->write(url, nativeType);
            f.document->versionStore = nullptr;
        },
        [&] { f.document->write(plain, nativeType); });
    state.SetLabel("document_s keeps a version, engine_s the same save without");
}

std::vector<uint8_t> readWhole(const std::filesystem::path& path) {
    std::vector<uint8_t> bytes(std::filesystem::file_size(path));
    std::FILE* file = std::fopen(path.c_str(), "rb");
    const size_t read = std::fread(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    bytes.resize(read);
    return bytes;
}

// The bytes written to a new file and flushed, as plainly as can be.
void plainWrite(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::abort();
    }
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            std::abort();
        }
        done += std::size_t(n);
    }
    ::fsync(fd);
    ::close(fd);
}

// The program benchmark's document (ten painted 8000 x 8000 layers, 301 MB),
// saved through the document after three small strokes (argument 0) or six
// strokes across the canvas (1) as File > Save saves
// it: the main thread's part (what the file needs, taken while the user
// waits) and the whole save to its file's rename, beside a plain write of the
// file's bytes with its flush in the same iteration.
void BM_SaveInParts(benchmark::State& state) {
    static const auto canvas = bench::paintedDocumentCanvas();
    const auto document = std::make_shared<Document>();
    document->versionStore = nullptr;
    document->setContent(Document::Content(canvas));
    const auto provider = std::make_shared<RenderedProvider>(canvas);
    document->setBitmapProvider(provider);
    const auto folder = fixture().folder;
    const URL url = URL::fileURL(folder / "painted.velmora", false);
    document->write(url, nativeType);
    MetalHelper& helper = *MetalHelper::shared();
    const auto stroke =
        helper.makeTexture({side, side, 1}, MTLTextureUsage::shaderReadWrite,
                           MTLStorageMode::private_, MTLPixelFormat::rgba32Float, std::nullopt);
    int n = 0;
    // Small strokes, or six strokes across the whole canvas of about 140 rows each, as
    // the program's benchmark draws them.
    const bool wide = state.range(0) != 0;
    const std::vector<std::size_t> layers =
        wide ? std::vector<std::size_t>{9, 8, 6, 5, 3, 0} : std::vector<std::size_t>{9, 5, 0};
    const auto paint = [&] {
        const auto cb = helper.commandQueue()->commandBuffer();
        for (std::size_t i = 0; i < layers.size(); ++i) {
            const std::size_t layer = layers[i];
            const MTLRegion region =
                wide
                    ? MTLRegion{{0, 400 + 1250 * int64_t(i) + 7 * (n % 20), 0}, {side, 138, 1}}
                    : MTLRegion{{3000 + 97 * (n % 20), 3500 + 31 * int64_t(layer), 0}, {96, 24, 1}};
            helper.fill(stroke, *NSColor::colorWithSRGBRed(0.1, 0.2, 0.3 + 0.01 * (n % 50), 1),
                        region, cb);
            std::static_pointer_cast<RasterLayer>(canvas->immediateLayers()[layer])
                ->paste(stroke, region, cb);
            provider->rendered.needsUpdate(region);
        }
        cb->commit();
        // Landed before the save begins, as a finished stroke has: its work is not the save's.
        cb->waitUntilCompleted();
        ++n;
    };
    std::vector<double> mains, wholes, plains, wholePerPlain;
    double megabytes = 0;
    // The document's own account of each save's steps.
    const LogCapture log(true);
    for (auto _ : state) {
        paint();
        const auto t0 = std::chrono::steady_clock::now();
        const auto write =
            document->prepareAsynchronousWrite(url, nativeType, NSSaveOperationType::saveOperation);
        const double main = seconds(t0);
        write();
        const double whole = seconds(t0);
        const auto bytes = readWhole(url.filePath());
        const auto t1 = std::chrono::steady_clock::now();
        plainWrite(folder / "plain.bin", bytes);
        const double plain = seconds(t1);
        std::filesystem::remove(folder / "plain.bin");
        state.SetIterationTime(whole);
        mains.push_back(main);
        wholes.push_back(whole);
        plains.push_back(plain);
        wholePerPlain.push_back(whole / plain);
        megabytes = double(bytes.size()) / 1e6;
    }
    // Median, smallest and largest of the iterations.
    const auto report = [&](const std::string& name, std::vector<double> values) {
        std::sort(values.begin(), values.end());
        const std::size_t n = values.size();
        state.counters[name] = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
        state.counters[name + "_min"] = values.front();
        state.counters[name + "_max"] = values.back();
    };
    report("main_s", mains);
    report("whole_s", wholes);
    report("plain_write_s", plains);
    report("whole_per_plain_write", wholePerPlain);
    state.counters["file_MB"] = megabytes;
    // Every save's steps, for where the spread comes from.
    for (const auto& line : log.messages("File Resources")) {
        if (line.starts_with("Wrote ")) {
            std::cout << "steps: " << line << std::endl;
        }
    }
}

void BM_NativeOpen(benchmark::State& state) {
    Fixture& f = fixture();
    const auto path = f.folder / "open.velmora";
    nativeEngineSave(path);
    const URL url = URL::fileURL(path, false);
    compare(
        state, [] {},
        [&] {
            const auto document = std::make_shared<Document>();
            document->read(url, nativeType);
            benchmark::DoNotOptimize(document->layeredCanvas());
        },
        [&] { benchmark::DoNotOptimize(CanvasArchive::readCanvas(readWhole(path))); });
}

// The file's bytes mapped with their pages read ahead, as the open took them
// before it read them whole: another program's change of the file reaches
// such bytes, so the program no longer opens a document so.
SharedBytes mapped(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const auto size = std::filesystem::file_size(path);
    void* address = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    ::close(fd);
    return SharedBytes(std::shared_ptr<void>(address, [size](void* a) { ::munmap(a, size); }),
                       {static_cast<const uint8_t*>(address), size});
}

// The 8000 x 8000 document of ten painted layers (about 300 MB) opened as the
// program opens it, against a plain read of the same file into fresh memory,
// in rotating order in each iteration; beside them the engine's read of the
// canvas from the file's bytes read whole (as the open now takes them) and
// mapped (as it took them before), and those two ways of taking the bytes alone.
// Arg 1: the file's pages are dropped from the page cache before each, as
// after a reboot.
void BM_NativeOpenTenLayers(benchmark::State& state) {
    const bool cold = state.range(0) == 1;
    // Not in the fixture's folder: its four layers are not needed here.
    const auto folder = std::filesystem::temp_directory_path() /
                        ("velmora-document-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const auto path = folder / "ten-layers.velmora";
    if (!std::filesystem::exists(path)) {
        const auto canvas = bench::paintedDocumentCanvas();
        CanvasArchive::write(
            path, *canvas,
            *CanvasPreviews::makeStandardPreviews(RenderedCanvas(canvas).asBitmap()));
    }
    const URL url = URL::fileURL(path, false);
    const std::function<void()> ways[] = {
        [&] {
            const auto document = std::make_shared<Document>();
            document->read(url, nativeType);
            benchmark::DoNotOptimize(document->layeredCanvas());
        },
        [&] { benchmark::DoNotOptimize(readWhole(path)); },
        [&] { benchmark::DoNotOptimize(SharedBytes::readFile(path).data()); },
        [&] { benchmark::DoNotOptimize(mapped(path).data()); },
        [&] { benchmark::DoNotOptimize(CanvasArchive::readCanvas(mapped(path))); },
        [&] { benchmark::DoNotOptimize(CanvasArchive::readCanvas(SharedBytes::readFile(path))); },
    };
    constexpr int count = 6;
    double totals[count] = {};
    int first = 0;
    for (auto _ : state) {
        for (int turn = 0; turn < count; ++turn) {
            const int way = (first + turn) % count;
            if (cold) {
                const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
                ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
                ::close(fd);
            }
            const auto t0 = std::chrono::steady_clock::now();
            ways[way]();
            totals[way] += seconds(t0);
        }
        first = (first + 1) % count;
    }
    const double n = double(state.iterations());
    state.SetIterationTime(totals[0] / n);
    state.counters["open_s"] = totals[0] / n;
    state.counters["plain_read_s"] = totals[1] / n;
    state.counters["open_per_plain_read"] = totals[0] / totals[1];
    state.counters["owned_read_per_plain_read"] = totals[2] / totals[1];
    state.counters["mapping_per_plain_read"] = totals[3] / totals[1];
    // The engine's read of the canvas alone, from the file's bytes read or mapped.
    state.counters["canvas_read_s"] = totals[5] / n;
    state.counters["canvas_mapped_s"] = totals[4] / n;
    state.counters["read_per_mapped"] = totals[5] / totals[4];
    state.counters["MB"] = double(std::filesystem::file_size(path)) / 1e6;
    state.SetLabel(cold ? "cold" : "warm");
}

void flatExport(benchmark::State& state, DocumentFileType type, const char* extension) {
    Fixture& f = fixture();
    const std::string identifier(DocumentFileTypes::identifier(type));
    const URL url = URL::fileURL(f.folder / (std::string("export.") + extension), false);
    const auto engineFile = f.folder / (std::string("export-engine.") + extension);
    compare(
        state, [] {}, [&] { f.document->write(url, identifier); },
        [&] {
            const auto bitmap = f.provider->rendered.asBitmap();
            const auto bytes = ImageCodecs::encode(*bitmap, FlatExport::bitmapFileType(type),
                                                   FlatExport::properties(type));
            writeFileAtomically(engineFile, bytes, 0644);
        });
}

void BM_ExportPNG(benchmark::State& state) {
    flatExport(state, DocumentFileType::png, "png");
}
void BM_ExportTIFF(benchmark::State& state) {
    flatExport(state, DocumentFileType::tiff, "tiff");
}

BENCHMARK(BM_NativeSaveAllPatches)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_NativeSaveUnchanged)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_NativeSaveAfterSmallStroke)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_SaveInParts)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(9);
BENCHMARK(BM_NativeOpen)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_NativeSaveKeepingAVersion)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_NativeOpenTenLayers)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond)
    ->Iterations(1);
BENCHMARK(BM_ExportPNG)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_ExportTIFF)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    // No user files: the preferences and versions stay in memory.
    setenv("VELMORA_TEST", "1", 1);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int result = bench::runBenchmarks(argc, argv);
    std::filesystem::remove_all(std::filesystem::temp_directory_path() /
                                ("velmora-document-bench-" + std::to_string(::getpid())));
    return result;
}
