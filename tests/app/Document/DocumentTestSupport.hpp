#pragma once

#include "graphics/ImageCodecs.hpp"
#include "platform/graphics/GeneratedImages.hpp"
#include "platform/graphics/TestPictures.hpp"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

namespace velmora::test {

// A PNG of zero samples, for the header checks.
inline std::vector<uint8_t> blankPng(uint32_t width, uint32_t height, int bits = 8,
                                     int colorType = PNG_COLOR_TYPE_RGB) {
    const int channels = colorType == PNG_COLOR_TYPE_RGB    ? 3
                         : colorType == PNG_COLOR_TYPE_RGBA ? 4
                                                            : 1;
    PngSpec spec;
    spec.width = width;
    spec.height = height;
    spec.bits = bits;
    spec.colorType = colorType;
    spec.rows.assign(height, std::vector<uint8_t>(size_t(width) * channels * (bits / 8)));
    return makePng(spec);
}

// 3 x 2 pictures of the read-only kinds.
inline std::vector<uint8_t> tinyGif() {
    GifSpec gif;
    gif.colors = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    gif.indices = {1, 2, 3, 0, 1, 2};
    return makeGif(gif);
}

inline std::vector<uint8_t> tinyBmp() {
    return makeBmp({.pixels = std::vector<uint8_t>(24, 0x80)});
}

inline std::vector<uint8_t> pngOf(const NSBitmapImageRep& bitmap) {
    return ImageCodecs::encode(bitmap, NSBitmapImageFileType::png);
}

inline void writeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::vector<uint8_t> readFile(const std::filesystem::path& path) {
    std::ifstream stream(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

} // namespace velmora::test
