#include "BenchSupport.hpp"
#include "RawInputStabilizer/SmoothedStroke.hpp"
#include "ReferenceStabilizer.hpp"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <vector>

using namespace velmora;

namespace {

constexpr size_t kSamples = 2400; // ten seconds of a 240 Hz stylus

// A pen stroke as a tablet reports it: a looping handwriting-like path whose
// speed varies, a pressure that builds up, wavers and falls off at the end, and
// positions quantised to the tablet's hundredth of a pixel.
const std::vector<RawPoint>& recordedStroke() {
    static const std::vector<RawPoint> stroke = [] {
        std::vector<RawPoint> points;
        for (size_t i = 0; i < kSamples; ++i) {
            const double t = double(i) / 240.0;
            const double x = 400 + 60 * t + 45 * std::sin(2 * M_PI * 1.3 * t) +
                             12 * std::sin(2 * M_PI * 4.1 * t);
            const double y =
                300 + 80 * std::sin(2 * M_PI * 0.7 * t) + 30 * std::cos(2 * M_PI * 2.9 * t + 0.4);
            const double envelope = std::fmin(1.0, t * 4) * std::fmin(1.0, (10 - t) * 3);
            const double pressure = envelope * (0.55 + 0.25 * std::sin(2 * M_PI * 0.45 * t) +
                                                0.05 * std::sin(2 * M_PI * 7 * t));
            points.push_back({{std::round(x * 100) / 100, std::round(y * 100) / 100},
                              std::round(pressure * 1024) / 1024});
        }
        return points;
    }();
    return stroke;
}

double median(std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + long(v.size() / 2), v.end());
    return v[v.size() / 2];
}

// The whole stroke, every append timed on its own: the mean cost per sample,
// and the typical cost of sample 100 and of sample 2400, whose ratio stays near
// 1 when the work per sample does not grow with the stroke.
template <class Stabilizer, class Make> void stabilizeStroke(benchmark::State& state, Make make) {
    using Clock = std::chrono::steady_clock;
    const std::vector<RawPoint>& input = recordedStroke();
    std::vector<double> early, late;
    double total = 0;
    size_t handedBack = 0;
    for (auto _ : state) {
        Stabilizer stroke = make();
        const auto start = Clock::now();
        auto last = start;
        for (size_t i = 0; i < input.size(); ++i) {
            handedBack += stroke.append(input[i]).size();
            const auto now = Clock::now();
            if (i + 1 == 100) {
                early.push_back(std::chrono::duration<double>(now - last).count());
            } else if (i + 1 == kSamples) {
                late.push_back(std::chrono::duration<double>(now - last).count());
            }
            last = now;
        }
        handedBack += stroke.finish().size();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        total += seconds;
        state.SetIterationTime(seconds);
    }
    benchmark::DoNotOptimize(handedBack);
    state.counters["us_per_sample"] = total / double(state.iterations() * kSamples) * 1e6;
    state.counters["sample100_us"] = median(early) * 1e6;
    state.counters["sample2400_us"] = median(late) * 1e6;
    state.counters["ratio_2400_to_100"] = median(late) / median(early);
}

void BM_StabilizeStroke(benchmark::State& state) {
    const size_t smoothing = size_t(state.range(0));
    stabilizeStroke<SmoothedStroke>(state, [&] { return SmoothedStroke(smoothing); });
}
BENCHMARK(BM_StabilizeStroke)
    ->Arg(0)
    ->Arg(5)
    ->Arg(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The same stroke recomputed in full for every sample, as the definition reads.
void BM_FullRecomputationStroke(benchmark::State& state) {
    const long smoothing = long(state.range(0));
    stabilizeStroke<reference::Stabilizer>(state, [&] { return reference::Stabilizer{smoothing}; });
}
BENCHMARK(BM_FullRecomputationStroke)
    ->Arg(0)
    ->Arg(5)
    ->Arg(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

VELMORA_BENCH_MAIN()
