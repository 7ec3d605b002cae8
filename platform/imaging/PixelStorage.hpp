#pragma once

#include <cstddef>
#include <cstdint>

namespace velmora::imaging {

// Sample layouts the evaluator reads and writes. 8-bit and half formats are
// unsigned-normalised or IEEE half; the float format is plain IEEE float.
enum class StorageFormat : uint8_t { rgba8, bgra8, rgba16Float, rgba32Float };

inline constexpr size_t bytesPerPixel(StorageFormat f) {
    switch (f) {
    case StorageFormat::rgba8:
    case StorageFormat::bgra8:
        return 4;
    case StorageFormat::rgba16Float:
        return 8;
    case StorageFormat::rgba32Float:
        return 16;
    }
    return 0;
}

// How alpha is stored next to colour.
enum class StoredAlpha : uint8_t { premultiplied, unpremultiplied, none };

// A view of pixel memory. Rows are bottom first (texture row r holds y = r)
// unless `topRowFirst`, as in bitmaps and files. A null `base` reads as
// transparent black (storage not yet allocated).
struct PixelStorage {
    const std::byte* base = nullptr;
    size_t bytesPerRow = 0;
    int64_t width = 0;
    int64_t height = 0;
    StorageFormat format = StorageFormat::rgba8;
    bool topRowFirst = false;
};

struct MutablePixelStorage {
    std::byte* base = nullptr;
    size_t bytesPerRow = 0;
    int64_t width = 0;
    int64_t height = 0;
    StorageFormat format = StorageFormat::rgba8;
    bool topRowFirst = false;
    StoredAlpha alpha = StoredAlpha::unpremultiplied;
};

} // namespace velmora::imaging
