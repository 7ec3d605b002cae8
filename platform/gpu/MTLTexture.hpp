#pragma once

#include "gpu/MTLGeometry.hpp"
#include "gpu/MTLPixelFormat.hpp"
#include "gpu/MTLResource.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace velmora {

// Host view of a texture's level 0: rows of `bytesPerRow`, row r at data + r * bytesPerRow.
struct MTLTextureContents {
    uint8_t* data = nullptr;
    int64_t bytesPerRow = 0;
    int64_t width = 0;
    int64_t height = 0;
    MTLPixelFormat pixelFormat = MTLPixelFormat::invalid;
    int64_t bytesPerPixel = 0;

    uint8_t* row(int64_t y) const { return data + y * bytesPerRow; }
};

class MTLTexture : public MTLResource {
public:
    virtual MTLTextureType textureType() const = 0;
    virtual MTLPixelFormat pixelFormat() const = 0;
    virtual int64_t width() const = 0;
    virtual int64_t height() const = 0;
    virtual int64_t depth() const = 0;
    virtual int64_t mipmapLevelCount() const = 0;
    virtual int64_t arrayLength() const = 0;
    virtual MTLTextureUsage usage() const = 0;

    // CPU access; only for shared and managed storage. The region must lie inside
    // the texture (checked); `bytes` must hold the region's rows at `bytesPerRow`.
    virtual void replaceRegion(MTLRegion region, int64_t mipmapLevel, const void* bytes,
                               int64_t bytesPerRow) = 0;
    virtual void getBytes(void* bytes, int64_t bytesPerRow, MTLRegion region,
                          int64_t mipmapLevel) const = 0;

    // The memory that commands of a CPU backend read and write while they run on
    // the device's timeline. Allocated on first use; never-written memory reads as zero.
    virtual MTLTextureContents contents() = 0;
    // The same memory for code that only reads it: unlike contents(), taking it does
    // not count as a change of the pixels.
    virtual MTLTextureContents contentsForReading() = 0;
    // Moves on with every change of the pixels, whichever path makes it: replaceRegion,
    // every host view taken with contents() (commands that write a texture take one),
    // clearing. A copy made at one count still matches while the count is the same.
    virtual uint64_t contentGeneration() const = 0;
    // contents() for a writer that changes only `written`: the change count moves
    // on as well, and the region is kept beside it for changedSince().
    virtual MTLTextureContents contents(const MTLRegion& written) {
        (void)written;
        return contents();
    }
    // The region changed since the count was `generation`, when every change since
    // told its region (empty: nothing changed); none when that is not known.
    virtual std::optional<MTLRegion> changedSince(uint64_t generation) const {
        if (generation == contentGeneration()) {
            return MTLRegion{};
        }
        return std::nullopt;
    }
    // Each region changed since the count was `generation`, oldest first, under the
    // same terms: a union of far-apart changes can cover much that never changed.
    virtual std::optional<std::vector<MTLRegion>> changesSince(uint64_t generation) const {
        if (generation == contentGeneration()) {
            return std::vector<MTLRegion>{};
        }
        return std::nullopt;
    }
    // Where texels may be other than zero, as the texture's one writer keeps it
    // (none: anywhere). Readers take the rest as zero without reading it: memory
    // never written costs nothing until something reads it.
    virtual std::optional<MTLRegion> nonZeroBounds() const { return std::nullopt; }
    virtual void setNonZeroBounds(const std::optional<MTLRegion>& bounds) { (void)bounds; }
};

} // namespace velmora
