#include "gpu/cpu/CPUTexture.hpp"

#include "foundation/CheckedMath.hpp"
#include "foundation/FatalError.hpp"
#include "gpu/cpu/CPUDevice.hpp"
#include "gpu/cpu/RenderPassRecord.hpp"
#include "gpu/cpu/Timeline.hpp"
#include "gpu/cpu/Workers.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace velmora::cpu {

namespace {
// Under AddressSanitizer small textures live on the heap, where a kernel that
// strays outside its texture is caught.
#if defined(__SANITIZE_ADDRESS__)
constexpr size_t kHeapTextureLimit = size_t(1) << 20;
#else
constexpr size_t kHeapTextureLimit = 0;
#endif

size_t pageSize() {
    static const size_t size = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return size;
}

// Textures at least this large (but for float ones) start on a huge-page
// boundary and ask for huge pages: one fault brings in 2 MiB, and painting over a
// large canvas faults hundreds of times fewer.
constexpr size_t kHugePage = size_t(2) << 20;

// Anonymous zero memory of `bytes`, huge-page aligned when that large and allowed.
uint8_t* mapZeroes(size_t bytes, bool allowHuge) {
    const bool huge = allowHuge && bytes >= kHugePage;
    const size_t slack = huge ? kHugePage : 0;
    void* p = mmap(nullptr, bytes + slack, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    precondition(p != MAP_FAILED, "Out of memory for a texture");
    auto* base = static_cast<uint8_t*>(p);
    if (!huge) {
        return base;
    }
    auto* aligned =
        reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(base) + slack - 1) / slack * slack);
    if (aligned > base) {
        munmap(base, static_cast<size_t>(aligned - base));
    }
    const size_t tail = slack - static_cast<size_t>(aligned - base);
    if (tail > 0) {
        munmap(aligned + bytes, tail);
    }
#ifdef MADV_HUGEPAGE
    madvise(aligned, bytes, MADV_HUGEPAGE); // only a hint: without huge pages all still works
#endif
    return aligned;
}
// Copies of a few megabytes and more (a stroke's snapshots read back) go over
// the workers; a host copy is memory-bound and one core leaves most of it idle.
constexpr size_t kParallelCopyBytes = size_t(4) << 20;

void copyRows(int64_t rows, size_t rowBytes, const std::function<void(int64_t)>& copyRow) {
    if (size_t(rows) * rowBytes < kParallelCopyBytes || Timeline::isTimelineThread()) {
        for (int64_t r = 0; r < rows; ++r) {
            copyRow(r);
        }
        return;
    }
    parallelRows(0, rows, [&](int64_t r0, int64_t r1) {
        for (int64_t r = r0; r < r1; ++r) {
            copyRow(r);
        }
    });
}
} // namespace

CPUTexture::CPUTexture(std::shared_ptr<CPUDevice> device, const MTLTextureDescriptor& descriptor,
                       PixelLayout layout)
    : device_(std::move(device)), descriptor_(descriptor), layout_(layout),
      bytesPerRow_(checked::mul<int64_t>(descriptor.width, layout.bytesPerPixel)),
      byteCount_(static_cast<size_t>(checked::mul<int64_t>(bytesPerRow_, descriptor.height))) {}

CPUTexture::~CPUTexture() {
    if (auto* memory = memory_.load()) {
        if (onHeap()) {
            std::free(memory);
        } else {
            munmap(memory, byteCount_);
        }
        device_->noteAllocation(-static_cast<int64_t>(byteCount_));
    }
}

std::optional<std::string> CPUTexture::label() const {
    std::lock_guard lock(labelMutex_);
    return label_;
}

void CPUTexture::setLabel(std::optional<std::string> label) {
    std::lock_guard lock(labelMutex_);
    label_ = std::move(label);
}

std::shared_ptr<MTLDevice> CPUTexture::device() const {
    return device_;
}

size_t CPUTexture::allocatedSize() const {
    uint8_t* memory = memory_.load();
    if (memory == nullptr) {
        return 0;
    }
    if (onHeap()) {
        return byteCount_;
    }
    // Resident pages only: memory never written or given back costs nothing.
    const auto page = pageSize();
    std::vector<unsigned char> resident((byteCount_ + page - 1) / page);
    if (mincore(memory, byteCount_, resident.data()) != 0) {
        return byteCount_;
    }
    size_t pages = 0;
    for (const auto r : resident) {
        pages += r & 1;
    }
    return std::min(byteCount_, pages * page);
}

