#pragma once

#include "imaging/CIContext.hpp"
#include "imaging/CIImage.hpp"

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace velmora::testing {

using Pixel8 = std::array<uint8_t, 4>;
using PixelF = std::array<float, 4>;

// Straight 8-bit RGBA rows, top row first, as an image (premultiplied on read).
inline CIImage straightImage(int64_t width, int64_t height, const std::vector<Pixel8>& pixels) {
    auto data = std::make_shared<std::vector<uint8_t>>();
    for (const Pixel8& p : pixels) {
        data->insert(data->end(), p.begin(), p.end());
    }
    return *CIImage::withBitmapData(data, size_t(width) * 4, width, height, CIFormat::RGBA8, false);
}

// One premultiplied float pixel as an image covering (0, 0, 1, 1).
inline CIImage floatPixel(const PixelF& p) {
    auto data = std::make_shared<std::vector<uint8_t>>(16);
    std::memcpy(data->data(), p.data(), 16);
    return *CIImage::withBitmapData(data, 16, 1, 1, CIFormat::RGBAf, true);
}

inline std::vector<Pixel8> render8(const CIContext& context, const CIImage& image,
                                   const CGRect& bounds) {
    const std::vector<uint8_t> bytes = context.renderBitmap(image, bounds, CIFormat::RGBA8);
    std::vector<Pixel8> out(bytes.size() / 4);
    std::memcpy(out.data(), bytes.data(), bytes.size());
    return out;
}

inline std::vector<PixelF> renderF(const CIContext& context, const CIImage& image,
                                   const CGRect& bounds) {
    const std::vector<uint8_t> bytes = context.renderBitmap(image, bounds, CIFormat::RGBAf);
    std::vector<PixelF> out(bytes.size() / 16);
    std::memcpy(out.data(), bytes.data(), bytes.size());
    return out;
}

inline CGRect rect(double x, double y, double w, double h) {
    return {{x, y}, {w, h}};
}

} // namespace velmora::testing
