#pragma once

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <tbb/parallel_for.h>
#include <vector>

namespace velmora::bench {

// The reference every benchmark divides by: a parallel memcpy in fixed chunks.
inline void parallelCopy(void* dst, const void* src, size_t bytes) {
    constexpr size_t chunk = size_t(4) << 20;
    const size_t count = (bytes + chunk - 1) / chunk;
    tbb::parallel_for(size_t(0), count, [&](size_t i) {
        const size_t off = i * chunk;
        const size_t n = off + chunk > bytes ? bytes - off : chunk;
        std::memcpy(static_cast<char*>(dst) + off, static_cast<const char*>(src) + off, n);
    });
}

// The shortest of `repeats` runs of `work`, in seconds.
inline double bestSeconds(const std::function<void()>& work, int repeats) {
    double best = 1e30;
    for (int i = 0; i < repeats; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        work();
        const auto t1 = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
    }
    return best;
}

// Bytes read plus written per second of a parallel memcpy of `bytes` (at most
// 1 GiB), measured now, so that a case called right after sees the same load.
inline double copyBandwidth(size_t bytes = size_t(1) << 30, int repeats = 5) {
    static std::vector<char> src(size_t(1) << 30, 1), dst(size_t(1) << 30, 0);
    bytes = std::min(bytes, src.size());
    const double t = bestSeconds([&] { parallelCopy(dst.data(), src.data(), bytes); }, repeats);
    return 2.0 * double(bytes) / t;
}

// The median and the spread of repeated runs, the first (cold) run apart:
// one lucky or disturbed run cannot stand for the figure.
struct Spread {
    double cold = 0;
    double median = 0;
    // (largest − smallest) / median of the warm runs.
    double relative = 0;
};

// `values[0]` is the cold run; the rest are the warm ones.
inline Spread spreadOf(const std::vector<double>& values) {
    Spread s;
    if (values.empty()) {
        return s;
    }
    s.cold = values.front();
    std::vector<double> warm(values.begin() + (values.size() > 1 ? 1 : 0), values.end());
    std::sort(warm.begin(), warm.end());
    const size_t n = warm.size();
    s.median = n % 2 == 1 ? warm[n / 2] : (warm[n / 2 - 1] + warm[n / 2]) / 2;
    s.relative = s.median != 0 ? (warm.back() - warm.front()) / s.median : 0;
    return s;
}

// Warm repetitions every benchmark makes after its cold one (at least 5;
// VELMORA_BENCH_REPETITIONS may ask for more).
inline int warmRepetitions() {
    const char* text = std::getenv("VELMORA_BENCH_REPETITIONS");
    const int asked = text ? std::atoi(text) : 0;
    return std::max(5, asked);
}

// Replaces the repetitions of each benchmark with three rows: "cold" (the first
// repetition), "median" and "spread" (range over median, in percent) of the
// others, for the time and every counter, after the machine's load.
class SpreadReporter : public benchmark::ConsoleReporter {
public:
    using benchmark::ConsoleReporter::ConsoleReporter;

    void ReportRuns(const std::vector<Run>& reports) override {
        std::vector<Run> runs;
        for (const Run& r : reports) {
            if (r.run_type == Run::RT_Iteration && !r.error_occurred) {
                runs.push_back(r);
            } else if (r.error_occurred) {
                benchmark::ConsoleReporter::ReportRuns({r});
            }
        }
        if (runs.empty()) {
            return; // the library's own aggregates: ours replace them
        }
        double load[3] = {0, 0, 0};
        getloadavg(load, 3);
        GetOutputStream() << "load average: " << load[0] << ", " << load[1] << ", " << load[2]
                          << "\n";
        if (runs.size() == 1) {
            benchmark::ConsoleReporter::ReportRuns(runs);
            return;
        }
        std::vector<double> times;
        std::map<std::string, std::vector<double>> counters;
        for (const Run& r : runs) {
            times.push_back(r.real_accumulated_time / double(std::max<int64_t>(r.iterations, 1)));
            for (const auto& [name, c] : r.counters) {
                counters[name].push_back(c.value);
            }
        }
        const Spread time = spreadOf(times);
        auto row = [&](const char* name, double t, auto pick) {
            Run out = runs.front();
            out.run_type = Run::RT_Aggregate;
            out.aggregate_name = name;
            // Per-iteration figures, shown with the iterations of one repetition.
            out.real_accumulated_time = t * double(out.iterations);
            out.cpu_accumulated_time = out.real_accumulated_time;
            out.counters.clear();
            for (const auto& [counter, values] : counters) {
                out.counters[counter] = benchmark::Counter(pick(spreadOf(values)));
            }
            return out;
        };
        Run cold = row("cold", time.cold, [](const Spread& s) { return s.cold; });
        Run median = row("median", time.median, [](const Spread& s) { return s.median; });
        Run spread = row("spread", time.relative, [](const Spread& s) { return s.relative; });
        // Percentages are shown as they are, not per iteration.
        spread.aggregate_unit = benchmark::kPercentage;
        spread.real_accumulated_time = spread.cpu_accumulated_time = time.relative;
        benchmark::ConsoleReporter::ReportRuns({cold, median, spread});
    }
};

// The main of every benchmark program: one cold and warmRepetitions() warm
// repetitions of each benchmark unless the command line asks otherwise.
inline int runBenchmarks(int argc, char** argv) {
    std::vector<std::string> storage(argv, argv + argc);
    const bool asked = std::any_of(storage.begin(), storage.end(), [](const std::string& a) {
        return std::string_view(a).starts_with("--benchmark_repetitions");
    });
    if (!asked) {
        storage.insert(storage.begin() + 1,
                       "--benchmark_repetitions=" + std::to_string(1 + warmRepetitions()));
    }
    std::vector<char*> args;
    for (std::string& a : storage) {
        args.push_back(a.data());
    }
    int count = int(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) {
        return 1;
    }
    SpreadReporter reporter(benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

} // namespace velmora::bench

#define VELMORA_BENCH_MAIN()                                                                       \
    int main(int argc, char** argv) {                                                              \
        return velmora::bench::runBenchmarks(argc, argv);                                          \
    }
