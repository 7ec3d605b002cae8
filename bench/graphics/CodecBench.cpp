#include "BenchSupport.hpp"
#include "graphics/ColorManagement.hpp"
#include "graphics/ImageCodecs.hpp"
#include "graphics/PixelConversion.hpp"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <cstring>
#include <map>
#include <vector>

using namespace velmora;

namespace {

// Painted content: soft gradients crossed by hard-edged strokes and a
// transparent margin, so compressors see what artists give them.
NSBitmapImageRepRef painting(int64_t side) {
    auto rep = NSBitmapImageRep::makeRGBA8(side, side, ColorManagement::workingNSColorSpace());
    for (int64_t y = 0; y < side; ++y) {
        uint8_t* p = rep->row(y);
        for (int64_t x = 0; x < side; ++x, p += 4) {
            const double u = double(x) / side, v = double(y) / side;
            const bool stroke = std::fabs(std::sin(u * 9 + v * 4) - (v - 0.5) * 2) < 0.04;
            const bool margin = x < side / 16 || y < side / 16;
            p[0] = stroke ? 20 : uint8_t(200 * u + 30);
            p[1] = stroke ? 40 : uint8_t(180 * v + 40);
            p[2] = stroke ? 90 : uint8_t(120 + 60 * std::sin(u * 3));
            p[3] = margin ? 0 : 255;
        }
    }
    return rep;
}

// Single-threaded copy of the same bytes: the codecs run on one core, so their
// ratio to this copy compares across machines.
double copySecondsPerByte(size_t bytes) {
    static std::map<size_t, double> measured;
    if (auto it = measured.find(bytes); it != measured.end()) {
        return it->second;
    }
    std::vector<uint8_t> a(bytes, 1), b(bytes);
    double best = 1e9;
    for (int i = 0; i < 5; ++i) {
        const auto start = std::chrono::steady_clock::now();
        std::memcpy(b.data(), a.data(), bytes);
        benchmark::DoNotOptimize(b.data());
        best = std::min(
            best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return measured[bytes] = best / double(bytes);
}

void report(benchmark::State& state, int64_t side, double seconds) {
    const double bytes = double(side * side * 4);
    const double perIteration = seconds / double(state.iterations());
    state.counters["ns/px"] = perIteration * 1e9 / double(side * side);
    state.counters["x copy"] = perIteration / (copySecondsPerByte(size_t(bytes)) * bytes);
    state.SetBytesProcessed(int64_t(state.iterations() * bytes));
}

ImageEncodingProperties propertiesFor(NSBitmapImageFileType type) {
    ImageEncodingProperties p;
    p.colorSyncProfileData = ColorManagement::workingNSColorSpace()->iccProfileData();
    if (type == NSBitmapImageFileType::tiff) {
        p.compressionMethod = 5;
    }
    if (type == NSBitmapImageFileType::jpeg) {
        p.compressionFactor = 1.0;
    }
    return p;
}

void encode(benchmark::State& state, NSBitmapImageFileType type) {
    const int64_t side = state.range(0);
    const auto picture = painting(side);
    const auto properties = propertiesFor(type);
    double seconds = 0;
    size_t size = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        size = ImageCodecs::encode(*picture, type, properties).size();
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    report(state, side, seconds);
    state.counters["file/raw"] = double(size) / double(side * side * 4);
}

void decode(benchmark::State& state, NSBitmapImageFileType type) {
    const int64_t side = state.range(0);
    const auto file = ImageCodecs::encode(*painting(side), type, propertiesFor(type));
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(ImageCodecs::decode(file));
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    report(state, side, seconds);
}

void BM_EncodeTIFF(benchmark::State& s) {
    encode(s, NSBitmapImageFileType::tiff);
}
void BM_DecodeTIFF(benchmark::State& s) {
    decode(s, NSBitmapImageFileType::tiff);
}
void BM_EncodePNG(benchmark::State& s) {
    encode(s, NSBitmapImageFileType::png);
}
void BM_DecodePNG(benchmark::State& s) {
    decode(s, NSBitmapImageFileType::png);
}
void BM_EncodeJPEG(benchmark::State& s) {
    encode(s, NSBitmapImageFileType::jpeg);
}
void BM_DecodeJPEG(benchmark::State& s) {
    decode(s, NSBitmapImageFileType::jpeg);
}

// Bringing a Display P3 picture into the working space, as an import does.
void BM_ConvertP3ToSRGB(benchmark::State& state) {
    const int64_t side = state.range(0);
    const auto picture = painting(side);
    std::vector<uint8_t> out(size_t(side * side * 4));
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        for (int64_t y = 0; y < side; ++y) {
            convertPixels(CGColorSpace::displayP3().get(), PixelLayout::rgba8, picture->row(y),
                          *CGColorSpace::sRGB(), PixelLayout::rgba8, &out[size_t(y * side * 4)],
                          size_t(side));
        }
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    report(state, side, seconds);
}

} // namespace

// 512 is a layer patch; 4096 a large flattened canvas on export.
BENCHMARK(BM_EncodeTIFF)->Arg(512)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeTIFF)->Arg(512)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodePNG)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodePNG)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeJPEG)->Arg(256)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeJPEG)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertP3ToSRGB)->Arg(4096)->Unit(benchmark::kMillisecond);

VELMORA_BENCH_MAIN()
