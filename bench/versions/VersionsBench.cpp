// What keeping a version adds to a save of a large document: the version kept
// before the save and the identity given to its temporary file, against the
// save itself (temporary file, flush, rename), both timed in the same run.

#include "BenchSupport.hpp"
#include "desktop/VersionStore.hpp"

#include <benchmark/benchmark.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

using namespace velmora;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t documentBytes = std::size_t(340) << 20;

fs::path scratch() {
    static const fs::path path =
        fs::temp_directory_path() / ("velmora-bench-versions-" + std::to_string(::getpid()));
    return path;
}

const std::vector<std::uint8_t>& contents() {
    static const std::vector<std::uint8_t> bytes = [] {
        std::vector<std::uint8_t> b(documentBytes);
        std::uint32_t x = 2463534242u;
        for (auto& byte : b) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            byte = static_cast<std::uint8_t>(x);
        }
        return b;
    }();
    return bytes;
}

void check(bool ok, const char* what) {
    if (!ok) {
        throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
    }
}

double since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

struct SaveTimes {
    double versions = 0; // keepVersion + adoptIdentity
    double save = 0;     // write, flush and rename
};

// One save as a document makes it, each step timed on its own.
SaveTimes save(VersionStore& store, const URL& url) {
    SaveTimes times;
    auto t0 = std::chrono::steady_clock::now();
    store.keepVersion(url);
    times.versions += since(t0);

    t0 = std::chrono::steady_clock::now();
    const fs::path temporary = url.filePath().parent_path() / ".document.tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    check(fd >= 0, "open");
    const auto& bytes = contents();
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        check(n > 0, "write");
        done += std::size_t(n);
    }
    times.save += since(t0);

    t0 = std::chrono::steady_clock::now();
    store.adoptIdentity(url, temporary);
    times.versions += since(t0);

    t0 = std::chrono::steady_clock::now();
    check(::fsync(fd) == 0 && ::close(fd) == 0, "fsync");
    check(::rename(temporary.c_str(), url.filePath().c_str()) == 0, "rename");
    const int folder = ::open(url.filePath().parent_path().c_str(), O_RDONLY | O_DIRECTORY);
    check(folder >= 0 && ::fsync(folder) == 0 && ::close(folder) == 0, "fsync folder");
    times.save += since(t0);
    return times;
}

// The version is a copy of the document (never a link, which another program
// writing into the file replaced would reach).
void BM_VersionOfA340MBSave(benchmark::State& state) {
    const fs::path folder = scratch() / "copies";
    fs::create_directories(folder / "Documents");
    VersionStore store(folder / "Versions");
    const URL url = URL::fileURL(folder / "Documents" / "Painting.velmora", false);
    if (!fs::exists(url.filePath())) {
        save(store, url); // the first save has nothing to keep
    }
    SaveTimes total;
    for (auto _ : state) {
        const SaveTimes times = save(store, url);
        state.SetIterationTime(times.versions + times.save);
        total.versions += times.versions;
        total.save += times.save;
    }
    state.counters["versions_ms"] = 1e3 * total.versions / double(state.iterations());
    state.counters["save_ms"] = 1e3 * total.save / double(state.iterations());
    state.counters["versions_pct_of_save"] = 100 * total.versions / total.save;
}

} // namespace

BENCHMARK(BM_VersionOfA340MBSave)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    const int status = velmora::bench::runBenchmarks(argc, argv);
    std::error_code ignored;
    fs::remove_all(scratch(), ignored);
    return status;
}
