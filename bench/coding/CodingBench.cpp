#include "BenchSupport.hpp"
#include "coding/Coding.hpp"
#include "coding/JSONDecoder.hpp"
#include "coding/JSONEncoder.hpp"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstring>
#include <functional>
#include <nlohmann/json.hpp>

using namespace velmora;

namespace {

double seconds(const std::function<void()>& work, int repeats) {
    return velmora::bench::bestSeconds(work, repeats);
}

// A document at artist scale: 40 layers of 8000 x 8000 split into 512 x 512
// patches (256 per layer) of 96 KiB compressed pixels each, about 960 MiB.
constexpr int layerCount = 40;
constexpr int patchesPerLayer = 256;
constexpr std::size_t patchBytes = 96 * 1024;

struct Patch {
    std::vector<std::uint8_t> texture;
    std::int64_t x = 0, y = 0;
    std::string name;

    void encode(Encoder& encoder) const {
        auto c = encoder.container();
        c.encode(texture, "texture");
        auto origin = c.nestedContainer("origin");
        origin.encode(x, "x");
        origin.encode(y, "y");
        origin.encode(std::int64_t(0), "z");
        c.encode(name, "name");
    }
    static Patch decode(Decoder& decoder) {
        const auto c = decoder.container();
        Patch p;
        p.texture = c.decode<std::vector<std::uint8_t>>("texture");
        const auto origin = c.nestedContainer("origin");
        p.x = origin.decode<std::int64_t>("x");
        p.y = origin.decode<std::int64_t>("y");
        p.name = c.decode<std::string>("name");
        return p;
    }
};

struct Layer {
    std::string name;
    float opacity = 1;
    std::vector<Patch> patches;

    void encode(Encoder& encoder) const {
        auto c = encoder.container();
        c.encode("RasterLayer", "type");
        auto base = c.superEncoder().container();
        base.encode(name, "name");
        base.encode(opacity, "opacity");
        c.encode(patches, "patches");
    }
    static Layer decode(Decoder& decoder) {
        const auto c = decoder.container();
        const auto base = c.superDecoder().container();
        return {base.decode<std::string>("name"), base.decode<float>("opacity"),
                c.decode<std::vector<Patch>>("patches")};
    }
};

const std::vector<Layer>& document() {
    static const std::vector<Layer> layers = [] {
        std::vector<Layer> out(layerCount);
        for (int l = 0; l < layerCount; ++l) {
            out[l].name = "Layer " + std::to_string(l);
            for (int p = 0; p < patchesPerLayer; ++p) {
                Patch patch;
                patch.texture.assign(patchBytes, std::uint8_t(l + p));
                patch.x = (p % 16) * 512;
                patch.y = (p / 16) * 512;
                patch.name = out[l].name + " patch " + std::to_string(p);
                out[l].patches.push_back(std::move(patch));
            }
        }
        return out;
    }();
    return layers;
}

constexpr double documentBytes = double(layerCount) * patchesPerLayer * patchBytes;

// One thread copying every patch once into a new buffer: the least that
// putting the bytes into a tree, or taking them out, can cost (fresh memory
// has to be faulted in either way).
double copySeconds() {
    static const double t = [] {
        const auto& layers = document();
        return seconds(
            [&] {
                std::vector<std::vector<std::uint8_t>> copies;
                copies.reserve(std::size_t(layerCount) * patchesPerLayer);
                for (const Layer& layer : layers) {
                    for (const Patch& patch : layer.patches) {
                        copies.emplace_back(patch.texture);
                    }
                }
                benchmark::DoNotOptimize(copies);
            },
            3);
    }();
    return t;
}

void BM_EncodeDocumentTree(benchmark::State& state) {
    const auto& layers = document();
    double best = 1e30;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        CodedValue tree = ValueEncoder{}.encode(layers);
        const auto t1 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(tree);
        best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
    }
    state.counters["GiB_per_s"] = documentBytes / best / double(1 << 30);
    state.counters["x_copy_time"] = best / copySeconds();
}

void BM_DecodeDocumentTree(benchmark::State& state) {
    const CodedValue tree = ValueEncoder{}.encode(document());
    double best = 1e30;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        auto layers = ValueDecoder{}.decode<std::vector<Layer>>(tree);
        const auto t1 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(layers);
        best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
    }
    state.counters["GiB_per_s"] = documentBytes / best / double(1 << 30);
    state.counters["x_copy_time"] = best / copySeconds();
}

// Many small keyed records, like a brush library.
struct Brush {
    std::string uuid, name;
    float size, hardness, opacity, spacing, sizeMinRatio, opacityMinRatio;
    bool sizeDependsOnPressure, opacityDependsOnPressure;
    std::uint64_t stabilization;

    void encode(Encoder& encoder) const {
        auto c = encoder.container();
        c.encode(uuid, "uuid");
        c.encode(name, "name");
        c.encode(size, "size");
        c.encode(hardness, "hardness");
        c.encode(opacity, "opacity");
        c.encode(spacing, "spacing");
        c.encode(sizeDependsOnPressure, "sizeDependsOnPressure");
        c.encode(opacityDependsOnPressure, "opacityDependsOnPressure");
        c.encode(sizeMinRatio, "sizeMinRatio");
        c.encode(opacityMinRatio, "opacityMinRatio");
        c.encode(stabilization, "stabilization");
    }
    static Brush decode(Decoder& decoder) {
        const auto c = decoder.container();
        return {c.decode<std::string>("uuid"),
                c.decode<std::string>("name"),
                c.decode<float>("size"),
                c.decode<float>("hardness"),
                c.decode<float>("opacity"),
                c.decode<float>("spacing"),
                c.decode<float>("sizeMinRatio"),
                c.decode<float>("opacityMinRatio"),
                c.decode<bool>("sizeDependsOnPressure"),
                c.decode<bool>("opacityDependsOnPressure"),
                c.decode<std::uint64_t>("stabilization")};
    }
};

std::vector<Brush> brushes() {
    std::vector<Brush> out;
    for (int i = 0; i < 10000; ++i) {
        const float f = float(i) * 0.37f;
        out.push_back({"8C1C1D1A-6F0B-4B8E-9E0B-" + std::to_string(100000000000 + i),
                       "Brush " + std::to_string(i), f, 0.5f, 0.8f, 0.1f, 0.2f, 0.3f, true, false,
                       std::uint64_t(i % 100)});
    }
    return out;
}

// Reference: nlohmann-json writing and parsing the same text on its own.
void BM_BrushesJSONRoundTrip(benchmark::State& state) {
    const std::vector<Brush> list = brushes();
    const std::string text = JSONEncoder{}.encode(list);
    const double reference = seconds(
        [&] {
            auto parsed = nlohmann::json::parse(text);
            std::string again = parsed.dump();
            benchmark::DoNotOptimize(again);
        },
        5);
    double best = 1e30;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        auto back = JSONDecoder{}.decode<std::vector<Brush>>(JSONEncoder{}.encode(list));
        const auto t1 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(back);
        best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
    }
    state.counters["brushes_per_s"] = double(list.size()) / best;
    state.counters["x_nlohmann_parse_dump"] = best / reference;
}

} // namespace

BENCHMARK(BM_EncodeDocumentTree)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeDocumentTree)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BrushesJSONRoundTrip)->Iterations(10)->Unit(benchmark::kMillisecond);
VELMORA_BENCH_MAIN()
