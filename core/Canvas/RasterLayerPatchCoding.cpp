#include "Canvas/RasterLayerPatch.hpp"
#include "MetalExtensions/MTLGeometryCoding.hpp"
#include "Rendering/MetalHelper.hpp"
#include "graphics/ColorManagement.hpp"
#include "graphics/ImageCodecs.hpp"
#include "graphics/TiffStripReader.hpp"
#include "imaging/CIContext.hpp"
#include "imaging/PixelKernels.hpp"

#include <algorithm>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/parallel_for_each.h>
#include <tbb/partitioner.h>

namespace velmora {

namespace {

constexpr std::string_view kTextureKey = "texture";
constexpr std::string_view kOriginKey = "origin";
constexpr std::string_view kNameKey = "name";
constexpr int kLZWCompression = 5;

bool withinRange(int64_t low, int64_t extent) {
    const int64_t limit = RasterLayerPatch::maximumCoordinate;
    return low >= -limit && low <= limit && extent <= limit - low;
}

bool isReadable(const MTLOrigin& origin, int64_t width, int64_t height) {
    return origin.z == 0 && withinRange(origin.x, width) && withinRange(origin.y, height);
}

void waitForCommittedWork() {
    MetalHelper::shared()->execute([](MetalHelper&, const std::shared_ptr<MTLCommandBuffer>&) {});
}

ImageEncodingProperties tiffProperties() {
    ImageEncodingProperties properties;
    properties.compressionMethod = kLZWCompression;
    properties.colorSyncProfileData = ColorManagement::workingColorSpace()->iccData();
    return properties;
}

// A straight 8-bit texture in the working space, as the image path renders it
// (colour 0 where alpha is), read band by band into the encoder: no bitmap of
// the whole patch is made, nor memory of its size touched for the first time.
ImageCodecs::RowFiller straightRows(const MTLTextureContents& c) {
    precondition(c.data != nullptr && c.bytesPerRow >= 4 * c.width, "A patch without pixels");
    return [c](int64_t first, int64_t end, uint8_t* rgba) {
        for (int64_t y = first; y < end; ++y) {
            // Files are top row first; texture row 0 is the bottom.
            imaging::kernels::restoreStraightRgba8(
                reinterpret_cast<const std::byte*>(c.row(c.height - 1 - y)), size_t(c.width),
                reinterpret_cast<std::byte*>(rgba + size_t(y - first) * size_t(c.width) * 4));
        }
    };
}

std::vector<uint8_t> encodeStraightRows(MTLTexture& texture) {
    const MTLTextureContents c = texture.contentsForReading();
    return ImageCodecs::encodeTiff(c.width, c.height, true, straightRows(c), tiffProperties());
}

// The rows of the file (top first) that the changes since `generation` wrote;
// none when the texture cannot tell.
std::optional<std::vector<std::pair<int64_t, int64_t>>> changedFileRows(const MTLTexture& texture,
                                                                        uint64_t generation) {
    const auto changes = texture.changesSince(generation);
    if (!changes) {
        return std::nullopt;
    }
    std::vector<std::pair<int64_t, int64_t>> rows;
    const int64_t height = texture.height();
    for (const MTLRegion& region : *changes) {
        rows.emplace_back(height - (region.origin.y + region.size.height),
                          height - region.origin.y);
    }
    return rows;
}

// The TIFF of a straight texture made from `previous`, the TIFF of its pixels
// at change count `generation`, by encoding only the strips of changed rows;
// none when that cannot be done.
std::optional<LargeBytes> reencodeStraightRows(MTLTexture& texture, const SharedBytes& previous,
                                               uint64_t generation) {
    if (previous.empty() || texture.pixelFormat() != MTLPixelFormat::rgba8Unorm) {
        return std::nullopt;
    }
    const auto rows = changedFileRows(texture, generation);
    if (!rows) {
        return std::nullopt;
    }
    const MTLTextureContents c = texture.contentsForReading();
    return ImageCodecs::reencodeTiff(previous.span(), *rows, c.width, c.height, true,
                                     straightRows(c), tiffProperties());
}

// The rows of a strip of `previous` when only its changed strips can be
// encoded anew: laid out and coded as the encoder makes its TIFFs.
std::optional<int64_t> stripRowsToKeep(std::span<const uint8_t> previous, int64_t width,
                                       int64_t height) {
    try {
        const auto reader =
            codec::TiffStripReader::open(previous, ColorManagement::workingColorSpace()->iccData());
        // The encoder's strips hold about 8 kB each, LZW with the horizontal predictor.
        if (!reader || reader->width() != uint64_t(width) || reader->height() != uint64_t(height) ||
            reader->compression() != kLZWCompression || reader->predictor() != 2 ||
            reader->fillOrder() != 1 ||
            reader->rowsPerStrip() != uint32_t(std::max<int64_t>(1, 8192 / (4 * width)))) {
            return std::nullopt;
        }
        return int64_t(reader->rowsPerStrip());
    } catch (const ImageCodecError&) {
        return std::nullopt;
    }
}

std::vector<uint8_t> renderTiff(const std::shared_ptr<MTLTexture>& texture) {
    if (texture->pixelFormat() == MTLPixelFormat::rgba8Unorm) {
        return encodeStraightRows(*texture);
    }
    CIImageOptions options;
    options.colorSpace = ColorManagement::workingColorSpace();
    const auto image = CIImage::withTexture(texture, options);
    precondition(image.has_value(), "A patch texture gives no image");
    CIContextOptions contextOptions;
    contextOptions.outputPremultiplied = false;
    const CIContext context(contextOptions);
    const auto bitmap =
        context.createBitmap(image->premultiplyingAlpha(),
                             {{0, 0}, {CGFloat(texture->width()), CGFloat(texture->height())}});
    precondition(bitmap != nullptr, "A patch texture gives no bitmap");
    return ImageCodecs::encode(*bitmap, NSBitmapImageFileType::tiff, tiffProperties());
}

ImageInfo readPatchInfo(std::span<const uint8_t> bytes) {
    ImageInfo info;
    try {
        info = ImageCodecs::readInfo(bytes);
    } catch (const ImageCodecError& error) {
        throw RasterLayerPatch::Error(std::string("A patch holds no readable image: ") +
                                      error.what());
    }
    const int64_t limit = RasterLayerPatch::maximumSide;
    if (info.pixelsWide < 1 || info.pixelsHigh < 1 || info.pixelsWide > limit ||
        info.pixelsHigh > limit) {
        throw RasterLayerPatch::Error("A patch of " + std::to_string(info.pixelsWide) + " x " +
                                      std::to_string(info.pixelsHigh) +
                                      " pixels is larger than any texture.");
    }
    return info;
}

std::shared_ptr<NSBitmapImageRep> decodePatchImage(std::span<const uint8_t> bytes,
                                                   const ImageInfo& info) {
    auto bitmap = NSBitmapImageRep::imageRepWithData(bytes);
    if (!bitmap) {
        throw RasterLayerPatch::Error("A patch holds no readable image.");
    }
    if (bitmap->pixelsWide() != info.pixelsWide || bitmap->pixelsHigh() != info.pixelsHigh) {
        throw RasterLayerPatch::Error("A patch's image is not the size its header gives.");
    }
    return bitmap;
}

} // namespace

std::vector<uint8_t> RasterLayerPatch::tiffData() const {
    // Bitmap renders read the texture at once: let every committed write land.
    waitForCommittedWork();
    return renderTiff(texture_);
}

RasterLayerPatch::DeferredTiff::DeferredTiff()
    : standIn_(SharedBytes::copy({reinterpret_cast<const uint8_t*>("tiff"), 4})),
      bytes_(promise_.get_future().share()) {}

void RasterLayerPatch::DeferredTiff::settle(const std::function<SharedBytes()>& make) {
    std::call_once(settled_, [&] {
        try {
            promise_.set_value(make());
        } catch (...) {
            promise_.set_exception(std::current_exception());
        }
    });
}

void RasterLayerPatch::DeferredTiff::encode() {
    settle([this] {
        const int64_t rowBytes = 4 * width_;
        // Rows not copied lie in strips kept as they are, unless the bytes
        // cannot be reused after all: then they are the previous TIFF's.
        std::vector<uint8_t> previousPixels;
        const ImageCodecs::RowFiller rows = [&](int64_t first, int64_t end, uint8_t* rgba) {
            for (int64_t y = first; y < end; ++y) {
                uint8_t* out = rgba + size_t((y - first) * rowBytes);
                if (const int64_t offset = rowOffsets_[size_t(y)]; offset >= 0) {
                    imaging::kernels::restoreStraightRgba8(
                        reinterpret_cast<const std::byte*>(pixels_.get() + offset), size_t(width_),
                        reinterpret_cast<std::byte*>(out));
                } else {
                    precondition(!previousPixels.empty(), "A row the save did not copy");
                    std::copy_n(previousPixels.data() + size_t(y * rowBytes), rowBytes, out);
                }
            }
        };
        SharedBytes made;
        if (!previous_.empty()) {
            if (auto strips = ImageCodecs::reencodeTiff(previous_.span(), changedRows_, width_,
                                                        height_, true, rows, tiffProperties())) {
                const auto owner = std::make_shared<const LargeBytes>(std::move(*strips));
                made = SharedBytes(owner, *owner);
            } else {
                const auto reader = codec::TiffStripReader::open(
                    previous_.span(), ColorManagement::workingColorSpace()->iccData());
                precondition(reader.has_value(), "A kept TIFF no longer readable by strips");
                previousPixels.resize(size_t(height_ * rowBytes));
                reader->decode(0, reader->strips(), [&](uint32_t y) {
                    return previousPixels.data() + size_t(int64_t(y) * rowBytes);
                });
            }
        }
        if (made.empty()) {
            made =
                SharedBytes(ImageCodecs::encodeTiff(width_, height_, true, rows, tiffProperties()));
        }
        pixels_.reset();
        previous_.clear();
        return made;
    });
}

void RasterLayerPatch::DeferredTiff::abandon() {
    settle([]() -> SharedBytes {
        throw std::runtime_error("The patch's pixels were never encoded.");
    });
}

SharedBytes RasterLayerPatch::DeferredTiff::bytes() const {
    return bytes_.get();
}

std::shared_ptr<RasterLayerPatch::DeferredTiff> RasterLayerPatch::deferCache() {
    waitForCommittedWork();
    return copyForTiff();
}

std::vector<std::shared_ptr<RasterLayerPatch::DeferredTiff>>
RasterLayerPatch::deferCaches(const std::vector<std::shared_ptr<RasterLayerPatch>>& patches) {
    waitForCommittedWork();
    std::vector<std::shared_ptr<DeferredTiff>> made(patches.size());
    tbb::parallel_for(size_t(0), patches.size(),
                      [&](size_t i) { made[i] = patches[i]->copyForTiff(); });
    std::erase(made, nullptr);
    return made;
}

std::shared_ptr<RasterLayerPatch::DeferredTiff> RasterLayerPatch::copyForTiff() {
    adoptDeferred();
    if (cacheIsCurrent()) {
        return nullptr;
    }
    if (texture_->pixelFormat() != MTLPixelFormat::rgba8Unorm) {
        renderCache();
        return nullptr;
    }
    const uint64_t generation = texture_->contentGeneration();
    const MTLTextureContents c = texture_->contentsForReading();
    auto tiff = std::shared_ptr<DeferredTiff>(new DeferredTiff());
    tiff->width_ = c.width;
    tiff->height_ = c.height;
    std::vector<bool> copied(size_t(c.height), true);
    // A cache let go of with the pixels unchanged is made whole, as in renderCache.
    if (cachedGeneration_ && *cachedGeneration_ != generation && !encodedTiff_.empty()) {
        const auto rows = changedFileRows(*texture_, *cachedGeneration_);
        const auto stripRows =
            rows ? stripRowsToKeep(encodedTiff_.span(), c.width, c.height) : std::nullopt;
        if (stripRows) {
            std::vector<bool> changed(size_t(c.height), false);
            for (const auto& [first, end] : *rows) {
                const int64_t a = std::clamp<int64_t>(first, 0, c.height);
                const int64_t b = std::clamp<int64_t>(end, a, c.height);
                if (b > a) {
                    // Every row of the strips these rows meet.
                    const int64_t from = a - a % *stripRows;
                    const int64_t to =
                        std::min(c.height, (b + *stripRows - 1) / *stripRows * *stripRows);
                    std::fill(changed.begin() + from, changed.begin() + to, true);
                }
            }
            copied = std::move(changed);
            tiff->previous_ = encodedTiff_;
            tiff->changedRows_ = *rows;
        }
    }
    // A whole TIFF is made here: a copy of every row would cost as much, in
    // memory of its size touched for the first time.
    if (tiff->previous_.empty()) {
        renderCache();
        return nullptr;
    }
    const size_t rowBytes = size_t(4 * c.width);
    tiff->rowOffsets_.assign(size_t(c.height), -1);
    std::vector<int64_t> rows;
    for (int64_t y = 0; y < c.height; ++y) {
        if (copied[size_t(y)]) {
            tiff->rowOffsets_[size_t(y)] = int64_t(rows.size() * rowBytes);
            rows.push_back(y);
        }
    }
    tiff->pixels_.reset(new uint8_t[std::max<size_t>(1, rows.size() * rowBytes)]);
    tbb::parallel_for(size_t(0), rows.size(), [&](size_t i) {
        // Files are top row first; texture row 0 is the bottom.
        std::memcpy(tiff->pixels_.get() + i * rowBytes, c.row(c.height - 1 - rows[i]), rowBytes);
    });
    cachedGeneration_ = generation;
    cachedTiffData = tiff->standIn_;
    encodedTiff_.clear();
    deferred_ = tiff;
    return tiff;
}

void RasterLayerPatch::adoptDeferred() {
    if (!deferred_) {
        return;
    }
    const auto tiff = std::move(deferred_);
    deferred_.reset();
    const bool letGo = cachedTiffData.data() != tiff->standIn().data();
    try {
        encodedTiff_ = tiff->bytes();
        // Let go of meanwhile: kept only for its unchanged strips.
        cachedTiffData = letGo ? SharedBytes() : encodedTiff_;
    } catch (...) {
        // Never made: the next TIFF is made whole.
        cachedGeneration_.reset();
        cachedTiffData.clear();
        encodedTiff_.clear();
    }
}

bool RasterLayerPatch::cacheIsCurrent() const {
    return !cachedTiffData.empty() && cachedGeneration_ == texture_->contentGeneration();
}

void RasterLayerPatch::renderCache() {
    // The count before the render: a write that lands during it is seen next time.
    const uint64_t generation = texture_->contentGeneration();
    std::optional<LargeBytes> strips;
    // A cache let go of with the pixels unchanged is rendered whole.
    if (cachedGeneration_ && *cachedGeneration_ != generation) {
        strips = reencodeStraightRows(*texture_, encodedTiff_, *cachedGeneration_);
    }
    if (strips) {
        const auto owner = std::make_shared<const LargeBytes>(std::move(*strips));
        cachedTiffData = SharedBytes(owner, *owner);
    } else {
        cachedTiffData = SharedBytes(renderTiff(texture_));
    }
    cachedGeneration_ = generation;
    encodedTiff_ = cachedTiffData;
}

void RasterLayerPatch::refreshCache() {
    waitForCommittedWork();
    adoptDeferred();
    if (!cacheIsCurrent()) {
        renderCache();
    }
}

void RasterLayerPatch::refreshCaches(
    const std::vector<std::shared_ptr<RasterLayerPatch>>& patches) {
    waitForCommittedWork();
    // Only changed patches are rendered; each render also splits its own work.
    tbb::parallel_for_each(patches.begin(), patches.end(),
                           [](const std::shared_ptr<RasterLayerPatch>& patch) {
                               patch->adoptDeferred();
                               if (!patch->cacheIsCurrent()) {
                                   patch->renderCache();
                               }
                           });
}

void RasterLayerPatch::encode(Encoder& encoder) {
    // Contents moved this far could be written but never read back.
    if (!isReadable(origin, texture_->width(), texture_->height())) {
        throw EncodingError::invalidValue(
            description(), {encoder.codingPath(), "The patch lies outside the readable range."});
    }
    const bool* refreshed = userInfoValue<bool>(encoder.userInfo(), cachesRefreshedKey);
    const bool* deferred = userInfoValue<bool>(encoder.userInfo(), tiffsDeferredKey);
    const bool standIn = deferred_ && deferred && *deferred;
    if (!standIn && (!refreshed || !*refreshed || cachedTiffData.empty() || !cachedGeneration_)) {
        refreshCache();
    }
    KeyedEncodingContainer container = encoder.container();
    container.encode(standIn ? deferred_->standIn() : cachedTiffData, kTextureKey);
    container.encode(origin, kOriginKey);
    container.encode(name(), kNameKey);
}

std::shared_ptr<RasterLayerPatch> RasterLayerPatch::decode(Decoder& decoder) {
    const KeyedDecodingContainer container = decoder.container();
    // Shared with the archive's buffer (the mapped file when read from one).
    SharedBytes bytes = container.decode<SharedBytes>(kTextureKey);
    // The header alone tells the size: refuse before decoding any pixel.
    const ImageInfo info = readPatchInfo(bytes.span());
    const auto* uploads =
        userInfoValue<std::shared_ptr<PatchUploads>>(decoder.userInfo(), uploadsKey);
    std::shared_ptr<NSBitmapImageRep> bitmap;
    if (!uploads || !*uploads) {
        bitmap = decodePatchImage(bytes.span(), info);
    }
    const MTLOrigin origin = container.decode<MTLOrigin>(kOriginKey);
    const std::string name = container.decode<std::string>(kNameKey);
    if (!isReadable(origin, info.pixelsWide, info.pixelsHigh)) {
        throw Error("A patch lies too far away: " + velmora::description(origin) + ".");
    }
    if (bitmap) {
        auto patch = make(origin, info.pixelsWide, info.pixelsHigh, name);
        patch->cachedTiffData = std::move(bytes);
        patch->encodedTiff_ = patch->cachedTiffData;
        patch->upload(*bitmap);
        return patch;
    }
    // Every pixel is written by the uploads, so the new texture is not cleared
    // first: its memory stays untouched until they write it.
    auto texture = MetalHelper::shared()->makeTexture(
        {info.pixelsWide, info.pixelsHigh, 1}, MTLTextureUsage::shaderReadWrite,
        MTLStorageMode::private_, MTLPixelFormat::rgba8Unorm, name);
    auto patch = std::make_shared<RasterLayerPatch>(origin, std::move(texture));
    patch->cachedTiffData = std::move(bytes);
    patch->encodedTiff_ = patch->cachedTiffData;
    (*uploads)->add(patch);
    return patch;
}

void RasterLayerPatch::upload(const NSBitmapImageRep& bitmap) {
    MetalHelper& helper = *MetalHelper::shared();
    const auto commandBuffer = helper.commandQueue()->commandBuffer();
    helper.paste(bitmap, texture_, ColorManagement::workingColorSpace(), commandBuffer);
    commandBuffer->commit();
    // The bytes read are the cache only for the pixels the upload leaves.
    commandBuffer->waitUntilCompleted();
    cachedGeneration_ = texture_->contentGeneration();
}

namespace {

// One task of the uploads (many for a large patch, so that one patch alone
// keeps every core busy): strips of a patch decoded straight into its
// texture, or a whole patch decoded as a bitmap for the GPU to convert.
struct UploadTask {
    std::size_t patch = 0;
    uint32_t firstStrip = 0, endStrip = 0;
};

} // namespace

void PatchUploads::run() {
    const std::size_t count = pending_.size();
    const auto profile = ColorManagement::workingColorSpace()->iccData();
    std::vector<std::optional<codec::TiffStripReader>> readers(count);
    std::vector<MTLTextureContents> targets(count);
    std::vector<std::exception_ptr> errors(count);
    std::vector<UploadTask> tasks;
    for (std::size_t i = 0; i < count; ++i) {
        const auto& patch = pending_[i];
        try {
            readers[i] = codec::TiffStripReader::open(patch->cachedTiffData.span(), profile);
        } catch (const ImageCodecError& error) {
            errors[i] = std::make_exception_ptr(RasterLayerPatch::Error(
                std::string("A patch holds no readable image: ") + error.what()));
            continue;
        }
        const auto& reader = readers[i];
        if (!reader) {
            tasks.push_back({i, 0, 0});
            continue;
        }
        if (reader->width() != uint64_t(patch->texture_->width()) ||
            reader->height() != uint64_t(patch->texture_->height())) {
            errors[i] = std::make_exception_ptr(
                RasterLayerPatch::Error("A patch's image is not the size its header gives."));
            continue;
        }
        targets[i] = patch->texture_->contents();
        const size_t stripBytes = size_t(reader->width()) * 4 * reader->rowsPerStrip();
        const uint32_t perTask = uint32_t(std::max<size_t>(1, taskBytes_ / stripBytes));
        for (uint32_t s = 0; s < reader->strips(); s += perTask) {
            tasks.push_back({i, s, std::min(reader->strips(), s + perTask)});
        }
    }
    std::vector<std::shared_ptr<NSBitmapImageRep>> bitmaps(count);
    std::vector<std::exception_ptr> taskErrors(tasks.size());
    tbb::parallel_for(
        tbb::blocked_range<std::size_t>(0, tasks.size(), 1),
        [&](const tbb::blocked_range<std::size_t>& range) {
            for (std::size_t t = range.begin(); t != range.end(); ++t) {
                const UploadTask& task = tasks[t];
                const auto& patch = pending_[task.patch];
                try {
                    if (const auto& reader = readers[task.patch]) {
                        const MTLTextureContents& target = targets[task.patch];
                        // Files are top row first; texture row 0 is the bottom.
                        reader->decode(task.firstStrip, task.endStrip, [&](uint32_t y) {
                            return target.row(target.height - 1 - int64_t(y));
                        });
                    } else {
                        const ImageInfo info = readPatchInfo(patch->cachedTiffData.span());
                        bitmaps[task.patch] = decodePatchImage(patch->cachedTiffData.span(), info);
                    }
                } catch (const ImageCodecError& error) {
                    taskErrors[t] = std::make_exception_ptr(RasterLayerPatch::Error(
                        std::string("A patch holds no readable image: ") + error.what()));
                } catch (...) {
                    taskErrors[t] = std::current_exception();
                }
            }
        },
        tbb::simple_partitioner());
    for (std::size_t t = 0; t < tasks.size(); ++t) {
        if (taskErrors[t] && !errors[tasks[t].patch]) {
            errors[tasks[t].patch] = taskErrors[t];
        }
    }
    for (const auto& error : errors) {
        if (error) {
            std::rethrow_exception(error);
        }
    }
    // Images in another form go through the GPU's conversion, as one patch does alone.
    MetalHelper& helper = *MetalHelper::shared();
    std::vector<std::shared_ptr<MTLCommandBuffer>> commandBuffers;
    for (std::size_t i = 0; i < count; ++i) {
        if (bitmaps[i]) {
            commandBuffers.push_back(helper.commandQueue()->commandBuffer());
            helper.paste(*bitmaps[i], pending_[i]->texture_, ColorManagement::workingColorSpace(),
                         commandBuffers.back());
            commandBuffers.back()->commit();
        }
    }
    for (const auto& commandBuffer : commandBuffers) {
        commandBuffer->waitUntilCompleted();
    }
    bitmaps.clear();
    for (const auto& patch : pending_) {
        patch->cachedGeneration_ = patch->texture_->contentGeneration();
    }
    pending_.clear();
}

} // namespace velmora
