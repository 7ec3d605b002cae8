// The welcome window's thumbnail of an 8000 x 8000 native document of four
// painted layers against opening that document's canvas, in the same
// iteration: the ratio is what a recent document's row costs next to opening it.
// The row's icon is 48 points, at a backing scale of 1 and of 2.

#include "BenchSupport.hpp"
#include "Canvas/CanvasArchive.hpp"
#include "Canvas/RasterLayer.hpp"
#include "PaintedBitmap.hpp"
#include "Rendering/RenderedCanvas.hpp"
#include "Welcome/RecentDocumentThumbnail.hpp"
#include "graphics/ColorManagement.hpp"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <tbb/parallel_for.h>
#include <unistd.h>

using namespace velmora;

namespace {

constexpr int64_t side = 8000;
constexpr int layerCount = 4;

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

std::shared_ptr<NSBitmapImageRep> painting(int seed) {
    return bench::paintedBitmap(side, seed);
}

std::filesystem::path folder() {
    return std::filesystem::temp_directory_path() /
           ("velmora-welcome-bench-" + std::to_string(::getpid()));
}

const std::filesystem::path& document() {
    static const std::filesystem::path path = [] {
        Layers layers;
        for (int i = 0; i < layerCount; ++i) {
            layers.push_back(RasterLayer::make("Layer " + std::to_string(i + 1), *painting(i)));
        }
        const auto canvas = LayeredCanvas::make({side, side, 1}, layers[0]);
        canvas->setImmediateLayers(layers);
        std::filesystem::create_directories(folder());
        const auto file = folder() / "painting.velmora";
        RenderedCanvas rendered(canvas);
        CanvasArchive::write(file, *canvas,
                             *CanvasPreviews::makeStandardPreviews(rendered.asBitmap()));
        return file;
    }();
    return path;
}

void BM_ThumbnailAgainstOpening(benchmark::State& state) {
    const auto& path = document();
    const QSize thumbnailPixels(int(state.range(0)), int(state.range(0)));
    double thumbnailTotal = 0, openTotal = 0;
    bool thumbnailFirst = true;
    for (auto _ : state) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool thumbnail = (turn == 0) == thumbnailFirst;
            const auto t0 = std::chrono::steady_clock::now();
            if (thumbnail) {
                const QImage image = RecentDocumentThumbnail::make(path, thumbnailPixels);
                if (image.isNull()) {
                    state.SkipWithError("no thumbnail");
                    return;
                }
                benchmark::DoNotOptimize(image.constBits());
                thumbnailTotal += seconds(t0);
            } else {
                benchmark::DoNotOptimize(CanvasArchive::readCanvas(SharedBytes::readFile(path)));
                openTotal += seconds(t0);
            }
        }
        thumbnailFirst = !thumbnailFirst;
    }
    const double n = double(state.iterations());
    state.SetIterationTime((thumbnailTotal + openTotal) / n);
    state.counters["thumbnail_s"] = thumbnailTotal / n;
    state.counters["open_s"] = openTotal / n;
    state.counters["thumbnail_per_open"] = thumbnailTotal / openTotal;
}

BENCHMARK(BM_ThumbnailAgainstOpening)
    ->Arg(48)
    ->Arg(96)
    ->UseManualTime()
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    setenv("VELMORA_TEST", "1", 1);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int result = bench::runBenchmarks(argc, argv);
    std::filesystem::remove_all(folder());
    return result;
}
