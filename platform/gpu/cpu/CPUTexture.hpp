#pragma once

#include "gpu/MTLTexture.hpp"
#include "gpu/MTLTextureDescriptor.hpp"
#include "gpu/cpu/PixelIO.hpp"

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace velmora::cpu {

class CPUDevice;
class RenderPassRecord;

// A 2D texture in host memory. The memory is an anonymous mapping made on first
// use, so pages never written cost nothing and read as zero; large ones of up to
// 8 bytes a pixel use huge pages where the system offers them.
class CPUTexture final : public MTLTexture {
public:
    CPUTexture(std::shared_ptr<CPUDevice> device, const MTLTextureDescriptor& descriptor,
               PixelLayout layout);
    ~CPUTexture() override;

    std::optional<std::string> label() const override;
    void setLabel(std::optional<std::string> label) override;
    MTLStorageMode storageMode() const override { return descriptor_.storageMode; }
    std::shared_ptr<MTLDevice> device() const override;
    size_t allocatedSize() const override;

    MTLTextureType textureType() const override { return descriptor_.textureType; }
    MTLPixelFormat pixelFormat() const override { return descriptor_.pixelFormat; }
    int64_t width() const override { return descriptor_.width; }
    int64_t height() const override { return descriptor_.height; }
    int64_t depth() const override { return 1; }
    int64_t mipmapLevelCount() const override { return 1; }
    int64_t arrayLength() const override { return 1; }
    MTLTextureUsage usage() const override { return descriptor_.usage; }

    void replaceRegion(MTLRegion region, int64_t mipmapLevel, const void* bytes,
                       int64_t bytesPerRow) override;
    void getBytes(void* bytes, int64_t bytesPerRow, MTLRegion region,
                  int64_t mipmapLevel) const override;
    MTLTextureContents contents() override;
    MTLTextureContents contentsForReading() override;
    uint64_t contentGeneration() const override { return generation_.load(); }
    MTLTextureContents contents(const MTLRegion& written) override;
    std::optional<MTLRegion> changedSince(uint64_t generation) const override;
    std::optional<std::vector<MTLRegion>> changesSince(uint64_t generation) const override;
    std::optional<MTLRegion> nonZeroBounds() const override;
    void setNonZeroBounds(const std::optional<MTLRegion>& bounds) override;

    const PixelLayout& layout() const { return layout_; }
    // Sets rows [y0, y1) to zero. With `release` (the whole texture is being
    // cleared) whole pages go back to the system; otherwise, while the texture is
    // in use, zeros are written so painting never faults the pages in again.
    void zeroRows(int64_t y0, int64_t y1, bool release);

    // Committed command buffers that use the texture and have not completed. CPU
    // reads and writes wait for them, so they never race with queued commands.
    void beginGPUUse();
    void endGPUUse();
    void waitForGPUUses() const;

    // The last render pass drawn into this texture, when it can be drawn again in part.
    std::shared_ptr<RenderPassRecord> renderPassRecord() const;
    void setRenderPassRecord(std::shared_ptr<RenderPassRecord> record);

private:
    uint8_t* memory() const;
    bool onHeap() const;
    void checkHostAccess(MTLRegion region, int64_t mipmapLevel, int64_t bytesPerRow,
                         const char* what) const;

    std::shared_ptr<CPUDevice> device_;
    MTLTextureDescriptor descriptor_;
    PixelLayout layout_;
    int64_t bytesPerRow_;
    size_t byteCount_;
    mutable std::once_flag allocation_;
    mutable std::atomic<uint8_t*> memory_{nullptr};
    mutable std::mutex labelMutex_;
    std::optional<std::string> label_;
    mutable std::atomic<int64_t> gpuUses_{0};
    std::atomic<uint64_t> generation_{0};
    // The regions of the latest changes that told theirs, by the count each one
    // moved to; a change without one leaves a gap that makes earlier counts unknown.
    void noteChange(const std::optional<MTLRegion>& region);
    struct Change {
        uint64_t generation;
        MTLRegion region;
    };
    mutable std::mutex changesMutex_;
    std::deque<Change> changes_;
    // Set on the main thread, read by commands on the timeline.
    mutable std::mutex boundsMutex_;
    std::optional<MTLRegion> nonZeroBounds_;
    mutable std::mutex recordMutex_;
    std::shared_ptr<RenderPassRecord> renderPassRecord_;
};

} // namespace velmora::cpu
