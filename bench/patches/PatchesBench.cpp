#include "BenchSupport.hpp"
#include "Canvas/CanvasArchive.hpp"
#include "Canvas/RasterLayer.hpp"
#include "PaintedBitmap.hpp"
#include "Rendering/MetalHelper.hpp"
#include "Rendering/RenderedCanvas.hpp"
#include "coding/SharedBytes.hpp"
#include "graphics/ColorManagement.hpp"
#include "graphics/ImageCodecs.hpp"
#include "graphics/NSColor.hpp"
#include "graphics/TiffBands.hpp"
#include "imaging/CIContext.hpp"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <tbb/global_control.h>
#include <tbb/parallel_for.h>
#include <tiffio.h>
#include <unistd.h>

using namespace velmora;

namespace {

constexpr int64_t side = 8000;
constexpr int layerCount = 4;

// CPU seconds of the whole process, all threads.
double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// CPU seconds of the calling thread: what one thread's work costs, whatever
// else the machine runs meanwhile.
double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

std::shared_ptr<NSBitmapImageRep> painting(int seed) {
    return bench::paintedBitmap(side, seed);
}

struct Fixture {
    std::shared_ptr<LayeredCanvas> canvas;
    std::shared_ptr<CanvasPreviews> previews;
    RasterLayer::Patches patches;
    double oneEncode = 0; // seconds of one LZW TIFF encode of one layer (its strips in parallel)
    uint64_t layerBytes = 0;
};

Fixture& fixture() {
    static Fixture f = [] {
        Fixture f;
        Layers layers;
        for (int i = 0; i < layerCount; ++i) {
            const auto bitmap = painting(i);
            if (i == 0) {
                // The reference: what one layer costs to encode alone.
                ImageEncodingProperties properties;
                properties.compressionMethod = 5;
                properties.colorSyncProfileData = ColorManagement::workingColorSpace()->iccData();
                double best = 1e30;
                for (int r = 0; r < 2; ++r) {
                    const auto t0 = std::chrono::steady_clock::now();
                    const auto tiff =
                        ImageCodecs::encode(*bitmap, NSBitmapImageFileType::tiff, properties);
                    best = std::min(best, seconds(t0));
                    f.layerBytes = tiff.size();
                }
                f.oneEncode = best;
                f.previews = CanvasPreviews::makeStandardPreviews(bitmap);
            }
            auto layer = RasterLayer::make("Layer " + std::to_string(i + 1), *bitmap);
            f.patches.push_back(layer->patches()[0]);
            layers.push_back(std::move(layer));
        }
        f.canvas = LayeredCanvas::make({side, side, 1}, layers[0]);
        f.canvas->setImmediateLayers(layers);
        return f;
    }();
    return f;
}

std::filesystem::path documentPath() {
    return std::filesystem::temp_directory_path() /
           ("velmora-bench-" + std::to_string(::getpid()) + ".velmora");
}

void report(benchmark::State& state, double perIteration, uint64_t bytes) {
    const Fixture& f = fixture();
    state.counters["s"] = perIteration;
    state.counters["MB/s"] = double(bytes) / 1e6 / perIteration;
    // Above 1: faster than one single-threaded encode of one layer.
    state.counters["x_one_encode"] = f.oneEncode / perIteration;
    state.counters["one_encode_s"] = f.oneEncode;
}

void forgetCaches() {
    for (const auto& patch : fixture().patches) {
        patch->cachedTiffData.clear();
    }
}

// Every patch rendered again: the first save of a painted canvas.
void BM_SaveAllPatches(benchmark::State& state) {
    Fixture& f = fixture();
    double total = 0;
    for (auto _ : state) {
        forgetCaches();
        const auto t0 = std::chrono::steady_clock::now();
        CanvasArchive::write(documentPath(), *f.canvas, *f.previews);
        total += seconds(t0);
    }
    report(state, total / double(state.iterations()), std::filesystem::file_size(documentPath()));
}

// The same save on one thread, measured right after the parallel one in each
// repetition: the ratio is what the parallel work gains under the same load.
void BM_SaveAllPatchesParallelVsOneThread(benchmark::State& state) {
    Fixture& f = fixture();
    double parallel = 0, sequential = 0, parallelCpu = 0;
    for (auto _ : state) {
        forgetCaches();
        const double cpu0 = processCpuSeconds();
        auto t0 = std::chrono::steady_clock::now();
        CanvasArchive::write(documentPath(), *f.canvas, *f.previews);
        parallel += seconds(t0);
        parallelCpu += processCpuSeconds() - cpu0;
        forgetCaches();
        {
            const tbb::global_control one(tbb::global_control::max_allowed_parallelism, 1);
            t0 = std::chrono::steady_clock::now();
            CanvasArchive::write(documentPath(), *f.canvas, *f.previews);
            sequential += seconds(t0);
        }
    }
    report(state, parallel / double(state.iterations()),
           std::filesystem::file_size(documentPath()));
    state.counters["one_thread_s"] = sequential / double(state.iterations());
    state.counters["x_one_thread"] = sequential / parallel;
    // Threads busy on average during the parallel save: on a loaded machine
    // this, not x_one_thread, shows whether the save still runs in parallel.
    state.counters["busy_threads"] = parallelCpu / parallel;
}

// A plain write of `bytes` to a new file beside the document, flushed to the
// disk: the reference for saving it, measured in the same run.
double plainWrite(const std::vector<char>& bytes) {
    const auto path = documentPath().string() + ".reference";
    const auto t0 = std::chrono::steady_clock::now();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    for (size_t done = 0; fd >= 0 && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            break;
        }
        done += size_t(n);
    }
    ::fsync(fd);
    ::close(fd);
    const double took = seconds(t0);
    std::filesystem::remove(path);
    return took;
}

