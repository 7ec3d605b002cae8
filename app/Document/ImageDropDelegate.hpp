#pragma once

#include "desktop/NSDraggingInfo.hpp"
#include "foundation/IndexPath.hpp"
#include "graphics/CGGeometry.hpp"

#include <optional>

namespace velmora {

// Takes images dropped onto a document's canvas as new layers.
class ImageDropDelegate {
public:
    virtual ~ImageDropDelegate() = default;
    // `point` is in canvas pixels; without a path the handler chooses the
    // place. True when at least one dragged item was taken.
    virtual bool performDrop(const NSDraggingInfo& info,
                             const std::optional<IndexPath>& insertionPath, CGPoint point) = 0;
};

} // namespace velmora
