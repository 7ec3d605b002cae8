#include "Document/Viewers/StrokeSnapshot.hpp"

#include "MetalExtensions/MTLOriginExtensions.hpp"
#include "MetalExtensions/MTLRegionExtensions.hpp"
#include "Rendering/StrokeTiles.hpp"
#include "foundation/FatalError.hpp"
#include "graphics/ImageCodecs.hpp"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace velmora {

StrokeSnapshot::StrokeSnapshot(std::shared_ptr<NSBitmapImageRep> bitmap,
                               std::vector<MTLRegion> parts, std::shared_ptr<SnapshotStore> store,
                               bool packed)
    : bitmap_(std::move(bitmap)), parts_(std::move(parts)), store_(std::move(store)),
      packed_(packed) {
    precondition(store_ != nullptr, "A stroke's snapshot without a store");
    if (bitmap_ == nullptr) {
        return;
    }
    if (packed_) {
        precondition(bitmap_->pixelSize() == StrokeTiles::packedSize(parts_),
                     "A stroke's packed parts of another size");
        return;
    }
    const MTLRegion whole{MTLOriginZero, bitmap_->pixelSize()};
    for (const MTLRegion& part : parts_) {
        precondition(contains(whole, part), "A stroke's part outside its snapshot");
    }
}

std::shared_ptr<StrokeSnapshot> StrokeSnapshot::encode(std::shared_ptr<NSBitmapImageRep> bitmap,
                                                       std::vector<MTLRegion> parts,
                                                       const DispatchQueue& queue,
                                                       std::shared_ptr<SnapshotStore> store) {
    auto snapshot =
        std::make_shared<StrokeSnapshot>(std::move(bitmap), std::move(parts), std::move(store));
    queue.async([snapshot] { snapshot->run(); });
    return snapshot;
}

std::shared_ptr<StrokeSnapshot>
StrokeSnapshot::encodePacked(std::shared_ptr<NSBitmapImageRep> packed, std::vector<MTLRegion> parts,
                             const DispatchQueue& queue, std::shared_ptr<SnapshotStore> store) {
    auto snapshot = std::make_shared<StrokeSnapshot>(std::move(packed), std::move(parts),
                                                     std::move(store), true);
    queue.async([snapshot] { snapshot->run(); });
    return snapshot;
}

MTLRegion StrokeSnapshot::partsBounds() const {
    MTLRegion bounds{};
    for (const MTLRegion& part : parts_) {
        bounds = unionWith(bounds, part);
    }
    return bounds;
}

std::shared_ptr<NSBitmapImageRep> StrokeSnapshot::pack(const NSBitmapImageRep& bitmap,
                                                       const std::vector<MTLRegion>& parts) {
    int64_t width = 1, height = 0;
    for (const MTLRegion& part : parts) {
        width = std::max(width, part.size.width);
        height += part.size.height;
    }
    auto packed =
        NSBitmapImageRep::makeRGBA8(width, std::max<int64_t>(height, 1), bitmap.colorSpace());
    precondition(packed != nullptr, "No picture for a stroke's parts");
    int64_t row = 0;
    for (const MTLRegion& part : parts) {
        for (int64_t y = 0; y < part.size.height; ++y) {
            std::memcpy(packed->row(row + y), bitmap.row(part.origin.y + y) + 4 * part.origin.x,
                        size_t(4 * part.size.width));
        }
        row += part.size.height;
    }
    return packed;
}

void StrokeSnapshot::unpack(const NSBitmapImageRep& packed, const std::vector<MTLRegion>& parts,
                            const MTLTextureContents& to, const MTLOrigin& offset) {
    precondition(to.bytesPerPixel == 4, "Stroke parts go into 8-bit RGBA");
    int64_t row = 0;
    for (const MTLRegion& part : parts) {
        const int64_t x = part.origin.x + offset.x, y0 = part.origin.y + offset.y;
        precondition(x >= 0 && y0 >= 0 && x + part.size.width <= to.width &&
                         y0 + part.size.height <= to.height &&
                         row + part.size.height <= packed.pixelsHigh() &&
                         part.size.width <= packed.pixelsWide(),
                     "A stroke's part outside the texture");
        for (int64_t y = 0; y < part.size.height; ++y) {
            std::memcpy(to.row(y0 + y) + 4 * x, packed.row(row + y), size_t(4 * part.size.width));
        }
        row += part.size.height;
    }
}

void StrokeSnapshot::run() {
    // A second caller waits here until the first has finished.
    std::call_once(once_, [this] {
        std::shared_ptr<NSBitmapImageRep> bitmap;
        {
            const std::lock_guard lock(mutex_);
            bitmap = std::move(bitmap_);
        }
        std::shared_ptr<SnapshotStore::Item> item;
        std::exception_ptr error;
        try {
            ImageEncodingProperties properties;
            properties.compressionMethod = 5; // LZW
            const auto packed = bitmap == nullptr ? nullptr
                                : packed_         ? std::move(bitmap)
                                                  : pack(*bitmap, parts_);
            auto encoded = packed ? packed->representation(NSBitmapImageFileType::tiff, properties)
                                  : std::nullopt;
            if (encoded) {
                item = store_->keep(std::move(*encoded));
            } else {
                error = std::make_exception_ptr(std::runtime_error("Stroke snapshot not encoded"));
            }
        } catch (...) {
            error = std::current_exception();
        }
        const std::lock_guard lock(mutex_);
        item_ = std::move(item);
        error_ = error;
        done_ = true;
    });
}

SnapshotStore::Bytes StrokeSnapshot::data() {
    run();
    std::shared_ptr<SnapshotStore::Item> item;
    {
        const std::lock_guard lock(mutex_);
        if (error_) {
            std::rethrow_exception(error_);
        }
        item = item_;
    }
    return item->bytes();
}

bool StrokeSnapshot::isEncoded() const {
    const std::lock_guard lock(mutex_);
    return done_;
}

std::function<std::shared_ptr<NSBitmapImageRep>()>
StrokeSnapshot::decodeSoon(std::shared_ptr<StrokeSnapshot> snapshot, const DispatchQueue& queue) {
    struct Decoding {
        std::once_flag once;
        std::shared_ptr<StrokeSnapshot> snapshot;
        std::shared_ptr<NSBitmapImageRep> packed;
        std::exception_ptr error;
        std::shared_ptr<NSBitmapImageRep> get() {
            std::call_once(once, [this] {
                try {
                    packed = NSBitmapImageRep::imageRepWithData(*snapshot->data());
                    if (packed == nullptr) {
                        throw std::runtime_error("A stroke's snapshot could not be read back");
                    }
                } catch (...) {
                    error = std::current_exception();
                }
                snapshot = nullptr;
            });
            if (error) {
                std::rethrow_exception(error);
            }
            return packed;
        }
    };
    auto decoding = std::make_shared<Decoding>();
    decoding->snapshot = std::move(snapshot);
    queue.async([decoding] {
        try {
            (void)decoding->get();
        } catch (const std::exception&) {
            // Told to whoever asks for the pixels.
        }
    });
    return [decoding] { return decoding->get(); };
}

} // namespace velmora