// A small stroke on one layer, then a save: only that layer's patch is
// rendered, the others are checked and written as they were read. Each
// step's seconds are given beside the whole, and a plain write of as many
// bytes with its flush.
void BM_SaveAfterSmallStroke(benchmark::State& state) {
    Fixture& f = fixture();
    CanvasArchive::write(documentPath(), *f.canvas, *f.previews);
    const auto stroke = MetalHelper::shared()->makeTexture(
        {side, side, 1}, MTLTextureUsage::shaderReadWrite, MTLStorageMode::private_,
        MTLPixelFormat::rgba32Float, std::nullopt);
    const std::vector<char> same(std::filesystem::file_size(documentPath()), 'x');
    double total = 0, patches = 0, previews = 0, file = 0, reference = 0;
    int64_t n = 0;
    for (auto _ : state) {
        reference += plainWrite(same);
        const auto cb = MetalHelper::shared()->commandQueue()->commandBuffer();
        MetalHelper::shared()->fill(
            stroke, *NSColor::colorWithSRGBRed(0.1, 0.2, 0.3 + 0.01 * double(n++ % 50), 1),
            {{4000, 4000, 0}, {64, 64, 1}}, cb);
        std::static_pointer_cast<RasterLayer>(f.canvas->immediateLayers()[2])
            ->paste(stroke, {{4000, 4000, 0}, {64, 64, 1}}, cb);
        cb->commit();
        const auto t0 = std::chrono::steady_clock::now();
        CanvasArchive::WriteSteps steps;
        CanvasArchive::write(documentPath(), *f.canvas, *f.previews, &steps);
        total += seconds(t0);
        patches += steps.patches;
        previews += steps.previews;
        file += steps.file;
    }
    const double count = double(state.iterations());
    report(state, total / count, std::filesystem::file_size(documentPath()));
    state.counters["patches_s"] = patches / count;
    state.counters["jpeg_wait_s"] = previews / count;
    state.counters["file_s"] = file / count;
    state.counters["write_ref_s"] = reference / count;
    state.counters["x_write_ref"] = total / reference;
}

// Nothing changed since the last save: checks and bytes only.
void BM_SaveUnchanged(benchmark::State& state) {
    Fixture& f = fixture();
    CanvasArchive::write(documentPath(), *f.canvas, *f.previews);
    double total = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        CanvasArchive::write(documentPath(), *f.canvas, *f.previews);
        total += seconds(t0);
    }
    report(state, total / double(state.iterations()), std::filesystem::file_size(documentPath()));
}

