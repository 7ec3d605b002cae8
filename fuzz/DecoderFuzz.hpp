#pragma once

#include "graphics/CodecSupport.hpp"

#include <cstdlib>

// Any input either fails with ImageCodecError or decodes into a bitmap whose
// size is the one the header reported.
template <typename Info, typename Decode>
int fuzzDecoder(const std::uint8_t* data, std::size_t size, Info info, Decode decode) {
    using namespace velmora;
    const std::span<const std::uint8_t> bytes(data, size);
    ImageDecodingLimits limits;
    limits.maxPixelCount = 1 << 20; // keeps each run fast; the limit check itself is exercised
    ImageInfo header{};
    try {
        header = info(bytes);
    } catch (const ImageCodecError&) {
    }
    NSBitmapImageRepRef bitmap;
    try {
        bitmap = decode(bytes, limits);
    } catch (const ImageCodecError&) {
        return 0;
    }
    if (bitmap == nullptr || bitmap->pixelsWide() != header.pixelsWide ||
        bitmap->pixelsHigh() != header.pixelsHigh || bitmap->pixelLayout() != PixelLayout::rgba8) {
        std::abort();
    }
    return 0;
}
