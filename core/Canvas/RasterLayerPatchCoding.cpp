#include "Canvas/RasterLayerPatch.hpp"
#include "MetalExtensions/MTLGeometryCoding.hpp"
#include "Rendering/MetalHelper.hpp"
#include "graphics/ColorManagement.hpp"
#include "graphics/ImageCodecs.hpp"
#include "imaging/CIContext.hpp"
#include "imaging/PixelKernels.hpp"

#include <tbb/parallel_for.h>
#include <tbb/parallel_for_each.h>

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
std::vector<uint8_t> encodeStraightRows(MTLTexture& texture) {
    const MTLTextureContents c = texture.contentsForReading();
    precondition(c.data != nullptr && c.bytesPerRow >= 4 * c.width, "A patch without pixels");
    return ImageCodecs::encodeTiff(
        c.width, c.height, true,
        [&c](int64_t first, int64_t end, uint8_t* rgba) {
            for (int64_t y = first; y < end; ++y) {
                // Files are top row first; texture row 0 is the bottom.
                imaging::kernels::restoreStraightRgba8(
                    reinterpret_cast<const std::byte*>(c.row(c.height - 1 - y)), size_t(c.width),
                    reinterpret_cast<std::byte*>(rgba + size_t(y - first) * size_t(c.width) * 4));
            }
        },
        tiffProperties());
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

bool RasterLayerPatch::cacheIsCurrent() const {
    return !cachedTiffData.empty() && cachedGeneration_ == texture_->contentGeneration();
}

void RasterLayerPatch::renderCache() {
    // The count before the render: a write that lands during it is seen next time.
    const uint64_t generation = texture_->contentGeneration();
    cachedTiffData = SharedBytes(renderTiff(texture_));
    cachedGeneration_ = generation;
}

void RasterLayerPatch::refreshCache() {
    waitForCommittedWork();
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
    if (!refreshed || !*refreshed || cachedTiffData.empty() || !cachedGeneration_) {
        refreshCache();
    }
    KeyedEncodingContainer container = encoder.container();
    container.encode(cachedTiffData, kTextureKey);
    container.encode(origin, kOriginKey);
    container.encode(name(), kNameKey);
}

std::shared_ptr<RasterLayerPatch> RasterLayerPatch::decode(Decoder& decoder) {
    const KeyedDecodingContainer container = decoder.container();
    auto bytes = container.decode<std::vector<uint8_t>>(kTextureKey);
    // The header alone tells the size: refuse before decoding any pixel.
    const ImageInfo info = readPatchInfo(bytes);
    const auto* uploads =
        userInfoValue<std::shared_ptr<PatchUploads>>(decoder.userInfo(), uploadsKey);
    std::shared_ptr<NSBitmapImageRep> bitmap;
    if (!uploads || !*uploads) {
        bitmap = decodePatchImage(bytes, info);
    }
    const MTLOrigin origin = container.decode<MTLOrigin>(kOriginKey);
    const std::string name = container.decode<std::string>(kNameKey);
    if (!isReadable(origin, info.pixelsWide, info.pixelsHigh)) {
        throw Error("A patch lies too far away: " + velmora::description(origin) + ".");
    }
    auto patch = make(origin, info.pixelsWide, info.pixelsHigh, name);
    patch->cachedTiffData = SharedBytes(std::move(bytes));
    if (bitmap) {
        patch->upload(*bitmap);
    } else {
        (*uploads)->add(patch);
    }
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

void PatchUploads::run() {
    std::vector<std::shared_ptr<NSBitmapImageRep>> bitmaps(pending_.size());
    std::vector<std::exception_ptr> errors(pending_.size());
    tbb::parallel_for(std::size_t(0), pending_.size(), [&](std::size_t i) {
        try {
            const auto& patch = pending_[i];
            const ImageInfo info = readPatchInfo(patch->cachedTiffData.span());
            bitmaps[i] = decodePatchImage(patch->cachedTiffData.span(), info);
        } catch (...) {
            errors[i] = std::current_exception();
        }
    });
    for (const auto& error : errors) {
        if (error) {
            std::rethrow_exception(error);
        }
    }
    MetalHelper& helper = *MetalHelper::shared();
    std::vector<std::shared_ptr<MTLCommandBuffer>> commandBuffers;
    for (std::size_t i = 0; i < pending_.size(); ++i) {
        commandBuffers.push_back(helper.commandQueue()->commandBuffer());
        helper.paste(*bitmaps[i], pending_[i]->texture_, ColorManagement::workingColorSpace(),
                     commandBuffers.back());
        commandBuffers.back()->commit();
    }
    for (std::size_t i = 0; i < pending_.size(); ++i) {
        commandBuffers[i]->waitUntilCompleted();
        bitmaps[i].reset();
    }
    for (const auto& patch : pending_) {
        patch->cachedGeneration_ = patch->texture_->contentGeneration();
    }
    pending_.clear();
}

} // namespace velmora
