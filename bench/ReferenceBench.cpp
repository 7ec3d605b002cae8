#include "BenchSupport.hpp"

#include <benchmark/benchmark.h>
#include <vector>

// Memory bandwidth of this machine: the yardstick the other programs print
// their ratios against.
static void BM_ParallelCopy1GiB(benchmark::State& state) {
    const size_t bytes = size_t(1) << 30;
    std::vector<char> src(bytes, 1), dst(bytes, 0);
    for (auto _ : state) {
        velmora::bench::parallelCopy(dst.data(), src.data(), bytes);
        benchmark::DoNotOptimize(dst.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes) * 2);
}
BENCHMARK(BM_ParallelCopy1GiB)->Unit(benchmark::kMillisecond)->UseRealTime();

VELMORA_BENCH_MAIN()
