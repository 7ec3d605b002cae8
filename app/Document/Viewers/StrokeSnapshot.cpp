#include "Document/Viewers/StrokeSnapshot.hpp"

#include "graphics/ImageCodecs.hpp"

#include <stdexcept>

namespace velmora {

StrokeSnapshot::StrokeSnapshot(std::shared_ptr<NSBitmapImageRep> bitmap)
    : bitmap_(std::move(bitmap)) {}

std::shared_ptr<StrokeSnapshot> StrokeSnapshot::encode(std::shared_ptr<NSBitmapImageRep> bitmap,
                                                       const DispatchQueue& queue) {
    auto snapshot = std::make_shared<StrokeSnapshot>(std::move(bitmap));
    queue.async([snapshot] { snapshot->run(); });
    return snapshot;
}

void StrokeSnapshot::run() {
    // A second caller waits here until the first has finished.
    std::call_once(once_, [this] {
        std::shared_ptr<NSBitmapImageRep> bitmap;
        {
            const std::lock_guard lock(mutex_);
            bitmap = std::move(bitmap_);
        }
        std::vector<uint8_t> data;
        std::exception_ptr error;
        try {
            ImageEncodingProperties properties;
            properties.compressionMethod = 5; // LZW
            auto encoded = bitmap ? bitmap->representation(NSBitmapImageFileType::tiff, properties)
                                  : std::nullopt;
            if (encoded) {
                data = std::move(*encoded);
            } else {
                error = std::make_exception_ptr(std::runtime_error("Stroke snapshot not encoded"));
            }
        } catch (...) {
            error = std::current_exception();
        }
        const std::lock_guard lock(mutex_);
        data_ = std::move(data);
        error_ = error;
        done_ = true;
    });
}

const std::vector<uint8_t>& StrokeSnapshot::data() {
    run();
    const std::lock_guard lock(mutex_);
    if (error_) {
        std::rethrow_exception(error_);
    }
    return data_;
}

bool StrokeSnapshot::isEncoded() const {
    const std::lock_guard lock(mutex_);
    return done_;
}

} // namespace velmora
