#pragma once

#include "MetalExtensions/MTLRegionExtensions.hpp"
#include "coding/Coding.hpp"
#include "gpu/MTLCommandBuffer.hpp"
#include "gpu/MTLTexture.hpp"
#include "graphics/NSBitmapImageRep.hpp"

#include <cstdint>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// One rectangular piece of a raster layer: an rgba8Unorm texture (straight
// alpha, private storage) placed at an integer canvas origin. Its name is the
// texture's label. `RasterLayer::Patch`.
class RasterLayerPatch {
public:
    // Stored bytes that are no readable image, or a patch no layer could hold.
    class Error : public std::exception {
    public:
        enum class Kind { decodingError };
        explicit Error(std::string detail) : detail_(std::move(detail)) {}
        Kind kind() const { return Kind::decodingError; }
        const char* what() const noexcept override { return detail_.c_str(); }

    private:
        std::string detail_;
    };

    // Stored patches must lie within this distance of the origin on every
    // side and be no larger than the largest texture.
    static constexpr int64_t maximumCoordinate = int64_t(1) << 24;
    static constexpr int64_t maximumSide = 16384;

    // Around an existing texture, which is neither cleared nor copied.
    RasterLayerPatch(const MTLOrigin& origin, std::shared_ptr<MTLTexture> texture);
    RasterLayerPatch(const RasterLayerPatch&) = delete;
    RasterLayerPatch& operator=(const RasterLayerPatch&) = delete;

    // A new texture of that size, cleared on a command buffer of its own that
    // is committed and not waited for. An empty size stops the program.
    static std::shared_ptr<RasterLayerPatch> make(const MTLOrigin& origin, int64_t width,
                                                  int64_t height, const std::string& name);
    // A new patch over the union of the patches' regions and `region`,
    // "Merge of n patches", with each patch copied into it by blits encoded
    // into the command buffer (not committed). An empty list stops the program.
    static std::shared_ptr<RasterLayerPatch>
    merge(const std::vector<std::shared_ptr<RasterLayerPatch>>& patches, const MTLRegion& region,
          const std::shared_ptr<MTLCommandBuffer>& commandBuffer);

    MTLOrigin origin;
    // The TIFF bytes the texture was last read or written as; empty when the
    // pixels have changed since. Trusted only while the texture still holds
    // exactly the pixels they were made from. Shared, so that a save writes
    // them without a copy.
    SharedBytes cachedTiffData;

    const std::shared_ptr<MTLTexture>& texture() const { return texture_; }
    MTLRegion region() const;
    std::optional<std::string> name() const { return texture_->label(); }

    // The pixels as an LZW-compressed 8-bit RGBA TIFF with straight alpha and
    // the working space's profile, top row first. Waits for pending GPU work;
    // leaves the cache alone.
    std::vector<uint8_t> tiffData() const;
    // Makes the cache hold the TIFF of the pixels as every command committed
    // so far leaves them, rendering only when it is empty or the pixels
    // changed. When the texture tells which rows changed since the TIFF last
    // read or written, only the strips holding them are encoded anew and the
    // others' bytes are kept. Waits for pending GPU work.
    void refreshCache();
    // The same for many patches with one wait, the renders in parallel.
    static void refreshCaches(const std::vector<std::shared_ptr<RasterLayerPatch>>& patches);

    // A TIFF of the pixels made on another thread from rows copied where the
    // patch is edited, so that later edits cannot change it.
    class DeferredTiff {
    public:
        // What the archive holds in its place until it is made: bytes of
        // their own, told apart by their address.
        const SharedBytes& standIn() const { return standIn_; }
        // Makes the TIFF; on any thread, once. A failure is kept for `bytes`.
        void encode();
        // Never to be made (the write was given up): `bytes` throws.
        void abandon();
        // The TIFF, waiting for `encode` or `abandon`; rethrows its failure.
        SharedBytes bytes() const;

    private:
        friend class RasterLayerPatch;
        DeferredTiff();
        void settle(const std::function<SharedBytes()>& make);