// The part of an unchanged save that checks the patches.
void BM_CheckUnchangedPatches(benchmark::State& state) {
    Fixture& f = fixture();
    RasterLayer::Patch::refreshCaches(f.patches);
    double total = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        RasterLayer::Patch::refreshCaches(f.patches);
        total += seconds(t0);
    }
    report(state, total / double(state.iterations()), uint64_t(layerCount) * side * side * 4);
}

// The part of every save that stores the previews as JPEG.
void BM_EncodePreviews(benchmark::State& state) {
    Fixture& f = fixture();
    double total = 0;
    uint64_t bytes = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        const CodedValue tree = ValueEncoder().encode(*f.previews);
        total += seconds(t0);
        bytes = 0;
        for (const auto& jpeg : *tree.dictionary()->find("previews")->array()) {
            bytes += jpeg.bytes().size();
        }
    }
    report(state, total / double(state.iterations()), bytes);
}

// A save's flattened canvas once the rendered canvas is up to date: the
// texture's rows copied, beside the image graph's render of the same texture
// (what every save paid before) in the same repetition.
void BM_FlattenUpToDate(benchmark::State& state) {
    Fixture& f = fixture();
    static RenderedCanvas rendered(f.canvas);
    rendered.asBitmap();
    double total = 0, graph = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(rendered.asBitmap());
        total += seconds(t0);
        t0 = std::chrono::steady_clock::now();
        CIImageOptions options;
        options.colorSpace = ColorManagement::workingColorSpace();
        const auto image = CIImage::withTexture(rendered.texture(), options);
        benchmark::DoNotOptimize(
            CIContext().createBitmap(image->premultiplyingAlpha(), image->extent()));
        graph += seconds(t0);
    }
    const double count = double(state.iterations());
    report(state, total / count, uint64_t(side) * side * 4);
    state.counters["graph_s"] = graph / count;
    state.counters["x_graph"] = total / graph;
}

// The previews a save makes of the flattened canvas: scaled, not yet encoded.
void BM_MakePreviews(benchmark::State& state) {
    static const auto flat = painting(7);
    double total = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(CanvasPreviews::makeStandardPreviews(flat));
        total += seconds(t0);
    }
    report(state, total / double(state.iterations()), uint64_t(side) * side * 4);
}

// One thread encoding the same rows into LZW strips with the predictor, as a
// patch's TIFF holds them: our encoder beside libtiff's, in turn in each
// repetition. MB/s are of pixels taken in.
void BM_EncodeStripsOneThread(benchmark::State& state) {
    constexpr uint32_t rows = 1000;
    // Painted once: the workers that paint it spin for a while after.
    static const auto bitmap = painting(0);
    const uint32_t width = uint32_t(side);
    const size_t bytes = size_t(rows) * width * 4;
    const auto path = std::filesystem::temp_directory_path() /
                      ("velmora-bench-" + std::to_string(::getpid()) + ".tiff");
    double ours = 0, theirs = 0, oursCpu = 0, theirsCpu = 0;
    uint64_t ourSize = 0, theirSize = 0;
    for (auto _ : state) {
        // In bands of a quarter MiB, as a save makes them.
        auto t0 = std::chrono::steady_clock::now();
        double cpu0 = threadCpuSeconds();
        ourSize = 0;
        for (uint32_t first = 0; first < rows; first += 8) {
            const auto band = codec::encodeLzwBand(
                width, true, first, first + 8, 1, [&](uint32_t y0, uint32_t y1, uint8_t* rgba) {
                    for (uint32_t y = y0; y < y1; ++y) {
                        std::memcpy(rgba + size_t(y - y0) * width * 4, bitmap->row(y),
                                    size_t(width) * 4);
                    }
                });
            ourSize += band.bytes.size();
        }
        ours += seconds(t0);
        oursCpu += threadCpuSeconds() - cpu0;

        TIFF* tif = TIFFOpen(path.c_str(), "w");
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, rows);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 4);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 1);
        std::vector<uint8_t> row(size_t(width) * 4);
        t0 = std::chrono::steady_clock::now();
        cpu0 = threadCpuSeconds();
        for (uint32_t y = 0; y < rows; ++y) {
            std::memcpy(row.data(), bitmap->row(y), row.size()); // its predictor works in place
            TIFFWriteScanline(tif, row.data(), y, 0);
        }
        TIFFFlushData(tif);
        theirs += seconds(t0);
        theirsCpu += threadCpuSeconds() - cpu0;
        theirSize = 0;
        for (uint32_t s = 0; s < TIFFNumberOfStrips(tif); ++s) {
            theirSize += TIFFGetStrileByteCount(tif, s);
        }
        TIFFClose(tif);
    }
    std::filesystem::remove(path);
    const double n = double(state.iterations());
    state.counters["ours_MB/s"] = double(bytes) / 1e6 / (ours / n);
    state.counters["libtiff_MB/s"] = double(bytes) / 1e6 / (theirs / n);
    state.counters["x_libtiff"] = theirs / ours;
    // The same in CPU time of the thread, steadier on a busy machine.
    state.counters["ours_cpu_MB/s"] = double(bytes) / 1e6 / (oursCpu / n);
    state.counters["libtiff_cpu_MB/s"] = double(bytes) / 1e6 / (theirsCpu / n);
    state.counters["x_libtiff_cpu"] = theirsCpu / oursCpu;
    // Above 1: our strips are larger than libtiff's.
    state.counters["size_vs_libtiff"] = double(ourSize) / double(theirSize);
}

