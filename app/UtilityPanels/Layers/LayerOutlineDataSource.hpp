#pragma once

#include "desktop/NSDraggingInfo.hpp"
#include "desktop/NSPasteboardItem.hpp"

#include <cstdint>
#include <optional>

namespace velmora {

class LayerNode;

// Where the layers outline's drags come from and its drops go. `item` is the
// group whose children a drop falls between, none for the top level;
// `childIndex` is the row from the top, −1 for a drop onto `item` itself.
class LayerOutlineDataSource {
public:
    virtual ~LayerOutlineDataSource() = default;
    // None: the row cannot be dragged.
    virtual std::optional<NSPasteboardItem> pasteboardWriter(const LayerNode& node) = 0;
    virtual NSDragOperation validateDrop(const NSDraggingInfo& info, const LayerNode* item,
                                         int64_t childIndex) = 0;
    virtual bool acceptDrop(const NSDraggingInfo& info, const LayerNode* item,
                            int64_t childIndex) = 0;
};

} // namespace velmora
