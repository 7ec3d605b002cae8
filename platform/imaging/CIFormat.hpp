#pragma once

#include "imaging/PixelStorage.hpp"

#include <cstddef>

namespace velmora {

// Pixel layouts of bitmap data going in and out of the image graph.
enum class CIFormat { RGBA8, BGRA8, RGBAh, RGBAf };

inline constexpr imaging::StorageFormat storageFormat(CIFormat f) {
    switch (f) {
    case CIFormat::RGBA8:
        return imaging::StorageFormat::rgba8;
    case CIFormat::BGRA8:
        return imaging::StorageFormat::bgra8;
    case CIFormat::RGBAh:
        return imaging::StorageFormat::rgba16Float;
    case CIFormat::RGBAf:
        return imaging::StorageFormat::rgba32Float;
    }
    return imaging::StorageFormat::rgba8;
}

inline constexpr size_t bytesPerPixel(CIFormat f) {
    return imaging::bytesPerPixel(storageFormat(f));
}

} // namespace velmora
