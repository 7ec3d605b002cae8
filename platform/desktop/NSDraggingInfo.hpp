#pragma once

#include "desktop/NSFilePromiseReceiver.hpp"
#include "desktop/NSPasteboard.hpp"
#include "graphics/CGGeometry.hpp"

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <variant>
#include <vector>

class QDropEvent;

namespace velmora {

enum class NSDragOperation : uint64_t {
    none = 0,
    copy = 1,
    link = 2,
    generic = 4,
    privateOperation = 8,
    move = 16,
    deleteOperation = 32,
    every = ~uint64_t(0),
};

constexpr NSDragOperation operator|(NSDragOperation a, NSDragOperation b) {
    return NSDragOperation(uint64_t(a) | uint64_t(b));
}
constexpr bool contains(NSDragOperation mask, NSDragOperation operation) {
    return (uint64_t(mask) & uint64_t(operation)) == uint64_t(operation);
}

// The content type every image file conforms to.
inline const std::string kUTTypeImage = "public.image";

// What a drag over a view offers: its pasteboard, where it is, and what its
// source allows.
class NSDraggingInfo {
public:
    NSDraggingInfo(NSPasteboard pasteboard, CGPoint draggingLocation,
                   NSDragOperation sourceOperationMask, QWidget* destinationWindow = nullptr,
                   QObject* source = nullptr);

    // From a drag-enter, drag-move or drop event delivered to `receiver`.
    static NSDraggingInfo fromDropEvent(const QDropEvent& event, const QWidget& receiver);

    const NSPasteboard& draggingPasteboard() const { return pasteboard_; }
    // In the destination window's points, y up.
    CGPoint draggingLocation() const { return location_; }
    QWidget* draggingDestinationWindow() const { return window_.data(); }
    NSDragOperation draggingSourceOperationMask() const { return mask_; }
    // The dragging widget when the drag started in this application.
    QObject* draggingSource() const { return source_.data(); }

    // `draggingLocation` in the points of `view`, y up from its bottom left.
    CGPoint location(const QWidget& view) const;

    enum class ItemClass { filePromiseReceiver, url };
    struct SearchOptions {
        bool fileURLsOnly = false;
        // Content types a URL's file must conform to (e.g. kUTTypeImage); any when empty.
        std::vector<std::string> contentsConformToTypes;
    };
    using DraggingItem = std::variant<std::shared_ptr<NSFilePromiseReceiver>, URL>;
    // Calls `block` for each item that one of `classes` (tried in order) can be
    // read as under `options`, with the item's index; setting `stop` ends it.
    void enumerateDraggingItems(
        const std::vector<ItemClass>& classes, const SearchOptions& options,
        const std::function<void(const DraggingItem& item, size_t index, bool& stop)>& block) const;

private:
    NSPasteboard pasteboard_;
    CGPoint location_;
    NSDragOperation mask_;
    QPointer<QWidget> window_;
    QPointer<QObject> source_;
};

} // namespace velmora