// A plain read of the whole file into fresh memory, as a reader that copies
// it would: the reference for reading the document, measured in the same run.
double plainRead(const std::filesystem::path& path) {
    const auto t0 = std::chrono::steady_clock::now();
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes(std::filesystem::file_size(path));
    in.read(bytes.data(), std::streamsize(bytes.size()));
    benchmark::DoNotOptimize(bytes.data());
    return seconds(t0);
}

// Reading the saved document from its file read whole: the patches' pixels are
// decoded in parallel straight into their textures; the canvas is ready to
// draw when the call returns. Each step's seconds are given beside the whole.
void BM_Load(benchmark::State& state) {
    Fixture& f = fixture();
    CanvasArchive::write(documentPath(), *f.canvas, *f.previews);
    double total = 0, reading = 0, archive = 0, layers = 0, pixels = 0, reference = 0, cpu = 0;
    uint64_t size = 0;
    for (auto _ : state) {
        reference += plainRead(documentPath());
        const double cpu0 = processCpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        const SharedBytes bytes = SharedBytes::readFile(documentPath());
        reading += seconds(t0);
        CanvasArchive::ReadSteps steps;
        auto canvas = CanvasArchive::readCanvas(bytes, &steps);
        total += seconds(t0);
        cpu += processCpuSeconds() - cpu0;
        archive += steps.archive;
        layers += steps.layers;
        pixels += steps.pixels;
        size = bytes.size();
        benchmark::DoNotOptimize(canvas);
    }
    const double n = double(state.iterations());
    report(state, total / n, size);
    state.counters["file_s"] = reading / n;
    state.counters["archive_s"] = archive / n;
    state.counters["layers_s"] = layers / n;
    state.counters["pixels_s"] = pixels / n;
    state.counters["read_ref_s"] = reference / n;
    state.counters["x_read_ref"] = total / reference;
    // Threads busy on average: whether the decode still runs on every core.
    state.counters["busy_threads"] = cpu / total;
}

} // namespace

BENCHMARK(BM_SaveAllPatches)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_SaveAllPatchesParallelVsOneThread)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();
BENCHMARK(BM_SaveAfterSmallStroke)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_SaveUnchanged)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_CheckUnchangedPatches)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_EncodePreviews)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_FlattenUpToDate)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_MakePreviews)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_EncodeStripsOneThread)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

int main(int argc, char** argv) {
    const int status = bench::runBenchmarks(argc, argv);
    std::filesystem::remove(documentPath());
    return status;
}
