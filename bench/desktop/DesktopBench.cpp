// Showing a 4K frame in the canvas view's window: from the moment the GPU hands
// the presented drawable to the host until the widget has painted it, against a
// plain copy of the drawable's bytes measured in the same run.
#include "BenchSupport.hpp"
#include "desktop/MTKViewHostWidget.hpp"
#include "gpu/CAMetalDrawable.hpp"
#include "gpu/MTKViewHost.hpp"
#include "gpu/MTLDevice.hpp"

#include <QApplication>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstring>
#include <set>
#include <vector>

using namespace velmora;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int width = 3840;
constexpr int height = 2160;
constexpr size_t frameBytes = size_t(width) * height * 4;

// Presents a drawable painted with a picture once per ring slot.
class FrameDelegate : public MTKViewDelegate {
public:
    void mtkView(MTKView&, CGSize) override {}
    void draw(MTKView& view) override {
        const auto drawable = view.currentDrawable();
        if (drawable == nullptr) {
            return;
        }
        const auto& t = drawable->texture();
        if (filled.insert(t.get()).second) {
            std::vector<uint8_t> bytes(frameBytes);
            for (size_t i = 0; i < bytes.size(); ++i) {
                bytes[i] = uint8_t(i * 7 + i / 4096);
            }
            t->replaceRegion(MTLRegionMake2D(0, 0, width, height), 0, bytes.data(), width * 4);
        }
        drawable->present();
    }
    std::set<const MTLTexture*> filled;
};

// Notes when each drawable is handed over, then passes it to the widget's host.
class TimingHost : public MTKViewHost {
public:
    explicit TimingHost(std::shared_ptr<MTKViewHost> inner) : inner_(std::move(inner)) {}
    void displayDrawable(std::shared_ptr<CAMetalDrawable> drawable) override {
        handedOver = Clock::now().time_since_epoch().count();
        inner_->displayDrawable(std::move(drawable));
    }
    std::atomic<Clock::rep> handedOver{0};

private:
    std::shared_ptr<MTKViewHost> inner_;
};

double copySeconds() {
    static std::vector<uint8_t> src(frameBytes, 3), dst(frameBytes, 0);
    return bench::bestSeconds([] { std::memcpy(dst.data(), src.data(), frameBytes); }, 10);
}

void BM_ShowDrawable4K(benchmark::State& state) {
    auto device = MTLCreateSystemDefaultDevice();
    auto delegate = std::make_shared<FrameDelegate>();
    auto view = MTKView::make(device);
    view->setPaused(true);
    view->setDelegate(delegate);
    MTKViewHostWidget widget(view);
    widget.resize(width, height);
    widget.show();
    auto timing = std::make_shared<TimingHost>(view->host());
    view->setHost(timing);
    Clock::time_point painted;
    uint64_t paintedID = 0;
    widget.setFramePaintedHook([&](uint64_t id, Clock::time_point at) {
        paintedID = id;
        painted = at;
    });
    if (view->drawableSize() != CGSize{width, height}) {
        state.SkipWithError("the widget's backing scale is not 1");
        return;
    }
    // Warm up the ring and the backing store.
    for (int i = 0; i < 4; ++i) {
        view->draw();
        QApplication::processEvents();
    }
    const double reference = copySeconds();
    double total = 0;
    for (auto _ : state) {
        const uint64_t before = paintedID;
        view->draw();
        while (paintedID == before) {
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        const auto handedOver = Clock::time_point(Clock::duration(timing->handedOver.load()));
        const double seconds = std::chrono::duration<double>(painted - handedOver).count();
        state.SetIterationTime(seconds);
        total += seconds;
    }
    const double perFrame = total / double(state.iterations());
    state.counters["copy_ms"] = reference * 1e3;
    state.counters["ratio_to_copy"] = perFrame / reference;
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(frameBytes));
}
BENCHMARK(BM_ShowDrawable4K)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);

} // namespace

int main(int argc, char** argv) {
    // The benchmark measures our painting, not a display server's.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qunsetenv("QT_SCALE_FACTOR");
    QApplication app(argc, argv);
    return bench::runBenchmarks(argc, argv);
}
