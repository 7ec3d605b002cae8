#include "BenchSupport.hpp"
#include "coding/AtomicFileWriter.hpp"
#include "coding/KeyedArchiver.hpp"
#include "coding/KeyedUnarchiver.hpp"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

// A keyed archive of 16 data objects of 64 MiB, written to a file and read
// back, against writing and reading the same bytes as a plain file in the same
// iteration (both writes durable: temporary file, fsync, rename). Counters:
// time ratios to the plain file and the peak memory above the resident set
// before each operation.

namespace {

using velmora::KeyedArchiver;
using velmora::KeyedUnarchiver;
using velmora::SharedBytes;
using Clock = std::chrono::steady_clock;

constexpr std::size_t objectCount = 16;
constexpr std::size_t objectSize = std::size_t(64) << 20;

const std::vector<SharedBytes>& payload() {
    static const std::vector<SharedBytes> objects = [] {
        std::vector<SharedBytes> out;
        for (std::size_t i = 0; i < objectCount; ++i) {
            std::vector<std::uint8_t> bytes(objectSize);
            for (std::size_t k = 0; k < objectSize; k += 64) {
                bytes[k] = static_cast<std::uint8_t>(i + k);
            }
            out.emplace_back(std::move(bytes));
        }
        return out;
    }();
    return objects;
}

std::filesystem::path folder() {
    static const std::filesystem::path path = [] {
        auto p = std::filesystem::temp_directory_path() / "velmora-bench-plist";
        std::filesystem::create_directories(p);
        return p;
    }();
    return path;
}

// Resident-set figures of this process, in bytes.
std::size_t statusField(const char* name) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(name, 0) == 0) {
            return std::stoull(line.substr(std::string(name).size())) * 1024;
        }
    }
    return 0;
}

void resetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

double seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

void plainWrite(const std::filesystem::path& path) {
    velmora::AtomicFileWriter file(path);
    for (const auto& o : payload()) {
        file.write(o.span());
    }
    file.commit();
}

std::size_t plainRead(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    const auto size = static_cast<std::size_t>(std::filesystem::file_size(path));
    auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(size);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, buffer.get() + done, size - done);
        if (n <= 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    benchmark::DoNotOptimize(buffer.get());
    return done;
}

void archiveWrite(const std::filesystem::path& path) {
    KeyedArchiver archiver;
    for (std::size_t i = 0; i < objectCount; ++i) {
        archiver.encodeObject(payload()[i], "data" + std::to_string(i));
    }
    archiver.writeToFile(path);
}

std::size_t archiveRead(const std::filesystem::path& path) {
    KeyedUnarchiver unarchiver = KeyedUnarchiver::readingFile(path);
    std::size_t total = 0;
    for (std::size_t i = 0; i < objectCount; ++i) {
        const auto o = unarchiver.decodeObject({"NSData"}, "data" + std::to_string(i));
        total += o && o->data() ? o->data()->size() : 0;
    }
    if (total != objectCount * objectSize) {
        std::fprintf(stderr, "archive read back %zu bytes\n", total);
        std::abort();
    }
    return total;
}

void BM_KeyedArchiveWrite1GiB(benchmark::State& state) {
    payload();
    const auto archivePath = folder() / "archive";
    const auto plainPath = folder() / "plain";
    double archiveTime = 0, plainTime = 0;
    std::size_t peak = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        plainWrite(plainPath);
        const auto t1 = Clock::now();
        const std::size_t before = statusField("VmRSS:");
        resetPeak();
        const auto t2 = Clock::now();
        archiveWrite(archivePath);
        const auto t3 = Clock::now();
        peak = std::max(peak, statusField("VmHWM:") - before);
        plainTime += seconds(t0, t1);
        archiveTime += seconds(t2, t3);
        state.SetIterationTime(seconds(t2, t3));
    }
    state.SetBytesProcessed(std::int64_t(state.iterations() * objectCount * objectSize));
    state.counters["vs_plain_file"] = archiveTime / plainTime;
    state.counters["plain_GiB_per_s"] = double(state.iterations()) / plainTime;
    state.counters["peak_extra_MiB"] = double(peak) / (1 << 20);
}
BENCHMARK(BM_KeyedArchiveWrite1GiB)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_KeyedArchiveRead1GiB(benchmark::State& state) {
    payload();
    const auto archivePath = folder() / "archive";
    const auto plainPath = folder() / "plain";
    archiveWrite(archivePath);
    plainWrite(plainPath);
    double archiveTime = 0, plainTime = 0;
    std::size_t peak = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        plainRead(plainPath);
        const auto t1 = Clock::now();
        const std::size_t before = statusField("VmRSS:");
        resetPeak();
        const auto t2 = Clock::now();
        archiveRead(archivePath);
        const auto t3 = Clock::now();
        peak = std::max(peak, statusField("VmHWM:") - before);
        plainTime += seconds(t0, t1);
        archiveTime += seconds(t2, t3);
        state.SetIterationTime(seconds(t2, t3));
    }
    state.SetBytesProcessed(std::int64_t(state.iterations() * objectCount * objectSize));
    state.counters["vs_plain_file"] = archiveTime / plainTime;
    state.counters["plain_GiB_per_s"] = double(state.iterations()) / plainTime;
    state.counters["peak_extra_MiB"] = double(peak) / (1 << 20);
    std::filesystem::remove_all(folder());
}
BENCHMARK(BM_KeyedArchiveRead1GiB)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

VELMORA_BENCH_MAIN()
