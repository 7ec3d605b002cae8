// Opening the versions browser on 200 versions: the main thread's time from
// the command (listing the document's versions in the store) to a window on
// screen with every row listed, against opening a plain window of the same
// size in the same run. Thumbnails (a 1600 x 1200 PNG
// decoded and scaled for each version) arrive later from their own queue; the
// time until the last one is shown is given too.

#include "BenchSupport.hpp"
#include "desktop/NSWindow.hpp"
#include "desktop/VersionStore.hpp"
#include "desktop/VersionsBrowser.hpp"
#include "foundation/MainQueue.hpp"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <benchmark/benchmark.h>
#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <unistd.h>

using namespace velmora;
namespace fs = std::filesystem;

namespace {

constexpr int versionCount = 200;

double since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

fs::path scratch() {
    static const fs::path path =
        fs::temp_directory_path() / ("velmora-bench-browser-" + std::to_string(::getpid()));
    return path;
}

const fs::path& picture() {
    static const fs::path path = [] {
        fs::create_directories(scratch());
        const fs::path file = scratch() / "picture.png";
        QImage image(1600, 1200, QImage::Format_RGBA8888);
        for (int y = 0; y < image.height(); ++y) {
            auto* row = image.scanLine(y);
            for (int x = 0; x < image.width() * 4; ++x) {
                row[x] = uint8_t((x * 7 + y * 13) ^ (x >> 3));
            }
        }
        if (!image.save(QString::fromStdString(file.string()), "PNG")) {
            throw std::runtime_error("cannot write the picture");
        }
        return file;
    }();
    return path;
}

// A document saved 201 times, each state a PNG of its own: 200 versions.
URL savedDocument(VersionStore& store) {
    const URL url = URL::fileURL(scratch() / "Run" / "Document.png", false);
    auto bytes = [] {
        QFile file(QString::fromStdString(picture().string()));
        file.open(QIODevice::ReadOnly);
        const QByteArray data = file.readAll();
        return std::vector<std::uint8_t>(data.begin(), data.end());
    }();
    for (int i = 0; i <= versionCount; ++i) {
        bytes.push_back(uint8_t(i)); // a trailing byte makes each state differ
        store.replaceFile(url, bytes);
    }
    return url;
}

void BM_OpenVersionsBrowser200(benchmark::State& state) {
    // Each repetition saves its document anew.
    std::error_code ignored;
    fs::remove_all(scratch() / "Run", ignored);
    fs::create_directories(scratch() / "Run");
    VersionStore store(scratch() / "Run" / "Versions");
    const URL url = savedDocument(store);
    if (store.versions(url).size() != versionCount) {
        state.SkipWithError("the store did not keep every version");
        return;
    }
    double open = 0, plain = 0, thumbnails = 0;
    for (auto _ : state) {
        const auto document = std::make_shared<NSWindow>(CGRect{{0, 0}, {1024, 768}});
        document->makeKeyAndOrderFront();

        // The reference: a plain window of the browser's size on screen.
        auto t0 = std::chrono::steady_clock::now();
        auto window = std::make_shared<NSWindow>(CGRect{{0, 0}, {280, 600}});
        window->makeKeyAndOrderFront();
        plain += since(t0);
        window->close();

        t0 = std::chrono::steady_clock::now();
        const auto browser = VersionsBrowser::open(
            document, store.versions(url),
            [](const DocumentVersion& v) {
                return QImage(QString::fromStdString(v.url.filePath().string()));
            },
            {});
        const double opened = since(t0);
        open += opened;
        state.SetIterationTime(opened);
        if (browser->thumbnailsDone() != 0 || !browser->window()->isVisible()) {
            state.SkipWithError("the window waited for thumbnails");
            break;
        }
        MainQueue::runUntil([&] { return browser->thumbnailsDone() == versionCount; },
                            std::chrono::minutes(5));
        thumbnails += since(t0);
        browser->close();
        document->close();
        MainQueue::runUntilIdle();
    }
    const double n = double(state.iterations());
    state.counters["open_ms"] = 1e3 * open / n;
    state.counters["plain_window_ms"] = 1e3 * plain / n;
    state.counters["open_per_plain_window"] = open / plain;
    state.counters["all_thumbnails_ms"] = 1e3 * thumbnails / n;
}
BENCHMARK(BM_OpenVersionsBrowser200)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    // The main thread's own work, not a display server's.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qunsetenv("QT_SCALE_FACTOR");
    QApplication app(argc, argv);
    const int status = bench::runBenchmarks(argc, argv);
    std::error_code ignored;
    fs::remove_all(scratch(), ignored);
    return status;
}
