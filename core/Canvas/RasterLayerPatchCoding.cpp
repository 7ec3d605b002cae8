#include "Canvas/RasterLayerPatch.hpp"
#include "MetalExtensions/MTLGeometryCoding.hpp"
#include "Rendering/MetalHelper.hpp"
#include "graphics/ColorManagement.hpp"
#include "graphics/ImageCodecs.hpp"
#include "imaging/CIContext.hpp"

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

} // namespace

std::vector<uint8_t> RasterLayerPatch::tiffData() const {
    // Bitmap renders read the texture at once: let every committed write land.
    MetalHelper::shared()->execute([](MetalHelper&, const std::shared_ptr<MTLCommandBuffer>&) {});
    CIImageOptions options;
    options.colorSpace = ColorManagement::workingColorSpace();
    const auto image = CIImage::withTexture(texture_, options);
    precondition(image.has_value(), "A patch texture gives no image");
    CIContextOptions contextOptions;
    contextOptions.outputPremultiplied = false;
    const CIContext context(contextOptions);
    const auto bitmap =
        context.createBitmap(image->premultiplyingAlpha(),
                             {{0, 0}, {CGFloat(texture_->width()), CGFloat(texture_->height())}});
    precondition(bitmap != nullptr, "A patch texture gives no bitmap");
    ImageEncodingProperties properties;
    properties.compressionMethod = kLZWCompression;
    properties.colorSyncProfileData = ColorManagement::workingColorSpace()->iccData();
    return ImageCodecs::encode(*bitmap, NSBitmapImageFileType::tiff, properties);
}

void RasterLayerPatch::encode(Encoder& encoder) {
    // Contents moved this far could be written but never read back.
    if (!isReadable(origin, texture_->width(), texture_->height())) {
        throw EncodingError::invalidValue(
            description(), {encoder.codingPath(), "The patch lies outside the readable range."});
    }
    if (cachedTiffData.empty()) {
        cachedTiffData = tiffData();
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
    ImageInfo info;
    try {
        info = ImageCodecs::readInfo(bytes);
    } catch (const ImageCodecError& error) {
        throw Error(std::string("A patch holds no readable image: ") + error.what());
    }
    if (info.pixelsWide < 1 || info.pixelsHigh < 1 || info.pixelsWide > maximumSide ||
        info.pixelsHigh > maximumSide) {
        throw Error("A patch of " + std::to_string(info.pixelsWide) + " x " +
                    std::to_string(info.pixelsHigh) + " pixels is larger than any texture.");
    }
    const auto bitmap = NSBitmapImageRep::imageRepWithData(bytes);
    if (!bitmap) {
        throw Error("A patch holds no readable image.");
    }
    const MTLOrigin origin = container.decode<MTLOrigin>(kOriginKey);
    const std::string name = container.decode<std::string>(kNameKey);
    if (!isReadable(origin, bitmap->pixelsWide(), bitmap->pixelsHigh())) {
        throw Error("A patch lies too far away: " + velmora::description(origin) + ".");
    }
    auto patch = make(origin, bitmap->pixelsWide(), bitmap->pixelsHigh(), name);
    MetalHelper& helper = *MetalHelper::shared();
    const auto commandBuffer = helper.commandQueue()->commandBuffer();
    helper.paste(*bitmap, patch->texture_, ColorManagement::workingColorSpace(), commandBuffer);
    commandBuffer->commit();
    patch->cachedTiffData = std::move(bytes);
    return patch;
}

} // namespace velmora