        int64_t width_ = 0, height_ = 0;
        // The TIFF of the pixels at the last cache and the file rows changed
        // since; no TIFF: every row is copied and encoded.
        SharedBytes previous_;
        std::vector<std::pair<int64_t, int64_t>> changedRows_;
        // The texture's rows as they are (premultiplied), by file row: the
        // offset into `pixels_`, or -1 for a row not copied.
        std::unique_ptr<uint8_t[]> pixels_;
        std::vector<int64_t> rowOffsets_;
        SharedBytes standIn_;
        std::promise<SharedBytes> promise_;
        std::shared_future<SharedBytes> bytes_;
        std::once_flag settled_;
    };
    // Copies what the TIFF of the pixels as every command committed so far
    // leaves them needs (the rows of the changed strips) for
    // `DeferredTiff::encode` to make on any thread; none when the cache is
    // current or only a whole TIFF will do, which is then made here. Until it is made the patch
    // encodes its stand-in wherever the user info holds `tiffsDeferredKey`; the cache takes it
    // afterwards. Waits for pending GPU work.
    std::shared_ptr<DeferredTiff> deferCache();
    // The same for many patches with one wait, the copies in parallel: the
    // TIFFs to make, one for each patch whose pixels changed.
    static std::vector<std::shared_ptr<DeferredTiff>>
    deferCaches(const std::vector<std::shared_ptr<RasterLayerPatch>>& patches);
    static constexpr std::string_view tiffsDeferredKey = "velmora.patchTiffsDeferred";

    // With this user-info entry set to true, encoding trusts caches that
    // `refreshCaches` has just checked instead of checking each one again.
    static constexpr std::string_view cachesRefreshedKey = "velmora.patchCachesRefreshed";
    // "texture" (TIFF, the cache refreshed first), "origin", "name".
    // A patch moved beyond `maximumCoordinate` is refused, since it could not
    // be read back.
    void encode(Encoder& encoder);
    // Uploads the stored pixels and keeps the bytes as the cache. Throws
    // Error for bytes that are no image or a patch too large or too far away.
    // When the user info holds a `PatchUploads` under `uploadsKey`, only the
    // image's header is read here and the pixels wait for its `run()`.
    static std::shared_ptr<RasterLayerPatch> decode(Decoder& decoder);
    static constexpr std::string_view uploadsKey = "velmora.patchUploads";

    // Same origin, size, label and texture object.
    friend bool operator==(const RasterLayerPatch& a, const RasterLayerPatch& b);
    std::size_t hash() const;
    // "label @ {(x, y), w x h}"; "nil" for a texture without a label.
    std::string description() const;

private:
    friend class PatchUploads;
    // Uploads the image into the cleared texture and waits for it.
    void upload(const NSBitmapImageRep& bitmap);
    // Whether the cache holds the pixels as they are: told by the texture's
    // change count, without reading a pixel.
    bool cacheIsCurrent() const;
    void renderCache();
    // Takes a deferred TIFF's bytes as the cache (they hold the pixels at the
    // change count it was made for), waiting for them; a failed one leaves
    // no cache.
    void adoptDeferred();
    std::shared_ptr<DeferredTiff> copyForTiff();

    std::shared_ptr<MTLTexture> texture_;
    // The texture's change count when `cachedTiffData` was made or read.
    std::optional<uint64_t> cachedGeneration_;
    // Those bytes, kept when the cache is let go of since the strips of rows
    // that did not change are taken from them.
    SharedBytes encodedTiff_;
    // The TIFF being made for the pixels at `cachedGeneration_`; meanwhile
    // `cachedTiffData` is its stand-in, so that letting go of it is seen.
    std::shared_ptr<DeferredTiff> deferred_;
};

// Patches decoded with their pixels still to be read. `run()` decodes the
// stored images in parallel, strip by strip across every patch, straight into
// the textures (images in another form or colour space go through the GPU's
// conversion instead); it throws RasterLayerPatch::Error for the first patch,
// in list order, that is no readable image.
class PatchUploads {
public:
    // Strips of about `taskBytes` of pixels make one task of the decode.
    static constexpr std::size_t defaultTaskBytes = std::size_t(1) << 20;
    explicit PatchUploads(std::size_t taskBytes = defaultTaskBytes) : taskBytes_(taskBytes) {}

    void add(std::shared_ptr<RasterLayerPatch> patch) { pending_.push_back(std::move(patch)); }
    std::size_t count() const { return pending_.size(); }
    void run();

private:
    std::size_t taskBytes_;
    std::vector<std::shared_ptr<RasterLayerPatch>> pending_;
};

} // namespace velmora