bool CPUTexture::onHeap() const {
    return byteCount_ <= kHeapTextureLimit;
}

uint8_t* CPUTexture::memory() const {
    std::call_once(allocation_, [this] {
        if (onHeap()) {
            void* p = std::calloc(byteCount_, 1);
            precondition(p != nullptr, "Out of memory for a texture");
            memory_.store(static_cast<uint8_t*>(p));
            device_->noteAllocation(static_cast<int64_t>(byteCount_));
            return;
        }
        // Float working copies of the canvas are touched only where strokes go: in
        // 2 MiB pages every stroke would keep whole 16-row bands of them.
        memory_.store(mapZeroes(byteCount_, layout_.bytesPerPixel < 16));
        device_->noteAllocation(static_cast<int64_t>(byteCount_));
    });
    return memory_.load();
}

MTLTextureContents CPUTexture::contents() {
    noteChange(std::nullopt);
    return contentsForReading();
}

MTLTextureContents CPUTexture::contents(const MTLRegion& written) {
    noteChange(written);
    return contentsForReading();
}

void CPUTexture::noteChange(const std::optional<MTLRegion>& region) {
    std::lock_guard lock(changesMutex_);
    const uint64_t generation = generation_.fetch_add(1) + 1;
    if (!region) {
        changes_.clear();
        return;
    }
    // Enough for the strokes between two saves; older counts become unknown.
    constexpr size_t kept = 512;
    if (changes_.size() == kept) {
        changes_.pop_front();
    }
    changes_.push_back({generation, *region});
}

std::optional<std::vector<MTLRegion>> CPUTexture::changesSince(uint64_t generation) const {
    std::lock_guard lock(changesMutex_);
    const uint64_t now = generation_.load();
    std::vector<MTLRegion> regions;
    if (generation == now) {
        return regions;
    }
    // Every count after `generation` must be one of the kept changes.
    if (generation > now || changes_.empty() || changes_.front().generation > generation + 1 ||
        changes_.back().generation != now) {
        return std::nullopt;
    }
    for (const Change& c : changes_) {
        if (c.generation > generation && c.region.size.width > 0 && c.region.size.height > 0) {
            regions.push_back(c.region);
        }
    }
    return regions;
}

std::optional<MTLRegion> CPUTexture::changedSince(uint64_t generation) const {
    const auto regions = changesSince(generation);
    if (!regions) {
        return std::nullopt;
    }
    int64_t x0 = INT64_MAX, y0 = INT64_MAX, x1 = INT64_MIN, y1 = INT64_MIN;
    for (const MTLRegion& r : *regions) {
        x0 = std::min(x0, r.origin.x);
        y0 = std::min(y0, r.origin.y);
        x1 = std::max(x1, r.origin.x + r.size.width);
        y1 = std::max(y1, r.origin.y + r.size.height);
    }
    if (x0 > x1) {
        return MTLRegion{};
    }
    return MTLRegion{{x0, y0, 0}, {x1 - x0, y1 - y0, 1}};
}

std::optional<MTLRegion> CPUTexture::nonZeroBounds() const {
    std::lock_guard lock(boundsMutex_);
    return nonZeroBounds_;
}

void CPUTexture::setNonZeroBounds(const std::optional<MTLRegion>& bounds) {
    std::lock_guard lock(boundsMutex_);
    nonZeroBounds_ = bounds;
}

std::shared_ptr<RenderPassRecord> CPUTexture::renderPassRecord() const {
    std::lock_guard lock(recordMutex_);
    return renderPassRecord_;
}

void CPUTexture::setRenderPassRecord(std::shared_ptr<RenderPassRecord> record) {
    std::lock_guard lock(recordMutex_);
    renderPassRecord_ = std::move(record);
}

MTLTextureContents CPUTexture::contentsForReading() {
    return {memory(), bytesPerRow_, width(), height(), pixelFormat(), layout_.bytesPerPixel};
}

