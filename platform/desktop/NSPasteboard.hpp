#pragma once

#include "desktop/NSPasteboardItem.hpp"
#include "foundation/URL.hpp"

#include <memory>
#include <optional>
#include <vector>

class QMimeData;

namespace velmora {

// The items of a drag. In Qt's mime data the first item's types are format
// names of their own, so other programs read it; item k > 0 keeps its types
// under "<type>#<k>". File URLs travel as Qt's URL list, the k-th URL on item k.
class NSPasteboard {
public:
    NSPasteboard() = default;
    explicit NSPasteboard(std::vector<NSPasteboardItem> items) : items_(std::move(items)) {}

    const std::vector<NSPasteboardItem>& pasteboardItems() const { return items_; }
    // Every type of any item, in first-seen order.
    std::vector<NSPasteboardType> types() const;
    // The first of `types` that any item has.
    std::optional<NSPasteboardType> availableType(const std::vector<NSPasteboardType>& types) const;
    // The file URLs of the items that hold one.
    std::vector<URL> fileURLs() const;

    // Items that read `data` while it lives (during a drop).
    static NSPasteboard fromMimeData(const QMimeData& data);
    // For a QDrag, which takes it over.
    std::unique_ptr<QMimeData> makeMimeData() const;

private:
    std::vector<NSPasteboardItem> items_;
};

} // namespace velmora
