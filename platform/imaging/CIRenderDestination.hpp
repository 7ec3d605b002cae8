#pragma once

#include "imaging/CIFormat.hpp"
#include "imaging/PixelStorage.hpp"

#include <cstdint>

namespace velmora {

enum class CIRenderDestinationAlphaMode { none, premultiplied, unpremultiplied };

// Where a render task writes: bitmap memory (first row the top of the
// picture) owned by the caller, which must outlive the task.
class CIRenderDestination {
public:
    CIRenderDestination(void* data, int64_t width, int64_t height, size_t bytesPerRow,
                        CIFormat format);

    int64_t width() const { return width_; }
    int64_t height() const { return height_; }
    CIFormat format() const { return format_; }

    CIRenderDestinationAlphaMode alphaMode() const { return alphaMode_; }
    void setAlphaMode(CIRenderDestinationAlphaMode mode) { alphaMode_ = mode; }

    imaging::MutablePixelStorage storage() const;

private:
    void* data_;
    int64_t width_;
    int64_t height_;
    size_t bytesPerRow_;
    CIFormat format_;
    CIRenderDestinationAlphaMode alphaMode_ = CIRenderDestinationAlphaMode::premultiplied;
};

imaging::StoredAlpha storedAlpha(CIRenderDestinationAlphaMode mode);

} // namespace velmora
