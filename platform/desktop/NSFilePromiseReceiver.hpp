#pragma once

#include "desktop/NSPasteboardItem.hpp"
#include "foundation/DispatchQueue.hpp"
#include "foundation/URL.hpp"

#include <exception>
#include <functional>
#include <stdexcept>
#include <vector>

namespace velmora {

// A promised file could not be written where it was asked for.
class FilePromiseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Linux programs drag images as data, not as promises of files: a dragged item
// with image data and no file URL stands for a promised file, which receiving
// writes as a new file.
class NSFilePromiseReceiver {
public:
    // The image types a promise can carry, in order of preference.
    static const std::vector<NSPasteboardType>& readableDraggedTypes();

    // A receiver for an item that promises a file, none for any other item.
    static std::shared_ptr<NSFilePromiseReceiver> make(const NSPasteboardItem& item);

    // The MIME type of the promised file.
    const NSPasteboardType& fileType() const { return type_; }

    // Reads the data now (while the drop is handled), writes it to a new file in
    // `destination` off the calling thread, then calls `reader` on `queue` with
    // the file, or with the error that kept it from being written.
    using Reader = std::function<void(const URL& file, std::exception_ptr error)>;
    void receivePromisedFiles(const URL& destination, DispatchQueue queue, Reader reader) const;

private:
    NSFilePromiseReceiver(NSPasteboardItem item, NSPasteboardType type)
        : item_(std::move(item)), type_(std::move(type)) {}

    NSPasteboardItem item_;
    NSPasteboardType type_;
};

} // namespace velmora