void CPUTexture::zeroRows(int64_t y0, int64_t y1, bool release) {
    precondition(0 <= y0 && y0 <= y1 && y1 <= height(), "Rows outside the texture");
    noteChange(MTLRegion{{0, y0, 0}, {width(), y1 - y0, 1}});
    uint8_t* memory = memory_.load();
    if (memory == nullptr) {
        return; // never written: reads as zero already
    }
    uint8_t* begin = memory + y0 * bytesPerRow_;
    uint8_t* end = memory + y1 * bytesPerRow_;
    if (!release || onHeap()) {
        // Pages that stay are not faulted in again by the next write.
        std::memset(begin, 0, static_cast<size_t>(end - begin));
        return;
    }
    const auto page = pageSize();
    auto* pageBegin =
        reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(begin) + page - 1) / page * page);
    auto* pageEnd = reinterpret_cast<uint8_t*>(reinterpret_cast<uintptr_t>(end) / page * page);
    if (pageEnd > pageBegin) {
        std::memset(begin, 0, static_cast<size_t>(pageBegin - begin));
        // Private anonymous pages read as zero again once given back.
        madvise(pageBegin, static_cast<size_t>(pageEnd - pageBegin), MADV_DONTNEED);
        std::memset(pageEnd, 0, static_cast<size_t>(end - pageEnd));
    } else {
        std::memset(begin, 0, static_cast<size_t>(end - begin));
    }
}

void CPUTexture::checkHostAccess(MTLRegion region, int64_t mipmapLevel, int64_t bytesPerRow,
                                 const char* what) const {
    precondition(storageMode() != MTLStorageMode::private_ &&
                     storageMode() != MTLStorageMode::memoryless,
                 std::string(what) + " needs a texture with shared or managed storage");
    precondition(mipmapLevel == 0, "Only mipmap level 0 exists");
    const auto& o = region.origin;
    const auto& s = region.size;
    precondition(o.x >= 0 && o.y >= 0 && o.z == 0 && s.width >= 0 && s.height >= 0 &&
                     s.depth == 1 && s.width <= width() - o.x && s.height <= height() - o.y,
                 std::string(what) + " region outside the texture");
    precondition(bytesPerRow >= checked::mul<int64_t>(s.width, layout_.bytesPerPixel),
                 std::string(what) + " bytes per row shorter than the region's rows");
}

void CPUTexture::replaceRegion(MTLRegion region, int64_t mipmapLevel, const void* bytes,
                               int64_t bytesPerRow) {
    checkHostAccess(region, mipmapLevel, bytesPerRow, "replaceRegion");
    waitForGPUUses();
    noteChange(region);
    const auto rowBytes = static_cast<size_t>(region.size.width * layout_.bytesPerPixel);
    const auto* src = static_cast<const uint8_t*>(bytes);
    uint8_t* base = memory();
    copyRows(region.size.height, rowBytes, [&](int64_t r) {
        std::memcpy(base + (region.origin.y + r) * bytesPerRow_ +
                        region.origin.x * layout_.bytesPerPixel,
                    src + r * bytesPerRow, rowBytes);
    });
}

void CPUTexture::getBytes(void* bytes, int64_t bytesPerRow, MTLRegion region,
                          int64_t mipmapLevel) const {
    checkHostAccess(region, mipmapLevel, bytesPerRow, "getBytes");
    waitForGPUUses();
    const auto rowBytes = static_cast<size_t>(region.size.width * layout_.bytesPerPixel);
    auto* dst = static_cast<uint8_t*>(bytes);
    const uint8_t* base = memory();
    copyRows(region.size.height, rowBytes, [&](int64_t r) {
        std::memcpy(dst + r * bytesPerRow,
                    base + (region.origin.y + r) * bytesPerRow_ +
                        region.origin.x * layout_.bytesPerPixel,
                    rowBytes);
    });
}

void CPUTexture::beginGPUUse() {
    gpuUses_.fetch_add(1);
}

void CPUTexture::endGPUUse() {
    if (gpuUses_.fetch_sub(1) == 1) {
        gpuUses_.notify_all();
    }
}

void CPUTexture::waitForGPUUses() const {
    // Work on the timeline itself cannot wait for later work of the timeline.
    if (Timeline::isTimelineThread()) {
        return;
    }
    for (auto n = gpuUses_.load(); n != 0; n = gpuUses_.load()) {
        gpuUses_.wait(n);
    }
}

} // namespace velmora::cpu
