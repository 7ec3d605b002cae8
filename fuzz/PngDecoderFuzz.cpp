#include "graphics/CodecSupport.hpp"

#include <cstdlib>

// Any input either fails with ImageCodecError or decodes into a bitmap whose
// size is the one the header reported.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velmora;
    const std::span<const std::uint8_t> bytes(data, size);
    ImageDecodingLimits limits;
    limits.maxPixelCount = 1 << 20; // keeps each run fast; the limit check itself is exercised
    ImageInfo info{};
    try {
        info = codec::pngInfo(bytes);
    } catch (const ImageCodecError&) {
    }
    NSBitmapImageRepRef bitmap;
    try {
        bitmap = codec::pngDecode(bytes, limits);
    } catch (const ImageCodecError&) {
        return 0;
    }
    if (bitmap == nullptr || bitmap->pixelsWide() != info.pixelsWide ||
        bitmap->pixelsHigh() != info.pixelsHigh || bitmap->pixelLayout() != PixelLayout::rgba8) {
        std::abort();
    }
    return 0;
}
